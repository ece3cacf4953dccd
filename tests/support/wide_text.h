// UTF-16 texts in tests, written once for every platform. The wide
// functions take `const paloma_wchar*`, which is char16_t on Linux and
// wchar_t (also 16 bits) on Windows, so a u"..." literal or std::u16string
// data only fits the first. These helpers copy unit by unit, never decode.
//
//   printlabelW(u"2"_w, u"\u00e9"_w);          // arguments
//   WideText longArg(256, u'1');                // a built text: longArg.c_str()
//   std::u16string seen = utf16(wideBuffer);    // back, for comparisons
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "paloma.h"

namespace paloma::test {

using WideText = std::basic_string<paloma_wchar>;

// The units of `s`, one paloma_wchar each.
inline WideText wide(std::u16string_view s) { return WideText(s.begin(), s.end()); }

// The first `n` units of the NUL-terminated `s` (all of them by default) as
// char16_t, to compare with what reached the OS seam.
inline std::u16string utf16(const paloma_wchar* s,
                            std::size_t n = std::u16string::npos) {
  std::u16string out;
  for (std::size_t i = 0; i < n && s[i] != 0; ++i) out.push_back(static_cast<char16_t>(s[i]));
  return out;
}

// A wide argument that owns its units until the end of the full expression
// it appears in, i.e. for the duration of the call it is passed to. Do not
// keep the pointer past that.
class WideArg {
 public:
  explicit WideArg(std::u16string_view s) : text_(wide(s)) {}
  operator const paloma_wchar*() const { return text_.c_str(); }

 private:
  WideText text_;
};

// u"text"_w: a literal passed where `const paloma_wchar*` is expected.
inline WideArg operator""_w(const char16_t* s, std::size_t n) {
  return WideArg(std::u16string_view(s, n));
}

}  // namespace paloma::test
