// Host-font text into a BITMAP command, drawn by the real text backend and
// written to the recording fake. The input is:
//   byte 0      bits 0-1 which function (windowsfont, windowsfontW,
//               windowsfontM, windowsfontUnicodeLengh); bit 2: the rotation
//               is a quarter turn picked by bits 3-4, else bytes 7-8 give it
//   bytes 1-2   x, 3-4 y (signed 16-bit, little endian)
//   byte 5      the height: a signed byte times two (-256..254 pixels)
//   byte 6      style (bit 0 italic, 2 or more bold) and, in bit 7, underline
//   bytes 7-8   rotation in degrees (signed 16-bit) when byte 0 asks for it
//   byte 9      the face, from a short list (a missing face, an empty name
//               and one too long included)
//   the rest    the content: bytes for windowsfont, UTF-16 units (little
//               endian pairs) for the others; at most 48 characters, so that
//               one unit stays within milliseconds.
// After the call the bytes on the wire must be nothing at all (result 0) or
// exactly one command: "BITMAP X,Y,W,H,1," with X, Y >= 0, W <= 300 bytes and
// H <= 12000 rows, then W * H bytes, then CR LF (result 1).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/os.h"
#include "support/fake_os.h"

using namespace paloma;
using paloma::test::FakeOs;

namespace {

const std::string kPeer = "127.0.0.1:9100";
constexpr std::size_t kMaxChars = 48;

// The fake, with the host's real text measuring and drawing.
class HostTextFake : public FakeOs {
 public:
  bool textExtent(const FontSpec& font, const HostText& text, int* cx, int* cy) override {
    return platformOs().textExtent(font, text, cx, cy);
  }
  bool drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                BitBlock* out) override {
    return platformOs().drawText(font, text, x0, y0, w, h, out);
  }
};

const char* const kFaces[] = {"DejaVu Sans", "DejaVu Sans Mono", "Liberation Serif",
                              "Noto Sans CJK JP", "No Such Face At All", "",
                              "Liberation Sans Narrow Condense",  // 31 bytes
                              "Liberation Sans Narrow Condensed2"};

int s16(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | (p[1] << 8)); }

// The one command the wire may hold: true when it is well formed.
bool wellFormed(const std::string& wire) {
  int x = 0, y = 0, w = 0, h = 0, used = 0;
  if (std::sscanf(wire.c_str(), "BITMAP %d,%d,%d,%d,1,%n", &x, &y, &w, &h, &used) != 4 ||
      used == 0)
    return false;
  if (x < 0 || y < 0 || w < 0 || h < 0 || w > 300 || h > 12000) return false;
  const std::size_t body = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (wire.size() != static_cast<std::size_t>(used) + body + 2) return false;
  return wire.compare(wire.size() - 2, 2, "\r\n") == 0;
}

}  // namespace

extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libpango\nleak:libcairo\nleak:libglib\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 10) return 0;
  HostTextFake f;
  paloma::test::resetLibraryState();
  setOs(&f);
  f.addTcpPeer(kPeer);
  openethernet("127.0.0.1", 9100);
  f.clearJournal();

  const int function = data[0] & 3;
  const int x = s16(data + 1), y = s16(data + 3);
  const int height = static_cast<std::int8_t>(data[5]) * 2;
  const int style = data[6] & 0x7F, underline = data[6] >> 7;
  const int rotation = (data[0] & 4) ? ((data[0] >> 3) & 3) * 90 : s16(data + 7);
  const char* face = kFaces[data[9] % (sizeof kFaces / sizeof kFaces[0])];
  const std::uint8_t* rest = data + 10;
  std::size_t restSize = size - 10;

  int result = 0;
  if (function == 0) {
    std::string content(reinterpret_cast<const char*>(rest),
                        restSize < kMaxChars ? restSize : kMaxChars);
    content = content.c_str();  // up to the first NUL, as the caller's text ends there
    result = windowsfont(x, y, height, rotation, style, underline, face, content.c_str());
  } else {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < restSize && units.size() < kMaxChars; i += 2)
      units.push_back(static_cast<char16_t>(rest[i] | (rest[i + 1] << 8)));
    const std::u16string text = units.c_str();
    if (function == 1)
      result = windowsfontW(x, y, height, rotation, style, underline, face, text.c_str());
    else if (function == 2)
      result = windowsfontM(x, y, height, rotation, style, underline, face, text.c_str());
    else
      result = windowsfontUnicodeLengh(x, y, height, rotation, style, underline, face,
                                       units.c_str(), static_cast<int>(units.size()));
  }

  const std::string wire = f.wire(kPeer);
  if (result == 0 ? !wire.empty() : !wellFormed(wire)) std::abort();
  setOs(nullptr);
  paloma::test::resetLibraryState();
  return 0;
}
