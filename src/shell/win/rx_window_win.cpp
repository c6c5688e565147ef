#include "shell/win/rx_window_win.h"

#include <stdexcept>

#include "common/win/guard_win.h"
#include "common/win/text_win.h"
#include "shell/rx_layout.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kClassName[] = L"TarvikRX";
constexpr COLORREF kGrey = RGB(224, 224, 224);

[[noreturn]] void Fail(const std::wstring& attempted) {
  throw std::runtime_error(Narrow(DescribeFailure(attempted, GetLastError())));
}

}  // namespace

std::unique_ptr<RxWindow> RxWindow::Create(HINSTANCE instance) {
  std::unique_ptr<RxWindow> w(new RxWindow());
  w->background_.reset(CreateSolidBrush(kGrey));
  w->black_.reset(CreateSolidBrush(RGB(0, 0, 0)));
  w->red_.reset(CreateSolidBrush(RGB(255, 0, 0)));
  w->green_.reset(CreateSolidBrush(RGB(0, 192, 0)));

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &RxWindow::WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(w->background_.get());
  wc.lpszClassName = kClassName;
  w->icon_ = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!w->icon_) w->icon_ = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.hIcon = w->icon_;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    Fail(L"Registering the main window class");

  const int dpi = ScreenDpi();
  const DWORD style = (WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX) | WS_CLIPCHILDREN;
  RECT r{0, 0, TwipsToPixels(kRxClientWidthTwips, dpi), TwipsToPixels(kRxClientHeightTwips, dpi)};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const std::wstring title = Widen(kRxCaption);
  HWND hwnd = CreateWindowExW(0, kClassName, title.c_str(), style, x, y, width, height, nullptr,
                              nullptr, instance, w.get());
  if (!hwnd) Fail(L"Creating the main window");
  w->CreateControls(instance);
  return w;
}

RxWindow::~RxWindow() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void RxWindow::CreateControls(HINSTANCE instance) {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof(ncm);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
    font_.reset(CreateFontIndirectW(&ncm.lfMessageFont));
  const int dpi = ScreenDpi();
  auto make = [&](const wchar_t* cls, const std::wstring& text, DWORD style, int left, int top,
                  int w, int h, std::string_view name) {
    const INT_PTR id = ControlId(name);
    HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | style, TwipsToPixels(left, dpi),
                             TwipsToPixels(top, dpi), TwipsToPixels(w, dpi), TwipsToPixels(h, dpi),
                             hwnd_, reinterpret_cast<HMENU>(id), instance, nullptr);
    if (!c) Fail(L"Creating the control " + Widen(name));
    if (font_) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return c;
  };
  for (const ControlSpec& s : RxControls()) {
    const std::wstring text = Widen(s.caption);
    HWND c = nullptr;
    switch (s.kind) {
      case ControlKind::Button:
        c = make(L"BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, s.left, s.top, s.width,
                 s.height, s.name);
        break;
      case ControlKind::Check:
        c = make(L"BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, s.left, s.top,
                 s.width, s.height, s.name);
        SendMessageW(c, BM_SETCHECK, BST_CHECKED, 0);  // both start checked
        break;
      case ControlKind::List:
        // The height given to a drop-down list is that of its open list.
        c = make(L"COMBOBOX", text, WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                 s.left, s.top, s.width, s.height * 8, s.name);
        break;
      case ControlKind::Label: {
        DWORD style = WS_VISIBLE | SS_NOPREFIX;
        if (s.name == "Label25") style |= SS_CENTER | SS_CENTERIMAGE;
        if (s.name == "Label1") style |= WS_BORDER | SS_CENTERIMAGE;
        c = make(L"STATIC", text, style, s.left, s.top, s.width, s.height, s.name);
        break;
      }
      case ControlKind::Picture:
        c = make(L"STATIC", text, WS_VISIBLE, s.left, s.top, s.width, s.height, s.name);
        break;
    }
    if (s.ctl) {
      controls_[*s.ctl] = c;
      byId_[GetDlgCtrlID(c)] = *s.ctl;
    }
  }
  // The list that holds a number the user never sees.
  HWND hidden = make(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 795, 2000, "Combo6");
  controls_[Ctl::Combo6] = hidden;
  byId_[GetDlgCtrlID(hidden)] = Ctl::Combo6;
}

HWND RxWindow::Control(Ctl ctl) const {
  const auto it = controls_.find(ctl);
  if (it == controls_.end()) throw std::logic_error("no such control on the main window");
  return it->second;
}

