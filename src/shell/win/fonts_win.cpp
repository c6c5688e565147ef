#include "shell/win/fonts_win.h"

#include <vector>

namespace tarvik::win {
namespace {

bool FaceExists(const std::wstring& face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(query.lfFaceName, face.c_str(), LF_FACESIZE);
  bool found = false;
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(
      dc, &query,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM lp) -> int {
        *reinterpret_cast<bool*>(lp) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  return found;
}

std::vector<std::wstring> Candidates(const std::wstring& design, int dpi) {
  const bool native = dpi == 96;
  if (design == L"MS Serif") {
    if (native) return {L"MS Serif", L"Times New Roman", L"Liberation Serif", L"DejaVu Serif"};
    return {L"Times New Roman", L"Liberation Serif", L"DejaVu Serif", L"MS Serif"};
  }
  // "MS Sans Serif" and the window's default.
  if (native) return {L"MS Sans Serif", L"Microsoft Sans Serif", L"Tahoma", L"Arial", L"Liberation Sans"};
  return {L"Microsoft Sans Serif", L"Tahoma", L"Arial", L"Liberation Sans", L"MS Sans Serif"};
}

}  // namespace

std::wstring ChooseFace(const std::wstring& designFace, int dpi) {
  for (const auto& face : Candidates(designFace, dpi))
    if (FaceExists(face)) return face;
  return designFace;  // let the font mapper decide as a last resort
}

UniqueGdiObject MakeFont(const std::wstring& designFace, int tenthPoints, int dpi, bool bold) {
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(tenthPoints, dpi, 720);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  const std::wstring face = ChooseFace(designFace, dpi);
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  return UniqueGdiObject(CreateFontIndirectW(&lf));
}

}  // namespace tarvik::win
