#include "settings/settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/fake_controls.h"
#include "fakes/fake_link.h"
#include "settings/settings_file.h"
#include "wedge/option_lists.h"

namespace tarvik {
namespace {

using namespace testing;

constexpr std::string_view kDefaultFile = "1\r\n1\r\n\"\"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n";

// A file system of one file whose writes replace it whole, or fail whole.
class FakeStore : public ISettingsStore {
 public:
  bool Exists() const override { return content.has_value(); }
  std::optional<std::string> Read() const override { return content; }
  bool Write(const std::string& bytes) override {
    ++writes;
    if (failWrites) return false;
    content = bytes;
    history.push_back(bytes);
    return true;
  }
  std::optional<std::string> content;
  std::vector<std::string> history;
  int writes = 0;
  bool failWrites = false;
};

struct Window {
  explicit Window(std::optional<std::string> file = std::nullopt) {
    store.content = std::move(file);
    controls.onChange = [this](Ctl c) {
      events.push_back(c == Ctl::Combo9 ? "change Combo9" : "change");
      keeper.OnControlChanged(c);
    };
  }
  // The start-up order: lists filled with the flag at 0, then the load.
  void Start() {
    settingsReady = 0;
    creacombo(controls, pump, settingsReady);
    keeper.leggiconf();
  }

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

TEST(Settings, FirstStartWritesTheDefaultFileByteForByte) {
  Window w;
  w.Start();
  ASSERT_TRUE(w.store.content);
  EXPECT_EQ(*w.store.content, kDefaultFile);
  EXPECT_EQ(w.store.content->size(), 33u);
  EXPECT_EQ(w.controls.CheckValue(Ctl::Check1), 1);
  EXPECT_EQ(w.controls.CheckValue(Ctl::Check2), 1);
  for (Ctl l : {Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4, Ctl::Combo5, Ctl::Combo6,
                Ctl::Combo7, Ctl::Combo8, Ctl::Combo9})
    EXPECT_EQ(w.controls.ListIndex(l), 0);
  EXPECT_EQ(w.controls.Caption(Ctl::Label25), "");
}

TEST(Settings, FillingTheListsWritesNothing) {
  Window w;
  creacombo(w.controls, w.pump, w.settingsReady);
  EXPECT_EQ(w.store.writes, 0);
}

TEST(Settings, TheExampleFileAfterTheUsersChanges) {
  Window w;
  w.Start();
  w.controls.SetCheckValue(Ctl::Check2, 0);
  w.controls.SetListIndex(Ctl::Combo1, 2);   // 20 ms
  w.controls.SetListIndex(Ctl::Combo2, 5);   // the sixth suffix-1 entry
  w.controls.SetListIndex(Ctl::Combo4, 1);
  w.controls.SetListIndex(Ctl::Combo9, 5);   // 5 minutes
  w.deviceAddress = "00:1A:7D:DA:71:13";     // picked in the selection window
  w.keeper.salvaconf();
  EXPECT_EQ(*w.store.content,
            "1\r\n0\r\n\"00:1A:7D:DA:71:13\"\r\n0,2\r\n0,0\r\n5,1\r\n0,0\r\n5\r\n");
  // Every change saved at once, the timeout re-armed before its save.
  EXPECT_EQ(w.store.writes, 1 + 5 + 1);
  const std::vector<std::string> tail(w.events.end() - 2, w.events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"change Combo9", "arm"}));
}

TEST(Settings, ALoadKeepsTheFileAsItWasThoughItRewritesIt) {
  const std::string file = "0\r\n1\r\n\"tcp://127.0.0.1:4000\"\r\n17,3\r\n11,2\r\n24,15\r\n13,1\r\n10\r\n";
  Window w(file);
  w.Start();
  EXPECT_EQ(*w.store.content, file);
  EXPECT_GT(w.store.writes, 5);  // each applied change saved what was applied so far...
  for (const auto& bytes : w.store.history) {
    // ...a complete file each time, with the loaded address in it.
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 8);
    EXPECT_NE(bytes.find("\"tcp://127.0.0.1:4000\""), std::string::npos);
  }
  EXPECT_EQ(w.controls.CheckValue(Ctl::Check1), 0);
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo6), 17);
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo1), 3);
  EXPECT_EQ(w.controls.ItemText(Ctl::Combo8, w.controls.ListIndex(Ctl::Combo8)), "{TAB}");
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo4), 15);
  EXPECT_EQ(w.controls.ItemText(Ctl::Combo3, w.controls.ListIndex(Ctl::Combo3)), "{UP}");
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo9), 10);
  EXPECT_EQ(w.controls.Caption(Ctl::Label25), "tcp://127.0.0.1:4000");
  EXPECT_EQ(w.deviceAddress, "tcp://127.0.0.1:4000");
}

TEST(Settings, WriteThenReadGivesTheTwelveValuesBack) {
  SettingsValues v;
  v.numbers = {1, 0, 255, 20, 23, 15, 24, 7, 25, 9, 10};
  v.address = "COM12:115200";
  const ParsedSettings p = ParseSettings(FormatSettings(v));
  for (int f = 0; f < kFieldCount; ++f) EXPECT_EQ(p.numbers[f], v.numbers[f]) << f;
  EXPECT_EQ(p.address, v.address);
  // An empty address is two double quotes, read back as empty.
  EXPECT_EQ(ParseSettings(kDefaultFile).address, std::string());
}

TEST(Settings, AnAddressWithAQuoteCannotBreakTheFile) {
  SettingsValues v;
  v.address = "a\"b\r\nc";
  EXPECT_EQ(ParseSettings(FormatSettings(v)).address, std::string("abc"));
}

