// Conversions between the caller's texts and the bytes the printer gets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "paloma.h"

namespace paloma {

// Length of a NUL-terminated UTF-16 text.
std::size_t wideLength(const paloma_wchar* text);

// A NUL-terminated UTF-16 text as char16_t units: copied, not reinterpreted,
// since the caller's type is wchar_t on Windows.
std::u16string wideUnits(const paloma_wchar* text);

// The "%ws" narrowing into a buffer of `capacity` bytes (NUL included): each
// UTF-16 unit U+0000..U+00FF becomes the byte of the same value. A unit above
// U+00FF has no byte in that conversion, so the text is refused rather than
// sent with a wrong character; a text that does not fit is refused too.
// Returns false on refusal, with the last error set (out then holds nothing
// useful).
bool narrowWide(const paloma_wchar* text, std::size_t capacity, std::string* out);

// The same narrowing for an argument of a fixed 256-byte working buffer.
inline constexpr std::size_t kWideArgCapacity = 256;

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string utf16ToUtf8(std::u16string_view text);

// The process's 8-bit character set to UTF-8, through the OS seam.
std::string ansiToUtf8(std::string_view text);

}  // namespace paloma
