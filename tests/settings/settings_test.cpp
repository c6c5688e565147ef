#include "settings/settings.h"

#include <gtest/gtest.h>

#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "settings/settings_file.h"
#include "wedge/option_lists.h"

namespace tarvik {
namespace {

using namespace testing;
using namespace std::string_literals;

const std::string kDefaultFile = "1\r\n1\r\n\"\"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n";
const Ctl kLists[] = {Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4, Ctl::Combo5,
                      Ctl::Combo6, Ctl::Combo7, Ctl::Combo8, Ctl::Combo9};

// One file whose writes replace it whole, or fail whole.
struct FakeStore : ISettingsStore {
  bool Exists() const override { return content.has_value(); }
  std::optional<std::string> Read() const override { return content; }
  bool Write(const std::string& bytes) override {
    if (!failWrites) history.push_back(*(content = bytes));
    return !failWrites;
  }
  std::optional<std::string> content;
  std::vector<std::string> history;
  bool failWrites = false;
};

struct Window {
  explicit Window(std::optional<std::string> file = std::nullopt, bool load = true) {
    store.content = std::move(file);
    controls.onChange = [this](Ctl c) {
      events.push_back(c == Ctl::Combo9 ? "change Combo9" : "change");
      keeper.OnControlChanged(c);
    };
    creacombo(controls, pump, settingsReady);  // the lists are filled with the flag down
    if (load) keeper.leggiconf();
  }
  int Index(Ctl l) const { return controls.ListIndex(l); }
  FakeControls controls;
  FakeClock clock;
  FakePump pump{clock};
  FakeStore store;
  FakeDecoder codePage;
  std::int16_t settingsReady = 0;
  std::string deviceAddress;
  std::vector<std::string> events;
  SettingsKeeper keeper{{controls, pump, store, codePage, settingsReady, deviceAddress,
                         [this] { events.push_back("arm"); }}};
};

TEST(Settings, NothingIsSavedBeforeTheLoadAndAFirstStartWritesTheDefaultFile) {
  Window w(std::nullopt, false);
  w.settingsReady = 0;
  w.controls.SetListIndex(Ctl::Combo1, 3);
  EXPECT_TRUE(w.store.history.empty());
  Window fresh;
  EXPECT_EQ(fresh.store.content, kDefaultFile);
  for (Ctl l : kLists) EXPECT_EQ(fresh.Index(l), 0);
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
  EXPECT_EQ(w.Index(Ctl::Combo1), 7);
}

TEST(Settings, ALoadKeepsTheFileAsItWasThoughItRewritesIt) {
  const std::string file = "0\r\n1\r\n\"tcp://127.0.0.1:4000\"\r\n17,3\r\n11,2\r\n24,15\r\n13,1\r\n10\r\n";
  Window w(file);
  EXPECT_EQ(w.store.content, file);
  EXPECT_GT(w.store.history.size(), 5u);
  for (const auto& bytes : w.store.history) EXPECT_NE(bytes.find("\"tcp://127.0.0.1:4000\"\r\n"), std::string::npos);
  EXPECT_EQ(w.controls.CheckValue(Ctl::Check1), 0);
  EXPECT_EQ(std::vector({w.Index(Ctl::Combo6), w.Index(Ctl::Combo1), w.Index(Ctl::Combo4), w.Index(Ctl::Combo9)}),
            std::vector({17, 3, 15, 10}));
  EXPECT_EQ(w.controls.ItemText(Ctl::Combo8, w.Index(Ctl::Combo8)), "{TAB}");
  EXPECT_EQ(w.controls.ItemText(Ctl::Combo3, w.Index(Ctl::Combo3)), "{UP}");
  EXPECT_EQ(w.controls.Caption(Ctl::Label25), "tcp://127.0.0.1:4000");
  EXPECT_EQ(w.deviceAddress, "tcp://127.0.0.1:4000");
}

TEST(SettingsFile, QuotesAndOtherLayouts) {
  EXPECT_EQ(ParseSettings(kDefaultFile).address, "");
  EXPECT_EQ(ParseSettings(FormatSettings({{}, "a\"b\r\nc"})).address, "abc");  // a quote cannot break the file
  const ParsedSettings p = ParseSettings(" 1 \n 0\n  tcp://10.0.0.5:23  \n 3 , 4 \n\"5\",6\n7,8\n9,10\n 2 ");
  const std::array<std::int16_t, kFieldCount> expected = {1, 0, 3, 4, 5, 6, 7, 8, 9, 10, 2};
  for (int f = 0; f < kFieldCount; ++f) EXPECT_EQ(p.numbers[f], expected[f]) << f;
  EXPECT_EQ(p.address, "tcp://10.0.0.5:23");
}

TEST(Settings, BadFilesEndInAValidWindowAndACleanNextSave) {
  for (const std::string& file : {""s, "0\r\n0\r\n\"COM3\"\r\n4\r\n"s,
                                 "yes\r\n1\r\n\"\"\r\nx,2\r\n0,0\r\n0,0\r\n0,0\r\nfive\r\n"s,
                                 "1\r\n1\r\n\"\"\r\n256,21\r\n24,16\r\n25,16\r\n26,16\r\n11\r\n"s,
                                 "-1\r\n99999\r\n\"\"\r\n-5,0\r\n0,-1\r\n0,0\r\n0,0\r\n-3\r\n"s,
                                 "2\r\n-1\r\n\"\"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n"s,
                                 "1\r\n1\r\n\"COM5\r\n0,1\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n"s,
                                 "1\r\n1\r\nCOM\"5\r\n0,1\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n"s,
                                 "1\r\n1\r\n\"" + std::string(100000, 'x') + "\"\r\n0,1\r\n",
                                 "\x00\xff\xfe,,,\"\"\"\r\r\n\n,\x01"s,
                                 "1\r\n0\r\n\"COM5\" trailing\r\n0,2,9,9\r\n0,0 junk\r\n0,0\r\n0,0\r\n0\r\nline 9\r\n"s}) {
    Window w(file);
    const std::string name = file.substr(0, 40);
    for (Ctl c : {Ctl::Check1, Ctl::Check2}) EXPECT_TRUE(w.controls.CheckValue(c) == 0 || w.controls.CheckValue(c) == 1) << name;
    for (Ctl l : kLists) EXPECT_TRUE(w.Index(l) >= 0 && w.Index(l) < w.controls.ListCount(l)) << name;
    w.keeper.salvaconf();
    const ParsedSettings p = ParseSettings(*w.store.content);
    EXPECT_EQ(p.address, w.codePage.Encode(w.deviceAddress)) << name;  // the window uses the file's address
    SettingsValues v{{}, *p.address};
    for (int f = 0; f < kFieldCount; ++f) v.numbers[f] = *p.numbers[f];
    EXPECT_EQ(FormatSettings(v), *w.store.content) << name;
  }
  Window w("1\r\n0\r\n\"COM3\"\r\nx,4\r\n");  // readable fields are used, the rest keep their defaults
  EXPECT_EQ(w.controls.CheckValue(Ctl::Check2), 0);
  EXPECT_EQ(w.deviceAddress, "COM3");
  EXPECT_EQ(std::vector({w.Index(Ctl::Combo6), w.Index(Ctl::Combo1), w.Index(Ctl::Combo9)}), std::vector({0, 4, 0}));
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
