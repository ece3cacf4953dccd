// The same picture gives the same command on every platform: the commands
// of a set of pictures and options, by checksum. The Windows build runs this
// test too (under Wine), so its decoder, scaling and dithering must agree
// with Linux's bit for bit. A change of the conversion changes these sums on
// purpose only.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image.h"
#include "support/picture_files.h"

namespace paloma {
namespace image {
namespace {

using test::Bytes;

std::uint64_t fnv1a(const std::string& s) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// A photo-like RGB picture: rings of light, a dark block, fine noise.
Bytes photoRgb(int w, int h) {
  Bytes rgb(static_cast<std::size_t>(w) * h * 3);
  std::uint32_t seed = 7;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28) - 8;
      // Integer rings, so that the input itself is the same everywhere.
      const int d2 = (x - w / 2) * (x - w / 2) + (y - h / 3) * (y - h / 3);
      int base = (d2 / 37) % 256;
      if (x > w / 5 && x < w / 2 && y > h / 2 && y < 3 * h / 4) base = 30;
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      p[0] = static_cast<std::uint8_t>(std::max(0, std::min(255, base + noise + 20)));
      p[1] = static_cast<std::uint8_t>(std::max(0, std::min(255, base + noise)));
      p[2] = static_cast<std::uint8_t>(std::max(0, std::min(255, base + noise - y / 8)));
    }
  return rgb;
}

Bytes withAlpha(const Bytes& rgb) {
  Bytes rgba;
  for (std::size_t i = 0; i < rgb.size(); i += 3)
    rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], static_cast<std::uint8_t>((i / 3) % 256)});
  return rgba;
}

TEST(PictureSameBits, CommandChecksumsAreThoseOfEveryPlatform) {
  const int w = 160, h = 120;
  const Bytes rgb = photoRgb(w, h);
  const Bytes jpeg = test::encodeJpeg(w, h, 3, rgb, 85);
  const Bytes png = test::encodePng(w, h, 4, withAlpha(rgb));
  Bytes black(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < black.size(); ++i) black[i] = rgb[i * 3 + 1] < 100;
  const Bytes gif = test::encodeGif(w, h, black);
  struct Case {
    const char* name;
    const Bytes* data;
    Dither dither;
    int rotation, width, height;
    std::uint64_t sum;
  } cases[] = {
      {"JPEG diffusion", &jpeg, Dither::Diffusion, 0, 203, 0, 0x9379eb0fbd247b81ull},
      {"JPEG ordered 90", &jpeg, Dither::Ordered, 90, 0, 300, 0xe6aa7a4368e64f8bull},
      {"JPEG threshold 270", &jpeg, Dither::Threshold, 270, 97, 0, 0xfd7137f5c3ab430dull},
      {"PNG RGBA diffusion 180", &png, Dither::Diffusion, 180, 0, 0, 0xe20edcd8d53a3726ull},
      {"PNG RGBA ordered enlarged", &png, Dither::Ordered, 0, 401, 0, 0xb9f44373e021aca9ull},
      {"GIF threshold", &gif, Dither::Threshold, 0, 80, 0, 0x01ce03953784e4deull},
  };
  // The encoder that made the JPEG must agree too, or the sums below say
  // nothing about the library.
  EXPECT_EQ(fnv1a(std::string(jpeg.begin(), jpeg.end())), 7800591701899099100ull);
  for (const auto& c : cases) {
    Options o;
    o.dither = c.dither;
    o.rotation = c.rotation;
    std::string wire;
    ASSERT_TRUE(encodedPictureCommand(c.data->data(), c.data->size(), 3, 5, c.width, c.height, o,
                                      &wire).ok()) << c.name;
    char got[32];
    std::snprintf(got, sizeof got, "0x%016llx", static_cast<unsigned long long>(fnv1a(wire)));
    char want[32];
    std::snprintf(want, sizeof want, "0x%016llx", static_cast<unsigned long long>(c.sum));
    EXPECT_STREQ(got, want) << c.name << " (" << wire.size() << " bytes)";
  }
}

}  // namespace
}  // namespace image
}  // namespace paloma
