#include "connection/text_convert.h"

#include <cstdio>

#include "platform/last_error.h"
#include "platform/os.h"

namespace paloma {

std::size_t wideLength(const paloma_wchar* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

std::u16string wideUnits(const paloma_wchar* text) {
  return std::u16string(text, text + wideLength(text));
}

bool narrowWide(const paloma_wchar* text, std::size_t capacity, std::string* out) {
  out->clear();
  if (!text) {
    setLastError("a text argument is a null pointer");
    return false;
  }
  for (std::size_t i = 0; text[i] != 0; ++i) {
    auto unit = static_cast<std::uint32_t>(text[i]);
    if (unit > 0xFF) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(unit));
      setLastError(std::string("a wide text argument holds U+") + hex + " at unit " +
                   std::to_string(i) + "; only U+0000 to U+00FF can be sent as bytes");
      return false;
    }
    if (out->size() + 1 >= capacity) {
      setLastError("a wide text argument is longer than " + std::to_string(capacity - 1) +
                   " units");
      return false;
    }
    out->push_back(static_cast<char>(unit));
  }
  return true;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string ansiToUtf8(std::string_view text) { return utf16ToUtf8(os().ansiToUtf16(text)); }

}  // namespace paloma
