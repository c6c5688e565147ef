#include "settings/settings.h"

#include <gtest/gtest.h>

#include "fakes/fake_settings.h"
#include "settings/settings_file.h"

namespace tarvik {
namespace {

using namespace testing;

const std::string kDefaultFile = "1\r\n1\r\n\"\"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n";

using Window = SettingsWindow;

TEST(Settings, NothingIsSavedBeforeTheLoadAndAFirstStartWritesTheDefaultFile) {
  Window w(std::nullopt, false);
  w.settingsReady = 0;
  w.controls.SetListIndex(Ctl::Combo1, 3);
  EXPECT_TRUE(w.store.history.empty());
  Window fresh;  // saved from the lists as filled, then read back
  EXPECT_EQ(fresh.store.content, kDefaultFile);
}

TEST(Settings, TheExampleFileAfterTheUsersChangesEachSavedAtOnce) {
  Window w;
  w.controls.SetCheckValue(Ctl::Check2, 0);
  for (auto [list, index] : {std::pair{Ctl::Combo1, 2}, {Ctl::Combo2, 5}, {Ctl::Combo4, 1}, {Ctl::Combo9, 5}})
    w.controls.SetListIndex(list, index);
  w.deviceAddress = "00:1A:7D:DA:71:13";
  w.keeper.salvaconf();
  EXPECT_EQ(w.store.content, "1\r\n0\r\n\"00:1A:7D:DA:71:13\"\r\n0,2\r\n0,0\r\n5,1\r\n0,0\r\n5\r\n");
  EXPECT_EQ(w.store.history.size(), 1u + 5 + 1);
  EXPECT_EQ(std::vector(w.events.end() - 2, w.events.end()), (std::vector<std::string>{"change Combo9", "arm"}));
  w.store.failWrites = true;  // a failed save keeps the file, and the choice for this run
  w.controls.SetListIndex(Ctl::Combo1, 7);
  EXPECT_EQ(w.Value(Ctl::Combo1), 7);
}

// The last save is made from the controls: it is the file only if every field
// reached its control (what each one shows: the settings fuzz target).
TEST(Settings, ALoadKeepsTheFileAsItWasThoughItRewritesIt) {
  const std::string file = "0\r\n1\r\n\"tcp://127.0.0.1:4000\"\r\n17,3\r\n11,2\r\n24,15\r\n13,1\r\n10\r\n";
  Window w(file);
  EXPECT_EQ(w.store.content, file);
  EXPECT_GT(w.store.history.size(), 5u);
  for (const auto& bytes : w.store.history) EXPECT_NE(bytes.find("\"tcp://127.0.0.1:4000\"\r\n"), std::string::npos);
}

TEST(SettingsFile, QuotesAndOtherLayouts) {
  EXPECT_EQ(ParseSettings(kDefaultFile).address, "");
  EXPECT_EQ(ParseSettings(FormatSettings({{}, "a\"b\r\nc"})).address, "abc");  // a quote cannot break the file
  const ParsedSettings p = ParseSettings(" 1 \n 0\n  tcp://10.0.0.5:23  \n 3 , 4 \n\"5\",6\n7,8\n9,10\n 2 ");
  const std::array<std::int16_t, kFieldCount> expected = {1, 0, 3, 4, 5, 6, 7, 8, 9, 10, 2};
  for (int f = 0; f < kFieldCount; ++f) EXPECT_EQ(p.numbers[f], expected[f]) << f;
  EXPECT_EQ(p.address, "tcp://10.0.0.5:23");
}

// The saved bytes are what the window holds after the load. Damaged files of
// every kind are the settings fuzz target's seeds.
TEST(Settings, ReadableFieldsInRangeAreUsedTheRestKeepTheirDefaults) {
  Window w("2\r\n0\r\n\"COM3\"\r\nx,4\r\n3,16\r\n");
  EXPECT_EQ(w.store.content, "1\r\n0\r\n\"COM3\"\r\n0,4\r\n3,0\r\n0,0\r\n0,0\r\n0\r\n");
  // An address a save could not write back as it was read is not read.
  for (auto address : {"COM\"5", "\"COM5"}) EXPECT_EQ(Window("1\r\n1\r\n" + std::string(address) + "\r\n").deviceAddress, "");
}

TEST(SettingsLocation, TheWindowsDirectoryWhereverItCanBeWrittenElseTheUsersFolder) {
  const auto W = SettingsPlace::WindowsDirectory, U = SettingsPlace::UserDirectory, V = SettingsPlace::VirtualStore;
  const std::tuple<bool, SettingsFiles, SettingsLocation> cases[] = {  // found: windows, user, virtualStore
      {true, {false, false, false}, {W, W}}, {true, {true, true, true}, {W, W}}, {true, {false, false, true}, {V, W}},
      {false, {true, false, false}, {W, U}}, {false, {true, true, true}, {U, U}}, {false, {false, false, false}, {U, U}},
      {false, {false, false, true}, {V, U}}, {false, {true, false, true}, {W, U}}, // the Windows directory's file first
  };
  for (const auto& [writable, found, where] : cases)
    EXPECT_EQ(ChooseSettingsLocation(writable, found), where) << writable << found.windows << found.user << found.virtualStore;
}

}  // namespace
}  // namespace tarvik
