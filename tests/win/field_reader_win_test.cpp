#include "keys/win/field_reader_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "win_test_util.h"

#include <richedit.h>

namespace tarvik::win {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLimit{300};
constexpr UINT kHang = WM_APP + 1;  // the owner thread sleeps wParam ms: it stops answering

// A window of a thread of its own in front, one control in it with the
// keyboard focus, so that the reader's messages cross threads as they cross
// processes in use. Without a class, nothing has the focus.
class FieldOwner {
 public:
  FieldOwner(const wchar_t* cls, DWORD style, std::wstring text, DWORD selStart, DWORD selEnd) {
    thread_ = std::thread([=, this] { Run(cls, style, text, selStart, selEnd); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return started_; });
  }
  ~FieldOwner() {
    PostMessageW(top_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  bool InFront() const { return inFront_; }
  void Hang(DWORD ms) { PostMessageW(top_, kHang, ms, 0); }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kHang) return Sleep(static_cast<DWORD>(wp)), 0;
    if (msg == WM_DESTROY) return PostQuitMessage(0), 0;
    return DefWindowProcW(h, msg, wp, lp);
  }

  void Run(const wchar_t* cls, DWORD style, const std::wstring& text, DWORD selStart, DWORD selEnd) {
    LoadLibraryW(L"riched20.dll");
    LoadLibraryW(L"msftedit.dll");
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarvikFieldOwner";
    RegisterClassW(&wc);  // a second time fails harmlessly
    top_ = CreateWindowExW(0, wc.lpszClassName, L"field owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                           400, 200, nullptr, nullptr, wc.hInstance, nullptr);
    HWND control = cls ? CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 380, 150, top_,
                                         nullptr, wc.hInstance, nullptr)
                       : nullptr;
    if (control) {
      SendMessageW(control, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);  // a rich edit's; an edit ignores it
      SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
      SetWindowTextW(control, text.c_str());
      SendMessageW(control, EM_SETSEL, selStart, static_cast<LPARAM>(static_cast<int>(selEnd)));
    }
    inFront_ = bench::ForceForeground(top_, 5000);
    SetFocus(control);
    {
      std::lock_guard lock(mutex_);
      started_ = true;
    }
    ready_.notify_all();
    for (MSG m; GetMessageW(&m, nullptr, 0, 0) > 0;) DispatchMessageW(&m);
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  bool inFront_ = false;
  HWND top_ = nullptr;
};

class FakeAutomation : public IAutomationFocus {
 public:
  FieldReading Read(milliseconds limit) override {
    ++calls;
    lastLimit = limit;
    return answer;
  }
  int calls = 0;
  milliseconds lastLimit{};
  FieldReading answer{FieldText{U"uia", 1, 2}, {}, "uia 2A.7"};
};

FieldText Field(std::u32string text, std::size_t start, std::size_t end, FieldCase casing = FieldCase::kAsTyped) {
  return FieldText{std::move(text), start, end, casing};
}

TEST(FieldReader, EditAndRichEditControlsOfAnotherThreadAreReadWithTheirSelection) {
  const std::wstring lines = L"ab\r\ncd\r\nef";
  const std::u32string lines32 = U"ab\r\ncd\r\nef";
  struct {
    const wchar_t* cls;
    DWORD style;
    std::wstring text;
    DWORD selStart, selEnd;  // in the control's positions
    std::optional<FieldText> want;
    std::string why;
  } rows[] = {
      {L"Edit", ES_AUTOHSCROLL, L"hello world", 5, 5, Field(U"hello world", 5, 5), ""},
      {L"Edit", ES_AUTOHSCROLL, L"hello world", 6, 11, Field(U"hello world", 6, 11), ""},
      {L"Edit", 0, L"", 0, 0, Field(U"", 0, 0), ""},
      // An edit control keeps CR LF as two positions.
      {L"Edit", ES_MULTILINE, lines, 8, 9, Field(lines32, 8, 9), ""},
      // UTF-16 positions become characters: the caret after the emoji is at 2.
      {L"Edit", 0, L"a\U0001F600b", 3, 3, Field(U"a\U0001F600b", 2, 2), ""},
      {L"Edit", ES_UPPERCASE, L"ABC", 3, 3, Field(U"ABC", 3, 3, FieldCase::kUpper), ""},
      {L"Edit", ES_LOWERCASE, L"abc", 1, 1, Field(U"abc", 1, 1, FieldCase::kLower), ""},
      {L"Edit", ES_PASSWORD, L"secret", 6, 6, std::nullopt, "a password field"},
      {L"Edit", ES_AUTOHSCROLL, std::wstring(kFieldReadLimit + 1, L'x'), 0, 0, std::nullopt,
       "a field of more than 65536 characters"},
      // A rich edit control counts a line break as one position, and its text
      // comes with CR LF: "e" is at 6 in the control and at 8 in the text.
      {L"RichEdit20W", ES_MULTILINE, lines, 6, 7, Field(lines32, 8, 9), ""},
      {L"RICHEDIT50W", ES_MULTILINE, lines, 8, 8, Field(lines32, 10, 10), ""},
      {L"RichEdit20W", ES_MULTILINE, lines, 0, MAXDWORD, Field(lines32, 0, 10), ""},
      // There the upper-case bit is another style's (ES_NOOLEDRAGDROP).
      {L"RichEdit20W", ES_UPPERCASE, L"abc", 2, 2, Field(U"abc", 2, 2), ""},
      {L"RichEdit20W", ES_PASSWORD, L"secret", 6, 6, std::nullopt, "a password field"},
  };
  FakeAutomation automation;
  Win32FieldReader reader(automation);
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << std::string(row.cls, row.cls + wcslen(row.cls)) << " style " << std::hex
                                    << row.style << " text of " << std::dec << row.text.size() << " sel "
                                    << row.selStart << "," << row.selEnd);
    FieldOwner owner(row.cls, row.style, row.text, row.selStart, row.selEnd);
    ASSERT_TRUE(owner.InFront());
    const FieldReading got = reader.Read(kLimit);
    EXPECT_EQ(got.field, row.want);
    EXPECT_EQ(got.why, row.why);
    std::string which = got.which, cls(row.cls, row.cls + wcslen(row.cls));  // Wine spells RichEdit50W so
    for (std::string* s : {&which, &cls}) std::transform(s->begin(), s->end(), s->begin(), ::tolower);
    EXPECT_NE(which.find(cls + ")"), std::string::npos) << got.which;
  }
  EXPECT_EQ(automation.calls, 0) << "edit controls are read without UI Automation";
}

