// The window's fonts. The design names old bitmap faces ("MS Sans Serif",
// "MS Serif"). Each face has a list of stand-ins of the same kind, tried in
// order where it is missing (Wine, newer Windows). Away from 96 dpi the
// bitmap faces come out blocky or at the wrong size, so there the outline
// twin comes first and the text stays sharp.
#pragma once
#include <string>

#include "core/win/unique_any.h"
#include "shell/rx_layout.h"

namespace tarvik::win {

// The face actually used for a design face at this dpi.
std::wstring ChooseFace(const std::wstring& designFace, int dpi);
// tenthPoints: 135 for 13.5 point.
UniqueGdiObject MakeFont(const std::wstring& designFace, int tenthPoints, int dpi, bool bold = false);
UniqueGdiObject MakeFont(const FontSpec& font, int dpi);

}  // namespace tarvik::win
