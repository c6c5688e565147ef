#include "link/win/selection_window_win.h"

#include <commctrl.h>

#include <chrono>
#include <stdexcept>

#include "link/selection_layout.h"
#include "link/win/discovery_win.h"
#include "link/win/library_win.h"
#include "core/guard.h"
#include "core/win/text_win.h"
#include "core/twips.h"
#include "core/win/event_pump_win.h"
#include "core/win/dialogs_win.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kClassName[] = L"TarvikSelect";
constexpr COLORREF kStatusText = RGB(255, 0, 0);
// Longer addresses are cut; a reader's is 19 characters with its parentheses.
constexpr int kMaxAddressChars = 256;
// The modal loop wakes this often even when nothing happens.
constexpr auto kIdleWake = std::chrono::seconds(60);

}  // namespace

SelectionWindow::SelectionWindow(HWND owner, HICON icon) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &SelectionWindow::WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  wc.hIcon = icon;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error(Narrow(DescribeFailure(L"Registering the selection window's class", GetLastError())));
  const int dpi = ScreenDpi();
  auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;  // fixed border, no min or max box
  RECT r{0, 0, px(kSelectionWidthTwips), px(kSelectionHeightTwips)};
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  const int w = r.right - r.left, h = r.bottom - r.top;
  hwnd_.reset(CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, Widen(kSelectionCaption).c_str(), style,
                              (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                              (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, owner, nullptr,
                              instance, nullptr));
  if (!hwnd_) throw std::runtime_error(Narrow(DescribeFailure(L"Creating the selection window", GetLastError())));
  SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof(ncm);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
    font_.reset(CreateFontIndirectW(&ncm.lfMessageFont));
  auto make = [&](const wchar_t* cls, const SelectionSpec& entry, DWORD st, int id, DWORD ex = 0) {
    HWND c = CreateWindowExW(ex, cls, Widen(entry.caption).c_str(), WS_CHILD | WS_VISIBLE | st,
                             px(entry.left), px(entry.top), px(entry.width), px(entry.height),
                             hwnd_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             instance, nullptr);
    if (!c) throw std::runtime_error(Narrow(DescribeFailure(L"Creating a control of the selection window", GetLastError())));
    if (font_) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return c;
  };
  // Created in focus order, which Tab follows.
  for (const SelectionSpec& entry : kSelectionControls) {
    switch (entry.control) {
      case SelectionControl::kDiscover:
        make(L"BUTTON", entry, WS_TABSTOP | BS_PUSHBUTTON, kDiscover);
        break;
      case SelectionControl::kStatus:
        status_ = make(L"STATIC", entry, SS_NOPREFIX, kStatus);
        break;
      case SelectionControl::kDevices:
        list_ = make(WC_LISTVIEWW, entry, WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                     kDevices, WS_EX_CLIENTEDGE);
        ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
        for (const wchar_t* header : {L"Address", L"Name"}) {
          LVCOLUMNW col{};
          col.mask = LVCF_TEXT | LVCF_WIDTH;
          col.cx = px(kSelectionColumnTwips);
          col.pszText = const_cast<wchar_t*>(header);
          ListView_InsertColumn(list_, Header_GetItemCount(ListView_GetHeader(list_)), &col);
        }
        break;
      case SelectionControl::kSelect:
        // Enter is "Select": the dialog manager sends IDOK for it.
        make(L"BUTTON", entry, WS_TABSTOP | BS_DEFPUSHBUTTON, kSelect);
        break;
      case SelectionControl::kCancel:
        make(L"BUTTON", entry, WS_TABSTOP | BS_PUSHBUTTON, kCancel);
        break;
    }
  }
}

void SelectionWindow::SetStatus(const std::string& text) { SetWindowTextW(status_, Widen(text).c_str()); }

void SelectionWindow::ClearRows() { ListView_DeleteAllItems(list_); }

void SelectionWindow::AddRow(const std::string& address, const std::string& name) {
  std::wstring a = Widen(address), n = Widen(name);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = ListView_GetItemCount(list_);
  item.pszText = a.data();
  const int row = ListView_InsertItem(list_, &item);
  if (row >= 0) ListView_SetItemText(list_, row, 1, n.data());
}

std::optional<std::string> SelectionWindow::SelectedAddress() const {
  const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
  if (row < 0) return std::nullopt;
  wchar_t text[kMaxAddressChars] = {};
  ListView_GetItemText(list_, row, 0, text, kMaxAddressChars);
  return Narrow(text);
}

LRESULT CALLBACK SelectionWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<SelectionWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  RunOrStop("A message to the selection window", [&] { result = self->Handle(msg, wp, lp); });
  return result;
}

LRESULT SelectionWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && logic) {
        if (LOWORD(wp) == kDiscover) logic->btDiscover_Click();
        if (LOWORD(wp) == kSelect) logic->btConnect_Click();
        if (LOWORD(wp) == kCancel) logic->Command1_Click();
      }
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lp) == status_) {
        SetTextColor(reinterpret_cast<HDC>(wp), kStatusText);
        SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_CLOSE:  // the close box: nothing is stored
      closed_ = true;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_.get(), msg, wp, lp);
}

void RunModal(SelectionWindow& window, DeviceSelection& logic, HWND owner, Win32EventPump& pump) {
  window.logic = &logic;
  logic.Form_Load();
  // Modal: the owner takes no input until this window closes; everything
  // else (the link, the timers) goes on in the same message loop.
  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(window.hwnd(), SW_SHOW);
  pump.SetDialogWindow(window.hwnd());
  while (!window.closed() && !pump.QuitRequested()) {
    pump.ProcessPending();
    if (window.closed()) break;
    pump.WaitForEvent(kIdleWake);
  }
  pump.SetDialogWindow(owner);
  if (owner) EnableWindow(owner, TRUE);
  logic.Form_Unload();
  window.logic = nullptr;
  ShowWindow(window.hwnd(), SW_HIDE);
  if (owner) SetForegroundWindow(owner);
}

void RunSelectionWindow(HWND owner, HICON icon, Win32EventPump& pump, std::string& deviceAddress,
                        IControls& mainWindow) {
  Win32LibraryManager library;
  Win32Discovery discovery;
  SelectionWindow window(owner, icon);
  Win32Dialogs dialogs(window.hwnd());
  DeviceSelection logic({window, pump, dialogs, library, discovery, deviceAddress, mainWindow});
  RunModal(window, logic, owner, pump);
}

}  // namespace tarvik::win