TEST(Settings, BadFilesEndInAValidWindowAndACleanNextSave) {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"fewer than twelve fields", "0\r\n0\r\n\"COM3\"\r\n4\r\n"},
      {"text where a number belongs", "yes\r\n1\r\n\"\"\r\nx,2\r\n0,0\r\n0,0\r\n0,0\r\nfive\r\n"},
      {"indexes outside their lists", "1\r\n1\r\n\"\"\r\n256,21\r\n24,16\r\n25,16\r\n26,16\r\n11\r\n"},
      {"negative and huge numbers", "-1\r\n99999\r\n\"\"\r\n-5,0\r\n0,-1\r\n0,0\r\n0,0\r\n-3\r\n"},
      {"check states other than 0 and 1", "2\r\n-1\r\n\"\"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n"},
      {"an unclosed quote", "1\r\n1\r\n\"COM5\r\n0,1\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n"},
      {"a quote inside an unquoted address", "1\r\n1\r\nCOM\"5\r\n0,1\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n"},
      {"a line far too long", "1\r\n1\r\n\"" + std::string(100000, 'x') + "\"\r\n0,1\r\n"},
      {"binary garbage", "\x00\xff\xfe,,,\"\"\"\r\r\n\n,\x01"s},  // NUL included
      {"extra text", "1\r\n0\r\n\"COM5\" trailing\r\n0,2,9,9\r\n0,0 junk\r\n0,0\r\n0,0\r\n0\r\nline 9\r\n"},
  };
  for (const auto& [name, file] : cases) {
    Window w(file);
    w.Start();
    for (Ctl c : {Ctl::Check1, Ctl::Check2}) {
      const int v = w.controls.CheckValue(c);
      EXPECT_TRUE(v == 0 || v == 1) << name;
    }
    for (Ctl l : {Ctl::Combo1, Ctl::Combo2, Ctl::Combo3, Ctl::Combo4, Ctl::Combo5, Ctl::Combo6,
                  Ctl::Combo7, Ctl::Combo8, Ctl::Combo9}) {
      const int i = w.controls.ListIndex(l);
      EXPECT_TRUE(i >= 0 && i < w.controls.ListCount(l)) << name;
    }
    w.keeper.salvaconf();
    const ParsedSettings p = ParseSettings(*w.store.content);
    // The window uses the address the file now holds.
    EXPECT_EQ(p.address, w.codePage.Encode(w.deviceAddress)) << name;
    EXPECT_EQ(FormatSettings([&] {
                SettingsValues v;
                for (int f = 0; f < kFieldCount; ++f) v.numbers[f] = *p.numbers[f];
                v.address = *p.address;
                return v;
              }()),
              *w.store.content)
        << name;
  }
}

TEST(Settings, WhatABadFileStillGives) {
  // Readable fields are used, the rest keep their defaults.
  Window w("1\r\n0\r\n\"COM3\"\r\nx,4\r\n");
  w.Start();
  EXPECT_EQ(w.controls.CheckValue(Ctl::Check2), 0);
  EXPECT_EQ(w.deviceAddress, "COM3");
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo6), 0);
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo1), 4);
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo9), 0);
}

TEST(Settings, OtherLayoutsReadWhenUnambiguous) {
  const ParsedSettings p =
      ParseSettings(" 1 \n 0\n  tcp://10.0.0.5:23  \n 3 , 4 \n\"5\",6\n7,8\n9,10\n 2 ");
  const std::array<std::int16_t, kFieldCount> expected = {1, 0, 3, 4, 5, 6, 7, 8, 9, 10, 2};
  for (int f = 0; f < kFieldCount; ++f) EXPECT_EQ(p.numbers[f], expected[f]) << f;
  EXPECT_EQ(p.address, std::string("tcp://10.0.0.5:23"));
}

TEST(Settings, AFailedSaveLeavesThePreviousFileAndSaysNothing) {
  Window w;
  w.Start();
  w.store.failWrites = true;
  w.controls.SetListIndex(Ctl::Combo1, 7);
  EXPECT_EQ(*w.store.content, kDefaultFile);
  EXPECT_EQ(w.controls.ListIndex(Ctl::Combo1), 7);  // the choice stays for this run
}

TEST(Settings, NoSaveWhileTheFlagIsDown) {
  Window w{std::string(kDefaultFile)};
  creacombo(w.controls, w.pump, w.settingsReady);
  w.settingsReady = 0;
  w.controls.SetListIndex(Ctl::Combo1, 3);
  EXPECT_EQ(w.store.writes, 0);
}

TEST(SettingsLocation, TheWindowsDirectoryWhereverItCanBeWrittenElseTheUsersFolder) {
  using P = SettingsPlace;
  const P W = P::WindowsDirectory, U = P::UserDirectory, V = P::VirtualStore;
  struct Case {
    bool writable;
    SettingsFiles found;  // windows, user, virtualStore
    SettingsLocation where;
  };
  const Case cases[] = {
      {true, {false, false, false}, {W, W}},
      {true, {true, true, true}, {W, W}},
      {true, {false, false, true}, {V, W}},   // an old copy of the user's: start from it
      {false, {true, false, false}, {W, U}},  // start from the Windows directory's file
      {false, {true, true, true}, {U, U}},    // the user's own file wins
      {false, {false, false, false}, {U, U}},
      {false, {false, false, true}, {V, U}},
      {false, {true, false, true}, {W, U}},   // the Windows directory's file comes first
  };
  for (const auto& c : cases)
    EXPECT_EQ(ChooseSettingsLocation(c.writable, c.found), c.where)
        << c.writable << c.found.windows << c.found.user << c.found.virtualStore;
}

}  // namespace
}  // namespace tarvik
