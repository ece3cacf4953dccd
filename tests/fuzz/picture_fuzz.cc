// Encoded pictures (PNG, JPEG, GIF, BMP, PNM, or anything) through the whole
// conversion to a BITMAP command. The input is:
//   byte 0      bits 0-1 dithering kind, 2-3 quarter turns, 4 invert,
//               5-6 the bitmap mode
//   byte 1      the printed width in dots (0: follow the height)
//   byte 2      the printed height in dots (0: follow the width)
//   the rest    the encoded picture
// The conversion either refuses with a reason, or gives exactly one command:
// "BITMAP 0,0,W,H,MODE," with W <= 300 bytes and H <= 12000 rows, W * H
// bytes, CR LF, and padding bits after the last dot of each row white.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/image.h"

using namespace paloma::image;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  Options o;
  o.dither = static_cast<Dither>(data[0] & 3);  // 3 is refused
  o.rotation = ((data[0] >> 2) & 3) * 90;
  o.invert = (data[0] & 0x10) != 0;
  o.mode = (data[0] >> 5) & 3;  // 3 is refused
  const int width = data[1], height = data[2];
  std::string wire;
  const Outcome r = encodedPictureCommand(data + 3, size - 3, 0, 0, width, height, o, &wire);
  if (!r.ok()) {
    if (r.reason.empty() || !wire.empty()) std::abort();
    return 0;
  }
  int x = -1, y = -1, w = -1, h = -1, mode = -1, used = 0;
  if (std::sscanf(wire.c_str(), "BITMAP %d,%d,%d,%d,%d,%n", &x, &y, &w, &h, &mode, &used) != 5 ||
      used == 0)
    std::abort();
  if (x != 0 || y != 0 || w <= 0 || w > 300 || h <= 0 || h > 12000 || mode != o.mode) std::abort();
  const std::size_t body = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (wire.size() != static_cast<std::size_t>(used) + body + 2) std::abort();
  if (wire.compare(wire.size() - 2, 2, "\r\n") != 0) std::abort();
  // A width asked for is the width sent.
  if (width > 0 && w != (width + 7) / 8) std::abort();
  if (width > 0 && width % 8 != 0) {
    const unsigned char pad = static_cast<unsigned char>(0xFFu >> (width % 8));
    for (int row = 0; row < h; ++row) {
      const auto last = static_cast<unsigned char>(wire[static_cast<std::size_t>(used) +
                                                        static_cast<std::size_t>(row) * w + w - 1]);
      if ((last & pad) != pad) std::abort();
    }
  }
  return 0;
}
