// Host-font text sent as one "BITMAP" command.
//
// The text is measured and drawn through the OS seam into a one-bit block
// (text 0, background 1, leftmost pixel in the most significant bit) and sent
// as the header "BITMAP X,Y,W,H,1," without line end, the rows, and a closing
// "\r\n". The three go to the transport in one write: the printer sees the
// same bytes as from a write of the header, one per row and one of the line
// end, for a fraction of the calls. (The header still passes through the
// command buffer, as every binary-buffer write does.)
//
// Drawing is kept apart from writing, so that every function that sends such a
// bitmap (the single connection, the printer slots) shares one rasteriser call
// and one write:
//
//   TextBitmap bmp;
//   TextBitmapStatus s = prepareTextBitmap(args, text, &bmp);   // measure, draw
//   if (s != TextBitmapStatus::Ok) return 0;                     // nothing sent
//   return writeTextBitmapCommand(bmp, target) ? 1 : 0;
//
// Geometry. The drawing is the block the text covers on a notional canvas of
// 2400 x 12000 pixels; the caller's (x, y) is the reference point (top-left of
// the unrotated text cell) and the text turns counter-clockwise about it:
//
//   rotation   w    h    drawing origin   label corner
//   0          cx   cy   (0, 0)           (x, y)
//   90         cy   cx   (0, cx)          (x, y - cx)
//   180        cx   cy   (cx, cy)         (x - cx, y - cy)
//   270        cy   cx   (cy, 0)          (x - cy, y)
//   other      cy   cy   (cy, cy)         (x - cy, y - cy)
//
// Rows above the label origin (Y < 0) and whole bytes left of it (X < 0,
// rounded up to a byte) are not sent. Only the sent part of the block is
// rendered; its bytes are those of the full canvas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "connection/write_path.h"
#include "platform/os.h"

namespace paloma {

// The six numeric arguments every host-font function takes, and the face.
struct TextBitmapArgs {
  int x = 0;
  int y = 0;
  int height = 0;     // >0 cell height, <0 character height, pixels
  int rotation = 0;   // degrees counter-clockwise
  int style = 0;      // bit 0 italic; >= 2 bold
  int underline = 0;  // low 8 bits: non-zero underlines
  std::string_view faceName;
};

// The arguments in the order every host-font function takes them.
inline TextBitmapArgs textBitmapArgs(int x, int y, int height, int rotation, int style,
                                     int underline, std::string_view faceName) {
  TextBitmapArgs a;
  a.x = x;
  a.y = y;
  a.height = height;
  a.rotation = rotation;
  a.style = style;
  a.underline = underline;
  a.faceName = faceName;
  return a;
}

// A UTF-16 text to draw; `units` must outlive the result.
inline HostText wideHostText(std::u16string_view units) {
  HostText t;
  t.utf16 = units;
  t.wide = true;
  return t;
}

// Derived quantities for an unrotated extent cx x cy. Corner coordinates are
// 64-bit so that no caller's position can overflow.
struct TextGeometry {
  int w = 0, h = 0;           // block on the canvas
  int x0 = 0, y0 = 0;         // drawing origin on the canvas
  std::int64_t X = 0, Y = 0;  // label corner of the block
  int widthBytes = 0;         // (w + 7) / 8
  std::int64_t skipRows = 0;  // rows above the label origin
  std::int64_t skipBytes = 0; // whole bytes left of the label origin
};
TextGeometry textGeometry(int x, int y, int cx, int cy, int rotation);

// What prepareTextBitmap made of the arguments.
enum class TextBitmapStatus {
  Ok,
  FaceTooLong,     // face name over 31 bytes
  MeasureFailed,   // the rasteriser could not measure the text
  TooLarge,        // the block does not fit the 2400 x 12000 canvas
  Clipped,         // wholly left of or above the label origin: nothing to send
  DrawFailed,      // the rasteriser could not draw
};

// The part of the block that is sent: the header and rowBytes x rows bytes.
struct TextBitmap {
  std::string header;  // "BITMAP X,Y,W,H,1," without line end
  TextGeometry geometry;
  int rowBytes = 0;    // widthBytes - skipBytes
  int rows = 0;        // h - skipRows
  std::vector<std::uint8_t> bits;  // rows of rowBytes bytes, top row first

  const std::uint8_t* row(int r) const {
    return bits.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(rowBytes);
  }
};

// Measures and draws `text` through os() and fills `out`. Does not look at any
// connection and writes nothing.
TextBitmapStatus prepareTextBitmap(const TextBitmapArgs& args, const HostText& text,
                                   TextBitmap* out);

// The whole command as it goes on the wire: header, rows top to bottom, "\r\n".
std::string textBitmapCommand(const TextBitmap& bmp);

// Copies the header into the command buffer, then writes the whole command
// in one write through the transport's raw write, continued until every byte
// has been accepted (writeAll). False, with nothing after the failure
// written, when the header does not fit the buffer or the transport failed.
bool writeTextBitmapCommand(const TextBitmap& bmp, const WriteTarget& target);

// The whole command on the current connection (the caller has applied its
// guards): prepare, then the command through the first active transport in
// the Binary order. 1 when every byte
// was accepted; 0 when nothing could be sent (no transport, refused or
// clipped text) or a write failed (rows already written stay written).
int sendTextBitmap(const TextBitmapArgs& args, const HostText& text);

}  // namespace paloma
