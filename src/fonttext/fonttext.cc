#include "fonttext/fonttext.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include <string>

#include "connection/connection_state.h"
#include "platform/last_error.h"

namespace paloma {

namespace {

// The canvas the block must fit in.
constexpr int kTextCanvasWidth = 2400;
constexpr int kTextCanvasHeight = 12000;
// The face name fits in 31 bytes (plus its NUL in the font record).
constexpr std::size_t kFaceNameMax = 31;

// The font description for the arguments: weight 400 if style < 2 else 700,
// italic = style & 1, underline = low 8 bits of underline != 0, escapement =
// rotation x 10 tenths of a degree.
FontSpec textFontSpec(const TextBitmapArgs& args) {
  FontSpec f;
  f.height = args.height;
  // Tenths of a degree; a turn that has no such value keeps its angle.
  f.escapementTenths = (args.rotation > INT_MAX / 10 || args.rotation < INT_MIN / 10)
                           ? (args.rotation % 360) * 10
                           : args.rotation * 10;
  f.weight = args.style < 2 ? 400 : 700;
  f.italic = (args.style & 1) != 0;
  f.underline = (args.underline & 0xFF) != 0;
  f.faceName = std::string(args.faceName);
  return f;
}

}  // namespace

TextGeometry textGeometry(int x, int y, int cx, int cy, int rotation) {
  TextGeometry g;
  const std::int64_t X = x, Y = y;
  switch (rotation) {
    case 0:
      g.w = cx; g.h = cy; g.x0 = 0; g.y0 = 0; g.X = X; g.Y = Y;
      break;
    case 90:
      g.w = cy; g.h = cx; g.x0 = 0; g.y0 = cx; g.X = X; g.Y = Y - cx;
      break;
    case 180:
      g.w = cx; g.h = cy; g.x0 = cx; g.y0 = cy; g.X = X - cx; g.Y = Y - cy;
      break;
    case 270:
      g.w = cy; g.h = cx; g.x0 = cy; g.y0 = 0; g.X = X - cy; g.Y = Y;
      break;
    default:
      g.w = cy; g.h = cy; g.x0 = cy; g.y0 = cy; g.X = X - cy; g.Y = Y - cy;
      break;
  }
  g.widthBytes = (g.w + 7) / 8;
  g.skipRows = g.Y < 0 ? -g.Y : 0;
  // Whole bytes: X = -1 and X = -8 skip one, X = -9 two (division truncates).
  g.skipBytes = g.X < 0 ? -((g.X - 7) / 8) : 0;
  return g;
}

namespace {

TextBitmapStatus refuse(TextBitmapStatus status, std::string why) {
  setLastError(std::move(why));
  return status;
}

bool sameFace(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// A face name the system does not have is no failure (another face stands
// in), but a developer may want to know which.
void noteSubstitutedFace(const FontSpec& font) {
  const std::string used = os().fontFaceUsed(font);
  if (!used.empty() && !sameFace(used, font.faceName))
    debugMessage("font \"" + font.faceName + "\" is not installed; \"" + used +
                 "\" stands in for it");
}

// Characters no installed font has are drawn as empty boxes: the call still
// succeeds (the rest of the text is right), but the thread's last error says
// so, and so does the debug detail.
void noteMissingGlyphs(const FontSpec& font, const HostText& text) {
  const int missing = os().missingGlyphs(font, text);
  if (missing <= 0) return;
  std::string why = std::to_string(missing) +
                    (missing == 1 ? " character has" : " characters have") +
                    " no glyph in any installed font (drawn as empty boxes) for the face \"" +
                    font.faceName +
                    "\": install a font that has them (for Chinese, Japanese and Korean, "
                    "the Debian package fonts-noto-cjk)";
  debugMessage(why);
  setLastError(std::move(why));
}

}  // namespace

TextBitmapStatus prepareTextBitmap(const TextBitmapArgs& args, const HostText& text,
                                   TextBitmap* out) {
  if (args.faceName.size() > kFaceNameMax)
    return refuse(TextBitmapStatus::FaceTooLong,
                  "the face name is " + std::to_string(args.faceName.size()) +
                      " bytes long; at most " + std::to_string(kFaceNameMax) + " fit");
  const FontSpec font = textFontSpec(args);

  if (debugEnabled()) noteSubstitutedFace(font);

  int cx = 0, cy = 0;
  if (!os().textExtent(font, text, &cx, &cy) || cx < 0 || cy < 0)
    return refuse(TextBitmapStatus::MeasureFailed,
                  "the text could not be measured in the face \"" + font.faceName + "\"");

  const TextGeometry g = textGeometry(args.x, args.y, cx, cy, args.rotation);
  if (g.w > kTextCanvasWidth || g.h > kTextCanvasHeight)
    return refuse(TextBitmapStatus::TooLarge,
                  "the text's bitmap would be " + std::to_string(g.w) + " x " +
                      std::to_string(g.h) + " dots; at most " + std::to_string(kTextCanvasWidth) +
                      " x " + std::to_string(kTextCanvasHeight) + " fit");
  // Nothing of the block lies right of and below the label origin: there
  // would be a header of no width or no rows, so nothing is sent.
  if ((g.skipBytes > 0 && g.skipBytes >= g.widthBytes) || (g.skipRows > 0 && g.skipRows >= g.h))
    return refuse(TextBitmapStatus::Clipped,
                  "the text lies wholly left of or above the label's origin; nothing was sent");

  out->geometry = g;
  out->rowBytes = g.widthBytes - static_cast<int>(g.skipBytes);
  out->rows = g.h - static_cast<int>(g.skipRows);
  out->bits.clear();

  if (out->rowBytes > 0 && out->rows > 0) {
    // Render only the part that is sent: the canvas from byte skipBytes and
    // row skipRows on, so the drawing origin moves by as much.
    const int left = static_cast<int>(g.skipBytes) * 8;
    const int top = static_cast<int>(g.skipRows);
    BitBlock block;
    if (!os().drawText(font, text, g.x0 - left, g.y0 - top, out->rowBytes * 8, out->rows, &block))
      return refuse(TextBitmapStatus::DrawFailed, "the text could not be drawn");
    const std::size_t size =
        static_cast<std::size_t>(out->rowBytes) * static_cast<std::size_t>(out->rows);
    if (block.widthBytes != out->rowBytes || block.rows != out->rows || block.bits.size() != size)
      return refuse(TextBitmapStatus::DrawFailed,
                    "the text was drawn in a block of the wrong size");
    out->bits = std::move(block.bits);
  }

  char header[50];
  const long long hx = g.X > 0 ? g.X : 0;
  const long long hy = g.Y > 0 ? g.Y : 0;
  const int n = std::snprintf(header, sizeof header, "BITMAP %lld,%lld,%d,%d,1,", hx, hy,
                              out->rowBytes, out->rows);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof header)
    return refuse(TextBitmapStatus::TooLarge, "the BITMAP header does not fit its buffer");
  out->header.assign(header, static_cast<std::size_t>(n));
  noteMissingGlyphs(font, text);
  return TextBitmapStatus::Ok;
}

std::string textBitmapCommand(const TextBitmap& bmp) {
  std::string wire;
  wire.reserve(bmp.header.size() + bmp.bits.size() + kCrlf.size());
  wire.append(bmp.header);
  wire.append(reinterpret_cast<const char*>(bmp.bits.data()), bmp.bits.size());
  wire.append(kCrlf);
  return wire;
}

bool writeTextBitmapCommand(const TextBitmap& bmp, const WriteTarget& target) {
  if (!copyToCommandBuffer(bmp.header)) return false;
  const std::string wire = textBitmapCommand(bmp);
  return writeAll(target, wire.data(), wire.size());
}

int sendTextBitmap(const TextBitmapArgs& args, const HostText& text) {
  const auto target = pickTarget(connection(), WriterFamily::Binary);
  if (!target) return 0;
  TextBitmap bmp;
  if (prepareTextBitmap(args, text, &bmp) != TextBitmapStatus::Ok) return 0;
  return writeTextBitmapCommand(bmp, *target) ? 1 : 0;
}

}  // namespace paloma
