// UTF-8 <-> code points. Portable text in this program is UTF-8; the Windows
// side converts to UTF-16 at the API boundary.
#pragma once
#include <string>
#include <string_view>

namespace tarvik {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes UTF-8; each malformed byte becomes U+FFFD, so nothing is dropped silently.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(char32_t cp);
std::string EncodeUtf8(std::u32string_view text);
// Splits a code point into UTF-16 units (one, or a surrogate pair).
std::u16string ToUtf16(char32_t cp);

}  // namespace tarvik
