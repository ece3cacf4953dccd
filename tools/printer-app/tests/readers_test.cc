#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdf_filter.h"
#include "picture_filter.h"

namespace paloma::printapp {
namespace {

TEST(PgmHeader, WholePartialAndRefused) {
  unsigned w = 0, h = 0;
  const std::string good = "P5\n# made here\n812 1218\n255\n";
  EXPECT_EQ(parsePgmHeader(good.data(), good.size(), 60000, &w, &h),
            static_cast<long>(good.size()));
  EXPECT_EQ(w, 812u);
  EXPECT_EQ(h, 1218u);
  // Every cut short of the whole header asks for more.
  for (size_t n = 1; n < good.size(); ++n)
    EXPECT_EQ(parsePgmHeader(good.data(), n, 60000, &w, &h), 0) << n;
  for (const char* bad : {"P6\n1 1\n255\n", "P5\n0 10\n255\n", "P5\n10 10\n65535\n",
                          "P5\n70000 10\n255\n", "P5\nx\n", "Q5"}) {
    EXPECT_EQ(parsePgmHeader(bad, std::strlen(bad), 60000, &w, &h), -1) << bad;
  }
}

void chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  const uint32_t len = static_cast<uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) png.push_back(static_cast<uint8_t>(len >> s));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
  for (int s = 24; s >= 0; s -= 8) png.push_back(static_cast<uint8_t>(crc >> s));
}

// A gray-with-alpha PNG, 2 x 1: an opaque black dot and a transparent one.
std::vector<uint8_t> twoDotPng() {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  chunk(png, "IHDR", {0, 0, 0, 2, 0, 0, 0, 1, 8, 4, 0, 0, 0});
  const uint8_t raw[] = {0, 0x00, 0xff, 0x00, 0x00};  // filter, (gray, alpha) x 2
  uLongf size = compressBound(sizeof raw);
  std::vector<uint8_t> z(size);
  compress(z.data(), &size, raw, sizeof raw);
  z.resize(size);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

TEST(PictureReader, AlphaLiesOnWhiteAndDamageIsRefused) {
  const std::vector<uint8_t> png = twoDotPng();
  GrayPicture p;
  std::string error;
  ASSERT_TRUE(decodeToGray(png.data(), png.size(), 100, 100, 1 << 20, &p, &error)) << error;
  EXPECT_EQ(p.width, 2u);
  EXPECT_EQ(p.height, 1u);
  EXPECT_EQ(p.pixels, (std::vector<uint8_t>{0, 255}));

  // Cut anywhere before the pixels are whole, it is an error, never a
  // picture (a missing checksum or end chunk after them loses nothing).
  for (size_t n = 0; n < png.size() - 16; n += 3) {
    GrayPicture q;
    EXPECT_FALSE(decodeToGray(png.data(), n, 100, 100, 1 << 20, &q, &error)) << n;
  }
  // Larger than the bounds.
  EXPECT_FALSE(decodeToGray(png.data(), png.size(), 1, 100, 1 << 20, &p, &error));
  EXPECT_FALSE(decodeToGray(png.data(), png.size(), 100, 100, 1, &p, &error));
}

}  // namespace
}  // namespace paloma::printapp
