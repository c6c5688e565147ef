#include "shell/win/rx_window_win.h"

#include <algorithm>
#include <stdexcept>

#include "core/guard.h"
#include "core/win/text_win.h"
#include "shell/rx_layout.h"
#include "shell/win/fonts_win.h"
#include "shell/win/res/resource_ids.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kClassName[] = L"TarvikRX";
constexpr COLORREF Colour(Rgb c) { return RGB(c.red, c.green, c.blue); }
constexpr COLORREF kGrey = Colour(kWindowGrey);
constexpr COLORREF kText = Colour(kBlack);
constexpr COLORREF kLineText = Colour(kLastLineText);
constexpr COLORREF kLinkOpen = Colour(kLinkOpenColour);
constexpr COLORREF kLinkClosed = Colour(kLinkClosedColour);
constexpr COLORREF kCaptionText = Colour(kWebCaptionText);
// The Quit button's drawing, in pixels at 96 dpi: the exit symbol's size, the
// caption's margins below and above, the focus rectangle's inset.
constexpr int kExitSymbolWidth = 59, kExitSymbolHeight = 55;
constexpr int kCaptionBottomMargin = 1, kCaptionTopMargin = 3, kFocusInset = 4;
constexpr int kBaseDpi = 96;
// A drop-down list is given the height of its open list: this many rows.
constexpr int kOpenListRows = 8;
// The never-shown list Combo6, in twips.
constexpr int kHiddenListWidthTwips = 795, kHiddenListHeightTwips = 2000;

[[noreturn]] void Fail(const std::wstring& attempted) {
  throw std::runtime_error(Narrow(DescribeFailure(attempted, GetLastError())));
}

}  // namespace

std::unique_ptr<RxWindow> RxWindow::Create(HINSTANCE instance) {
  std::unique_ptr<RxWindow> w(new RxWindow());
  w->background_.reset(CreateSolidBrush(kGrey));
  w->black_.reset(CreateSolidBrush(kText));
  w->red_.reset(CreateSolidBrush(kLinkClosed));
  w->green_.reset(CreateSolidBrush(kLinkOpen));

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &RxWindow::WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(w->background_.get());
  wc.lpszClassName = kClassName;
  // The program icon in the sizes the system asks for (the tray uses the small one).
  w->icon_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARVIK), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CYICON), 0)));
  w->smallIcon_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARVIK),
                                                     IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), 0)));
  if (!w->icon_) w->sharedIcon_ = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.hIcon = w->icon();
  wc.hIconSm = w->smallIcon();
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
  hwnd_.reset();
  // The class holds our brush and icons, which go with this object: a window
  // made later registers the class afresh with its own.
  UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
}

