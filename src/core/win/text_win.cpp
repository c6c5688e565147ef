#include "core/win/text_win.h"

namespace tarvik::win {

std::wstring FromCodePage(UINT codePage, std::string_view s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string ToCodePage(UINT codePage, std::wstring_view s) {
  if (s.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring Widen(std::string_view utf8) { return FromCodePage(CP_UTF8, utf8); }

std::string Narrow(std::wstring_view utf16) { return ToCodePage(CP_UTF8, utf16); }

std::wstring SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = n ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ' ||
                            words.back() == L'.'))
    words.pop_back();
  return words;
}

std::wstring DescribeFailure(std::wstring_view attempted, DWORD error) {
  std::wstring reason = SystemMessage(error);
  if (reason.empty()) reason = L"unknown error";
  return std::wstring(attempted) + L": " + reason + L" (error " + std::to_wstring(error) + L")";
}

int ScreenDpi() {
  constexpr int kDefaultDpi = 96;
  const UniqueScreenDc screen(GetDC(nullptr));
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : kDefaultDpi;
  return dpi > 0 ? dpi : kDefaultDpi;
}

void DebugLine(std::string_view text) {
  std::wstring line = Widen(text);
  line += L"\n";
  OutputDebugStringW(line.c_str());
}

}  // namespace tarvik::win

#include "core/guard.h"

namespace tarvik {

void FatalError(std::string_view what) {
  const std::wstring text = win::Widen(what);
  MessageBoxW(nullptr, text.c_str(), L"Tarvik", MB_OK | MB_ICONERROR);
  ExitProcess(1);
}

}  // namespace tarvik
