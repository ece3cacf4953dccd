// The exported host-font functions of the single connection.
#include <array>
#include <string>

#include "connection/connection_state.h"
#include "connection/text_convert.h"
#include "fonttext/fonttext.h"
#include "paloma.h"
#include "platform/api_lock.h"
#include "platform/last_error.h"

using namespace paloma;

namespace {

// The working copy of windowsfontUnicodeLengh: 1024 code units.
constexpr int kLengthCopyUnits = 1024;

// The UTF-16 forms need an open connection, a face name and a content; a
// refusal records which was missing.
bool canDrawWide(const char* szFaceName, const paloma_wchar* content) {
  if (connection().isOpen == 0) {
    noteNoTransport();
    return false;
  }
  if (!content || !szFaceName) {
    noteNull(content ? "the face name" : "the content");
    return false;
  }
  return true;
}

// windowsfont and windowsfontW draw nothing for an empty content or face
// name: the call gives 0 and says which was empty.
int refuseEmpty(const char* content) {
  setLastError(content[0] == '\0' ? "the content is empty: there is no text to draw"
                                  : "the face name is empty: name an installed font");
  return 0;
}

}  // namespace

extern "C" {

int windowsfont(int x, int y, int fontheight, int rotation, int fontstyle, int fontunderline,
                const char* szFaceName, const char* content) {
  paloma::ApiLock lock;
  if (connection().isOpen == 0) {
    noteNoTransport();
    return 0;
  }
  if (!content || !szFaceName) {
    noteNull(content ? "the face name" : "the content");
    return 0;
  }
  if (content[0] == '\0' || szFaceName[0] == '\0') return refuseEmpty(content);
  HostText text;
  text.bytes = content;
  return sendTextBitmap(
      textBitmapArgs(x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName), text);
}

int windowsfontW(int x, int y, int fontheight, int rotation, int fontstyle, int fontunderline,
                 const char* szFaceName, const paloma_wchar* content) {
  paloma::ApiLock lock;
  if (connection().isOpen == 0) {
    noteNoTransport();
    return 0;
  }
  if (!content || !szFaceName) {
    noteNull(content ? "the face name" : "the content");
    return 0;
  }
  // The content is narrowed byte per unit into the 256-byte working buffer;
  // a unit above U+00FF or a text too long for it refuses the call.
  std::string narrow;
  if (!narrowWide(content, kWideArgCapacity, &narrow)) return 0;
  if (narrow.empty() || szFaceName[0] == '\0') return refuseEmpty(narrow.c_str());
  // Each narrowed byte is the code point it came from (ISO-8859-1), so the
  // text is drawn as those characters whatever the process's character set.
  std::u16string units;
  units.reserve(narrow.size());
  for (unsigned char c : narrow) units.push_back(static_cast<char16_t>(c));
  return sendTextBitmap(
      textBitmapArgs(x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName),
      wideHostText(units));
}

int windowsfontM(int x, int y, int fontheight, int rotation, int fontstyle, int fontunderline,
                 const char* szFaceName, const paloma_wchar* content) {
  paloma::ApiLock lock;
  if (!canDrawWide(szFaceName, content)) return 0;
  // Empty texts and face names are drawn and sent like any other.
  const std::u16string units = wideUnits(content);
  return sendTextBitmap(
      textBitmapArgs(x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName),
      wideHostText(units));
}

int windowsfontUnicode(int x, int y, int fontheight, int rotation, int fontstyle,
                       int fontunderline, const char* szFaceName, const paloma_wchar* content) {
  paloma::ApiLock lock;
  return windowsfontM(x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName, content);
}

int windowsfontUnicodeLengh(int x, int y, int fontheight, int rotation, int fontstyle,
                            int fontunderline, const char* szFaceName,
                            const paloma_wchar* content, int length) {
  paloma::ApiLock lock;
  if (!canDrawWide(szFaceName, content)) return 0;
  // The copy and its terminator must fit the working buffer.
  if (length < 0 || length >= kLengthCopyUnits) {
    setLastError("the length must be 0 to " + std::to_string(kLengthCopyUnits - 1) + " units");
    return 0;
  }
  std::array<char16_t, kLengthCopyUnits> copy{};
  int copied = 0;
  while (copied < length) {
    copy[static_cast<std::size_t>(copied)] = content[copied];
    ++copied;
    if (content[copied - 1] == u'\0') break;
  }
  const std::u16string_view units(copy.data(), std::char_traits<char16_t>::length(copy.data()));
  return sendTextBitmap(
      textBitmapArgs(x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName),
      wideHostText(units));
}

}  // extern "C"