void RxWindow::CreateControls(HINSTANCE instance) {
  const int dpi = dpi_ = ScreenDpi();
  font_ = MakeFont(kBodyFont, dpi);
  label25Font_ = MakeFont(kAddressFont, dpi);
  label1Font_ = MakeFont(kLastLineFont, dpi);
  label28Font_ = MakeFont(kWebCaptionFont, dpi);
  logo_.reset(LoadImageW(instance, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, 0));
  exit_.reset(LoadImageW(instance, MAKEINTRESOURCEW(IDB_EXIT), IMAGE_BITMAP, 0, 0, 0));
  auto make = [&](const wchar_t* cls, const std::wstring& text, DWORD style, int left, int top,
                  int w, int h, std::string_view name) {
    const INT_PTR id = ControlId(name);
    HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | style, TwipsToPixels(left, dpi),
                             TwipsToPixels(top, dpi), TwipsToPixels(w, dpi), TwipsToPixels(h, dpi),
                             hwnd_.get(), reinterpret_cast<HMENU>(id), instance, nullptr);
    if (!c) Fail(L"Creating the control " + Widen(name));
    if (font_) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return c;
  };
  for (const ControlSpec& s : RxControls()) {
    const std::wstring text = Widen(s.caption);
    HWND c = nullptr;
    switch (s.kind) {
      case ControlKind::Button: {
        // Quit draws its exit symbol above its caption itself.
        const DWORD kind = s.look == Look::kQuitButton ? BS_OWNERDRAW : BS_PUSHBUTTON;
        c = make(L"BUTTON", text, WS_VISIBLE | WS_TABSTOP | kind, s.left, s.top, s.width, s.height,
                 s.name);
        break;
      }
      case ControlKind::Check:
        c = make(L"BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, s.left, s.top,
                 s.width, s.height, s.name);
        SendMessageW(c, BM_SETCHECK, BST_CHECKED, 0);  // both start checked
        break;
      case ControlKind::List:
        // The height given to a drop-down list is that of its open list.
        c = make(L"COMBOBOX", text, WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                 s.left, s.top, s.width, s.height * kOpenListRows, s.name);
        break;
      case ControlKind::Label: {
        // One line each, clipped at the box, never wrapped.
        DWORD style = WS_VISIBLE | SS_NOPREFIX | SS_LEFTNOWORDWRAP;
        if (s.look == Look::kAddress) style = WS_VISIBLE | SS_NOPREFIX | SS_CENTER | SS_CENTERIMAGE;
        if (s.look == Look::kLastLine) style |= WS_BORDER | SS_CENTERIMAGE;
        c = make(L"STATIC", text, style, s.left, s.top, s.width, s.height, s.name);
        break;
      }
      case ControlKind::Picture:
        c = make(L"STATIC", text, WS_VISIBLE | SS_OWNERDRAW, s.left, s.top, s.width, s.height, s.name);
        break;
    }
    HGDIOBJ font = nullptr;
    if (s.look == Look::kAddress) font = label25Font_.get();
    if (s.look == Look::kLastLine) font = label1Font_.get();
    if (s.look == Look::kWebCaption) font = label28Font_.get();
    if (font) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    looks_[c] = s.look;
    if (s.ctl) {
      controls_[*s.ctl] = c;
      byId_[GetDlgCtrlID(c)] = *s.ctl;
    }
  }
  // The list that holds a number the user never sees.
  HWND hidden = make(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, kHiddenListWidthTwips,
                     kHiddenListHeightTwips, "Combo6");
  controls_[Ctl::Combo6] = hidden;
  byId_[GetDlgCtrlID(hidden)] = Ctl::Combo6;
  // Tab goes through the controls in their z-order: lay them out in the
  // focus order, each placed below the one before.
  for (std::string_view name : RxTabOrder())
    SetWindowPos(GetDlgItem(hwnd_.get(), ControlId(name)), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void RxWindow::DrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  auto blit = [&](HBITMAP bitmap, RECT into) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) return;
    UniqueMemoryDc memory(CreateCompatibleDC(dc));
    HDC mem = memory.get();
    if (!mem) return;
    HGDIOBJ old = SelectObject(mem, bitmap);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, into.left, into.top, into.right - into.left, into.bottom - into.top, mem, 0, 0,
               info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(mem, old);
  };
  if (LookOf(item.hwndItem) == Look::kLogo) {
    // The logo fills its box, which the design sizes to the picture.
    blit(static_cast<HBITMAP>(logo_.get()), r);
    return;
  }
  // Quit: a push button on the window colour, the exit symbol above "Quit".
  const bool pushed = item.itemState & ODS_SELECTED;
  FillRect(dc, &r, static_cast<HBRUSH>(background_.get()));
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pushed ? DFCS_PUSHED : 0));
  FillRect(dc, &r, static_cast<HBRUSH>(background_.get()));
  const int shift = pushed ? 1 : 0;
  HGDIOBJ oldFont = SelectObject(dc, font_.get());
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  // The caption's line at the bottom, the picture centred in what is left.
  auto px = [this](int at96) { return MulDiv(at96, dpi_, kBaseDpi); };
  RECT text{r.left, r.bottom - tm.tmHeight - px(kCaptionTopMargin), r.right,
            r.bottom - px(kCaptionBottomMargin)};
  const int w = px(kExitSymbolWidth), h = px(kExitSymbolHeight);
  const int left = (r.left + r.right - w) / 2 + shift;
  const int top = static_cast<int>(r.top) + std::max(0, static_cast<int>(text.top - r.top - h) / 2) + shift;
  blit(static_cast<HBITMAP>(exit_.get()), RECT{left, top, left + w, top + h});
  OffsetRect(&text, shift, shift);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  DrawTextW(dc, L"Quit", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = item.rcItem;
    InflateRect(&focus, -px(kFocusInset), -px(kFocusInset));
    DrawFocusRect(dc, &focus);
  }
}

Look RxWindow::LookOf(HWND control) const {
  const auto it = looks_.find(control);
  return it == looks_.end() ? Look::kPlain : it->second;
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

// Out of sight: minimized on the taskbar or hidden in the tray, where the
// window stays iconic.
bool RxWindow::TypesRecords() const { return IsIconic(hwnd_.get()) != FALSE; }

void RxWindow::SetLinkColour(bool linkOpen) {
  linkOpen_ = linkOpen;
  InvalidateRect(Control(Ctl::Label25), nullptr, TRUE);
}

LRESULT CALLBACK RxWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<RxWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_.reset(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<RxWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  RunOrStop("A message to the main window", [&] { result = self->Handle(msg, wp, lp); });
  return result;
}

LRESULT RxWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  HWND const self = hwnd_.get();
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
      const Look look = LookOf(c);
      if (look == Look::kLastLine) {
        SetTextColor(dc, kLineText);
        SetBkColor(dc, kText);
        return reinterpret_cast<LRESULT>(black_.get());
      }
      if (look == Look::kAddress) {
        SetTextColor(dc, kText);
        SetBkColor(dc, linkOpen_ ? kLinkOpen : kLinkClosed);
        return reinterpret_cast<LRESULT>(linkOpen_ ? green_.get() : red_.get());
      }
      COLORREF text = kText;
      if (look == Look::kWebCaption) text = kCaptionText;
      if (look == Look::kSystemText) text = GetSysColor(COLOR_WINDOWTEXT);
      SetTextColor(dc, text);
      SetBkColor(dc, kGrey);
      return reinterpret_cast<LRESULT>(background_.get());
    }
    case WM_DRAWITEM: {
      RunOrStop("Drawing a control", [&] { DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp)); });
      return TRUE;
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
      hwnd_.release();  // gone already: nothing left to destroy
      break;
    default:
      if (onMessage && onMessage(msg, wp, lp)) return 0;
      break;
  }
  return DefWindowProcW(self, msg, wp, lp);
}

}  // namespace tarvik::win
