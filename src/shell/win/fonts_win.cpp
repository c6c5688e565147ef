#include "shell/win/fonts_win.h"

#include <vector>

#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

constexpr int kTenthPointsPerInch = 720;

bool FaceExists(const std::wstring& face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(query.lfFaceName, face.c_str(), LF_FACESIZE);
  bool found = false;
  const UniqueScreenDc screen(GetDC(nullptr));
  EnumFontFamiliesExW(
      screen.get(), &query,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM lp) -> int {
        *reinterpret_cast<bool*>(lp) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

std::vector<std::wstring> Candidates(const std::wstring& design, int dpi) {
  constexpr int kBitmapFacesDpi = 96;  // the only size the old bitmap faces were drawn for
  const bool native = dpi == kBitmapFacesDpi;
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
  lf.lfHeight = -MulDiv(tenthPoints, dpi, kTenthPointsPerInch);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  const std::wstring face = ChooseFace(designFace, dpi);
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  return UniqueGdiObject(CreateFontIndirectW(&lf));
}

UniqueGdiObject MakeFont(const FontSpec& font, int dpi) {
  return MakeFont(Widen(font.face), font.tenthPoints, dpi);
}

}  // namespace tarvik::win
