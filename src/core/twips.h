// The design's unit of length: a twip is 1/1440 of an inch.
#pragma once

namespace tarvik {

inline constexpr int kTwipsPerInch = 1440;

// Twips to pixels at `dpi` pixels per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

}  // namespace tarvik
