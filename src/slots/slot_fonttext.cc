// Host-font text sent to a printer slot: the rasteriser and the command write of
// the single connection, the slot's USB device or spooler job as the target.
// Unlike the single connection's twins, these write no trace file of the
// caller's text.
#include <string>

#include "connection/text_convert.h"
#include "connection/write_path.h"
#include "fonttext/fonttext.h"
#include "paloma.h"
#include "slots/slot_table.h"
#include "platform/api_lock.h"
#include "platform/last_error.h"

namespace paloma {
namespace {

int sendTextBitmapToSlot(int n, int x, int y, int height, int rotation, int style, int underline,
                         const char* faceName, const HostText& text) {
  // A slot that cannot take the bitmap (number outside 1 to 5, closed, or
  // open only on the network) gets nothing and nothing is drawn.
  auto target = slotTarget(n, /*allowNetwork=*/false);
  if (!target) return 0;
  TextBitmap bmp;
  if (prepareTextBitmap(textBitmapArgs(x, y, height, rotation, style, underline, faceName), text,
                        &bmp) != TextBitmapStatus::Ok) return 0;
  return writeTextBitmapCommand(bmp, *target) ? 1 : 0;
}

// A missing or empty content or face name draws nothing: false, with the
// reason recorded as the single connection's twins record it.
bool haveTextAndFace(const char* faceName, const void* content, bool contentEmpty) {
  if (!content || !faceName) {
    noteNull(content ? "the face name" : "the content");
    return false;
  }
  if (contentEmpty || faceName[0] == '\0') {
    setLastError(contentEmpty ? "the content is empty: there is no text to draw"
                              : "the face name is empty: name an installed font");
    return false;
  }
  return true;
}

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

int windowsfontmult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                    int fontunderline, const char* szFaceName, const char* content) {
  paloma::ApiLock lock;
  if (!haveTextAndFace(szFaceName, content, content && content[0] == '\0')) return 0;
  HostText text;
  text.bytes = content;
  return sendTextBitmapToSlot(n, x, y, fontheight, rotation, fontstyle, fontunderline,
                              szFaceName, text);
}

int windowsfontMmult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                     int fontunderline, const char* szFaceName, const paloma_wchar* content) {
  paloma::ApiLock lock;
  if (!haveTextAndFace(szFaceName, content, content && content[0] == 0)) return 0;
  const std::u16string units = wideUnits(content);
  return sendTextBitmapToSlot(n, x, y, fontheight, rotation, fontstyle, fontunderline,
                              szFaceName, wideHostText(units));
}

int windowsfontUnicodemult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                           int fontunderline, const char* szFaceName,
                           const paloma_wchar* content) {
  paloma::ApiLock lock;
  return windowsfontMmult(n, x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName,
                          content);
}

}  // extern "C"
