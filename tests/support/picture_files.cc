#include "support/picture_files.h"

#include <algorithm>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace paloma {
namespace test {

namespace {

void append(void* context, void* data, int size) {
  auto* out = static_cast<Bytes*>(context);
  const auto* p = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), p, p + size);
}

void put16le(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32be(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

}  // namespace

Bytes encodePng(int w, int h, int channels, const Bytes& pixels) {
  Bytes out;
  stbi_write_png_to_func(append, &out, w, h, channels, pixels.data(), w * channels);
  return out;
}

Bytes encodeJpeg(int w, int h, int channels, const Bytes& pixels, int quality) {
  Bytes out;
  stbi_write_jpg_to_func(append, &out, w, h, channels, pixels.data(), quality);
  return out;
}

Bytes encodeBmp(int w, int h, int channels, const Bytes& pixels) {
  Bytes out;
  stbi_write_bmp_to_func(append, &out, w, h, channels, pixels.data());
  return out;
}

Bytes encodePgm(int w, int h, const Bytes& levels) {
  const std::string head = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  Bytes out(head.begin(), head.end());
  out.insert(out.end(), levels.begin(), levels.end());
  return out;
}

// LZW with a code size of 2 and no compression: a clear code before every
// pixel keeps the code width at 3 bits.
Bytes encodeGif(int w, int h, const Bytes& black) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  put16le(b, static_cast<unsigned>(w));
  put16le(b, static_cast<unsigned>(h));
  b.push_back(0x80);  // a global colour table of 2 entries
  b.push_back(0);
  b.push_back(0);
  const std::uint8_t palette[6] = {0, 0, 0, 255, 255, 255};
  b.insert(b.end(), palette, palette + 6);
  b.push_back(0x2C);  // the image
  put16le(b, 0);
  put16le(b, 0);
  put16le(b, static_cast<unsigned>(w));
  put16le(b, static_cast<unsigned>(h));
  b.push_back(0);
  b.push_back(2);  // minimum code size
  Bytes codes;
  std::uint32_t acc = 0;
  int bits = 0;
  auto code = [&](unsigned c) {
    acc |= c << bits;
    bits += 3;
    while (bits >= 8) {
      codes.push_back(static_cast<std::uint8_t>(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (std::uint8_t px : black) {
    code(4);                 // clear
    code(px ? 0u : 1u);      // palette index
  }
  code(5);  // end of information
  if (bits > 0) codes.push_back(static_cast<std::uint8_t>(acc & 0xFF));
  for (std::size_t i = 0; i < codes.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, codes.size() - i);
    b.push_back(static_cast<std::uint8_t>(n));
    b.insert(b.end(), codes.begin() + static_cast<long>(i), codes.begin() + static_cast<long>(i + n));
  }
  b.push_back(0);
  b.push_back(0x3B);
  return b;
}

Bytes pngHeaderOnly(std::uint32_t w, std::uint32_t h) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  put32be(b, 13);
  const char* ihdr = "IHDR";
  b.insert(b.end(), ihdr, ihdr + 4);
  put32be(b, w);
  put32be(b, h);
  b.push_back(8);  // depth
  b.push_back(0);  // gray
  b.push_back(0);
  b.push_back(0);
  b.push_back(0);
  put32be(b, 0);   // CRC (not checked by the reader)
  return b;
}

}  // namespace test
}  // namespace paloma