TEST(FieldReader, AnyOtherFocusedWindowIsAskedThroughUiAutomationATerminalAndNoFocusAreNoField) {
  FakeAutomation automation;
  Win32FieldReader reader(automation);
  {
    FieldOwner owner(L"Button", BS_PUSHBUTTON, L"OK", 0, 0);
    ASSERT_TRUE(owner.InFront());
    const FieldReading got = reader.Read(kLimit);
    EXPECT_EQ(automation.calls, 1);
    EXPECT_EQ(automation.lastLimit, kLimit);
    EXPECT_EQ(got.field, automation.answer.field);
    EXPECT_NE(got.which.find("(Button) uia 2A.7"), std::string::npos) << got.which;
  }
  WNDCLASSW terminal{};
  terminal.lpfnWndProc = DefWindowProcW;
  terminal.hInstance = GetModuleHandleW(nullptr);
  terminal.lpszClassName = L"PuTTY";
  RegisterClassW(&terminal);
  for (auto [cls, why] : {std::pair{static_cast<const wchar_t*>(nullptr), "no window has the keyboard focus"},
                          std::pair{L"PuTTY", "a terminal"}}) {
    FieldOwner owner(cls, 0, L"", 0, 0);
    ASSERT_TRUE(owner.InFront());
    const FieldReading got = reader.Read(kLimit);
    EXPECT_EQ(got.field, std::nullopt);
    EXPECT_EQ(got.why, why);
  }
  EXPECT_EQ(automation.calls, 1);
}

TEST(FieldReader, AFieldWhoseOwnerHangsIsNoFieldWithinAboutTheLimit) {
  FakeAutomation automation;
  Win32FieldReader reader(automation);
  for (const wchar_t* cls : {L"Edit", L"RichEdit20W"}) {
    FieldOwner owner(cls, 0, L"text", 4, 4);
    ASSERT_TRUE(owner.InFront());
    ASSERT_TRUE(reader.Read(kLimit).field);
    owner.Hang(1500);
    Sleep(100);  // the owner is asleep
    const ULONGLONG start = GetTickCount64();
    const FieldReading got = reader.Read(kLimit);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(got.field, std::nullopt);
    EXPECT_EQ(got.why, "no answer within 300 ms");
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 1500u);
  }
}