void RxWindow::Raise(Ctl ctl) {
  if (onChange) onChange(ctl);
}

void RxWindow::AddItem(Ctl list, std::string_view text) {
  const std::wstring w = Widen(text);
  const LRESULT r = SendMessageW(Control(list), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
  if (r == CB_ERR || r == CB_ERRSPACE) throw std::runtime_error("Adding an entry to a list failed");
}

int RxWindow::ListCount(Ctl list) const {
  return static_cast<int>(SendMessageW(Control(list), CB_GETCOUNT, 0, 0));
}

int RxWindow::ListIndex(Ctl list) const {
  return static_cast<int>(SendMessageW(Control(list), CB_GETCURSEL, 0, 0));
}

void RxWindow::SetListIndex(Ctl list, int index) {
  if (index < -1 || index >= ListCount(list))
    throw std::out_of_range("Selecting an entry outside the list");
  if (ListIndex(list) == index) return;
  // CB_SETCURSEL sends no notification; raise the change as a user's pick would.
  SendMessageW(Control(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  Raise(list);
}

std::string RxWindow::ItemText(Ctl list, int index) const {
  HWND c = Control(list);
  const LRESULT len = SendMessageW(c, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (len == CB_ERR) throw std::out_of_range("Reading an entry outside the list");
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  SendMessageW(c, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(len));
  return Narrow(text);
}

int RxWindow::CheckValue(Ctl box) const {
  return SendMessageW(Control(box), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void RxWindow::SetCheckValue(Ctl box, int value) {
  if (CheckValue(box) == value) return;
  SendMessageW(Control(box), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
  Raise(box);
}

std::string RxWindow::Caption(Ctl label) const {
  HWND c = Control(label);
  const int len = GetWindowTextLengthW(c);
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  GetWindowTextW(c, text.data(), len + 1);
  text.resize(static_cast<size_t>(len));
  return Narrow(text);
}

void RxWindow::SetCaption(Ctl label, std::string_view text) {
  if (!SetWindowTextW(Control(label), Widen(text).c_str()))
    throw std::runtime_error(Narrow(DescribeFailure(L"Setting a label's text", GetLastError())));
}

bool RxWindow::IsMinimized() const { return IsIconic(hwnd_) != FALSE; }

void RxWindow::SetLinkColour(bool linkOpen) {
  linkOpen_ = linkOpen;
  InvalidateRect(Control(Ctl::Label25), nullptr, TRUE);
}

LRESULT CALLBACK RxWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<RxWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<RxWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  RunGuarded([&] { result = self->Handle(msg, wp, lp); });
  return result;
}

LRESULT RxWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  HWND const self = hwnd_;
  switch (msg) {
    case WM_COMMAND: {
      if (HIWORD(wp) == BN_CLICKED && onClick &&
          (LOWORD(wp) == ControlId("Command3") || LOWORD(wp) == ControlId("Command6"))) {
        onClick(LOWORD(wp));
        return 0;
      }
      const auto it = byId_.find(LOWORD(wp));
      if (it != byId_.end()) {
        const Ctl ctl = it->second;
        const bool isList = ctl <= Ctl::Combo9;
        if ((isList && HIWORD(wp) == CBN_SELCHANGE) || (!isList && HIWORD(wp) == BN_CLICKED))
          Raise(ctl);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND c = reinterpret_cast<HWND>(lp);
      if (c == Control(Ctl::Label1)) {
        SetTextColor(dc, RGB(0, 255, 0));
        SetBkColor(dc, RGB(0, 0, 0));
        return reinterpret_cast<LRESULT>(black_.get());
      }
      if (c == Control(Ctl::Label25)) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, linkOpen_ ? RGB(0, 192, 0) : RGB(255, 0, 0));
        return reinterpret_cast<LRESULT>(linkOpen_ ? green_.get() : red_.get());
      }
      SetBkColor(dc, kGrey);
      return reinterpret_cast<LRESULT>(background_.get());
    }
    case WM_TIMER:
      if (onTimer) onTimer(wp);
      return 0;
    case WM_CLOSE:
      if (onClose) onClose();
      DestroyWindow(self);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(self, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      break;
    default:
      if (onMessage && onMessage(msg, wp, lp)) return 0;
      break;
  }
  return DefWindowProcW(self, msg, wp, lp);
}

}  // namespace tarvik::win
