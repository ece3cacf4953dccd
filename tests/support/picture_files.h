// Pictures made in memory for the tests: encoded by stb_image_write (PNG,
// JPEG, BMP), or written byte by byte (GIF, PNM, a header of any size).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace paloma {
namespace test {

using Bytes = std::vector<std::uint8_t>;

// `channels` 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA; rows packed, top first.
Bytes encodePng(int w, int h, int channels, const Bytes& pixels);
Bytes encodeJpeg(int w, int h, int channels, const Bytes& pixels, int quality = 95);
Bytes encodeBmp(int w, int h, int channels, const Bytes& pixels);
// A binary gray PNM (P5) of 8-bit levels.
Bytes encodePgm(int w, int h, const Bytes& levels);
// An uncompressed-looking GIF of w x h with a two-colour palette (black,
// white); `black` lists the black pixels row by row (1 black, 0 white).
Bytes encodeGif(int w, int h, const Bytes& black);
// A PNG signature and an IHDR chunk claiming w x h 8-bit gray, and nothing
// after it: the header a decoder reads first.
Bytes pngHeaderOnly(std::uint32_t w, std::uint32_t h);

// A gray picture of w x h: `f(x, y)` gives each level.
template <typename F>
Bytes grayPixels(int w, int h, F f) {
  Bytes p(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(f(x, y));
  return p;
}

}  // namespace test
}  // namespace paloma