// A source whose reads block until the test lets them go.
struct Gate {
  std::mutex mutex;
  std::condition_variable open;
  bool blocked = true;
  int reads = 0;
};

class FakeSource : public IFocusedElementSource {
 public:
  FakeSource(std::shared_ptr<Gate> gate, bool opens) : gate_(std::move(gate)), opens_(opens) {}
  bool Open() override { return opens_; }
  FieldReading ReadFocused() override {
    std::unique_lock lock(gate_->mutex);
    ++gate_->reads;
    gate_->open.wait(lock, [&] { return !gate_->blocked; });
    return {Field(U"ok", 2, 2), {}, "uia 1"};
  }

 private:
  std::shared_ptr<Gate> gate_;
  bool opens_;
};

TEST(UiAutomation, AHungReadCostsItsLimitOnceThenAnswersAtOnceUntilItReturns) {
  auto gate = std::make_shared<Gate>();
  BoundedAutomation automation(std::make_unique<FakeSource>(gate, true));
  ULONGLONG start = 0;
  FieldReading got;
  EXPECT_TRUE(testing::PumpUntil([&] {
    start = GetTickCount64();
    got = automation.Read(milliseconds(200));
    return got.why != "UI Automation is still starting";
  }));
  EXPECT_EQ(got.field, std::nullopt);
  EXPECT_EQ(got.why, "no answer within 200 ms");
  EXPECT_GE(GetTickCount64() - start, 150u);
  EXPECT_LT(GetTickCount64() - start, 2000u);
  start = GetTickCount64();
  got = automation.Read(milliseconds(200));
  EXPECT_EQ(got.why, "UI Automation has not returned from an earlier read");
  EXPECT_LT(GetTickCount64() - start, 100u);
  {
    std::lock_guard lock(gate->mutex);
    gate->blocked = false;
  }
  gate->open.notify_all();
  EXPECT_TRUE(testing::PumpUntil([&] { return automation.Read(milliseconds(200)).field.has_value(); }, 5000));
  EXPECT_EQ(automation.Read(milliseconds(200)).field, Field(U"ok", 2, 2));
  std::lock_guard lock(gate->mutex);
  EXPECT_GE(gate->reads, 3);
}

TEST(UiAutomation, WithoutUiAutomationEveryReadIsNoFieldAtOnce) {
  auto gate = std::make_shared<Gate>();
  BoundedAutomation fake(std::make_unique<FakeSource>(gate, false));
  // Wine registers no CUIAutomation: the system's own source fails to open.
  BoundedAutomation system(MakeUiAutomationSource());
  for (BoundedAutomation* automation : {&fake, &system}) {
    // Until it has tried to open, it answers so at once; Wine has taken seconds to fail.
    EXPECT_TRUE(testing::PumpUntil([&] {
      return automation->Read(milliseconds(5000)).why != "UI Automation is still starting";
    }, 60000));
    const ULONGLONG start = GetTickCount64();
    const FieldReading got = automation->Read(milliseconds(5000));
    EXPECT_EQ(got.field, std::nullopt);
    EXPECT_EQ(got.why, "UI Automation is not available");
    EXPECT_LT(GetTickCount64() - start, 100u);
  }
  EXPECT_EQ(gate->reads, 0);
}

TEST(FieldReader, EditTextPositionsPastTheTextOrInsideASurrogatePair) {
  EXPECT_EQ(EditFieldText(L"ab", 7, 9, false, FieldCase::kAsTyped), Field(U"ab", 2, 2));
  EXPECT_EQ(EditFieldText(L"\U0001F600x", 1, 1, false, FieldCase::kAsTyped), Field(U"\U0001F600x", 1, 1));
  EXPECT_EQ(EditFieldText(L"a\r\n\r\nb", 2, 3, true, FieldCase::kAsTyped), Field(U"a\r\n\r\nb", 3, 5));
  EXPECT_EQ(EditFieldText(std::wstring(1, wchar_t(0xD800)) + L"z", 1, 2, false, FieldCase::kAsTyped),
            Field(U"\uFFFDz", 1, 2));
}

}  // namespace
}  // namespace tarvik::win
