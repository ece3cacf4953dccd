// Host-font text sent to a printer slot: the rasteriser and the command write of
// the single connection, the slot's USB device or spooler job as the target.
// Unlike the single connection's twins, these write no trace file of the
// caller's text.
#include <string>

#include "connection/text_convert.h"
#include "fonttext/fonttext.h"
#include "paloma.h"
#include "slots/slot_table.h"
#include "platform/api_lock.h"

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

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

int windowsfontmult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                    int fontunderline, const char* szFaceName, const char* content) {
  paloma::ApiLock lock;
  if (!content || !szFaceName || content[0] == '\0' || szFaceName[0] == '\0') return 0;
  HostText text;
  text.bytes = content;
  return sendTextBitmapToSlot(n, x, y, fontheight, rotation, fontstyle, fontunderline,
                              szFaceName, text);
}

int windowsfontMmult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                     int fontunderline, const char* szFaceName, const paloma_wchar* content) {
  paloma::ApiLock lock;
  if (!content || !szFaceName || content[0] == 0 || szFaceName[0] == '\0') return 0;
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
