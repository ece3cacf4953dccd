// The picture conversion: known answers for each step (linear light, area
// averaging, turns, the three ways to one bit) and the command bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image.h"
#include "support/picture_files.h"

namespace paloma {
namespace image {
namespace {

using test::Bytes;

PixelView view(const Bytes& p, int w, int h, PixelFormat f) {
  PixelView v;
  v.data = p.data();
  v.width = w;
  v.height = h;
  v.stride = static_cast<std::size_t>(w) * static_cast<std::size_t>(channelsOf(f));
  v.format = f;
  return v;
}

GrayImage gray(int w, int h, std::vector<std::uint16_t> values) {
  GrayImage g;
  g.width = w;
  g.height = h;
  g.values = std::move(values);
  return g;
}

std::uint16_t onePixel(const Bytes& p, PixelFormat f) {
  GrayImage g;
  EXPECT_TRUE(scaleToGray(view(p, 1, 1, f), 1, 1, 0, &g).ok());
  return g.values.at(0);
}

// Which dots are black, row by row ("#" black, "." white).
std::vector<std::string> dots(const BitImage& b) {
  std::vector<std::string> rows;
  for (int y = 0; y < b.height; ++y) {
    std::string r;
    for (int x = 0; x < b.width; ++x) r += b.black(x, y) ? '#' : '.';
    rows.push_back(r);
  }
  return rows;
}

Options with(Dither d, int threshold = 128) {
  Options o;
  o.dither = d;
  o.threshold = threshold;
  return o;
}

TEST(PictureGray, LinearLightLuminanceAndAlphaOverWhite) {
  struct Case {
    const char* what;
    Bytes pixel;
    PixelFormat format;
    std::uint16_t expected;
  } cases[] = {
      {"black", {0}, PixelFormat::Gray8, 0},
      {"white", {255}, PixelFormat::Gray8, 65535},
      {"sRGB mid-gray is 21.6% of the light", {128}, PixelFormat::Gray8, 14146},
      {"pure red", {255, 0, 0}, PixelFormat::Rgb8, 13933},
      {"pure green", {0, 255, 0}, PixelFormat::Rgb8, 46870},
      {"pure blue", {0, 0, 255}, PixelFormat::Rgb8, 4732},
      {"gray as RGB", {128, 128, 128}, PixelFormat::Rgb8, 14146},
      {"black, opaque", {0, 0, 0, 255}, PixelFormat::Rgba8, 0},
      {"black, transparent: white", {0, 0, 0, 0}, PixelFormat::Rgba8, 65535},
      {"black, half covered", {0, 0, 0, 128}, PixelFormat::Rgba8, 32639},
      {"gray+alpha transparent", {0, 0}, PixelFormat::GrayAlpha8, 65535},
      {"gray+alpha opaque", {128, 255}, PixelFormat::GrayAlpha8, 14146},
  };
  for (const auto& c : cases) EXPECT_EQ(onePixel(c.pixel, c.format), c.expected) << c.what;
}

TEST(PictureGray, AreaAveragingAddsLightNotLevels) {
  GrayImage g;
  // A fine black-and-white stripe pattern halved is half the light (32768),
  // not the sRGB level 128 (14146).
  ASSERT_TRUE(scaleToGray(view(Bytes{0, 255, 0, 255}, 4, 1, PixelFormat::Gray8), 2, 1, 0, &g).ok());
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{32768, 32768}));
  // Three to two: each output covers one and a half inputs.
  ASSERT_TRUE(scaleToGray(view(Bytes{0, 255, 255}, 3, 1, PixelFormat::Gray8), 2, 1, 0, &g).ok());
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{21845, 65535}));
  // Down the columns the same way.
  ASSERT_TRUE(scaleToGray(view(Bytes{0, 255, 255}, 1, 3, PixelFormat::Gray8), 1, 2, 0, &g).ok());
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{21845, 65535}));
  // Two to three: the middle output straddles both inputs.
  ASSERT_TRUE(scaleToGray(view(Bytes{0, 255}, 2, 1, PixelFormat::Gray8), 3, 1, 0, &g).ok());
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{0, 32768, 65535}));
  // A whole-number enlargement repeats each pixel.
  ASSERT_TRUE(scaleToGray(view(Bytes{0, 255, 255, 0}, 2, 2, PixelFormat::Gray8), 4, 4, 0, &g).ok());
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{0, 0, 65535, 65535, 0, 0, 65535, 65535,
                                                  65535, 65535, 0, 0, 65535, 65535, 0, 0}));
}

TEST(PictureGray, StrideSkipsTheBytesAfterEachRow) {
  const Bytes p = {0, 255, 77, 77, 255, 0, 77, 77};  // 2 x 2 with 2 spare bytes a row
  PixelView v = view(p, 2, 2, PixelFormat::Gray8);
  v.stride = 4;
  GrayImage g;
  ASSERT_TRUE(scaleToGray(v, 2, 2, 0, &g).ok());
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{0, 65535, 65535, 0}));
  v.stride = 1;
  EXPECT_EQ(scaleToGray(v, 2, 2, 0, &g).status, Status::Argument);
}

TEST(PictureGray, TurnsClockwise) {
  // 3 x 2:  a b c
  //         d e f
  const GrayImage g = gray(3, 2, {1, 2, 3, 4, 5, 6});
  struct Case {
    int rotation, w, h;
    std::vector<std::uint16_t> values;
  } cases[] = {
      {0, 3, 2, {1, 2, 3, 4, 5, 6}},
      {90, 2, 3, {4, 1, 5, 2, 6, 3}},
      {180, 3, 2, {6, 5, 4, 3, 2, 1}},
      {270, 2, 3, {3, 6, 2, 5, 1, 4}},
  };
  for (const auto& c : cases) {
    const GrayImage r = rotateGray(g, c.rotation);
    EXPECT_EQ(r.width, c.w) << c.rotation;
    EXPECT_EQ(r.height, c.h) << c.rotation;
    EXPECT_EQ(r.values, c.values) << c.rotation;
  }
}

TEST(PictureGray, ScaledToThePrintedSizeThenTurned) {
  // 4 x 2, black on the left half; printed 90 degrees turned at 2 x 4 dots:
  // the black half is on top.
  const Bytes p = test::grayPixels(4, 2, [](int x, int) { return x < 2 ? 0 : 255; });
  GrayImage g;
  ASSERT_TRUE(scaleToGray(view(p, 4, 2, PixelFormat::Gray8), 2, 4, 90, &g).ok());
  ASSERT_EQ(g.width, 2);
  ASSERT_EQ(g.height, 4);
  EXPECT_EQ(g.values, (std::vector<std::uint16_t>{0, 0, 0, 0, 65535, 65535, 65535, 65535}));
}

TEST(PictureSize, AspectKeptAndBoundsChecked) {
  struct Case {
    int w, h, rotation, width, height;
    Status status;
    int outW, outH;
  } cases[] = {
      {100, 50, 0, 0, 0, Status::Ok, 100, 50},         // a dot per pixel
      {100, 50, 0, 200, 0, Status::Ok, 200, 100},      // height follows
      {100, 50, 0, 0, 25, Status::Ok, 50, 25},         // width follows
      {100, 50, 0, 30, 40, Status::Ok, 30, 40},        // both given: stretched
      {100, 50, 90, 0, 0, Status::Ok, 50, 100},        // turned
      {100, 50, 270, 100, 0, Status::Ok, 100, 200},
      {1000, 1, 0, 10, 0, Status::Ok, 10, 1},          // never less than one dot
      {3, 2, 0, 4, 0, Status::Ok, 4, 3},               // 2.67 rounds to 3
      {100, 50, 0, -1, 0, Status::Argument, 0, 0},
      {0, 50, 0, 10, 10, Status::ZeroSize, 0, 0},
      {100, 50, 0, 2401, 0, Status::TooLarge, 0, 0},
      {100, 50, 0, 0, 12001, Status::TooLarge, 0, 0},
      {3000, 10, 0, 0, 0, Status::TooLarge, 0, 0},     // a dot per pixel is too wide
      {10, 3000, 90, 0, 0, Status::TooLarge, 0, 0},
  };
  for (const auto& c : cases) {
    int W = 0, H = 0;
    const Outcome r = printedSize(c.w, c.h, c.rotation, c.width, c.height, &W, &H);
    EXPECT_EQ(r.status, c.status) << c.w << "x" << c.h << " to " << c.width << "x" << c.height;
    if (c.status == Status::Ok) {
      EXPECT_EQ(W, c.outW) << c.w << "x" << c.h << " to " << c.width << "x" << c.height;
      EXPECT_EQ(H, c.outH) << c.w << "x" << c.h << " to " << c.width << "x" << c.height;
    } else {
      EXPECT_FALSE(r.reason.empty());
    }
  }
}

TEST(PictureDots, ThresholdComparesEncodedLevels) {
  // Levels of one row; the threshold is a level of the encoded gray.
  const Bytes levels = {0, 64, 127, 128, 129, 200, 255, 255, 30};
  GrayImage g;
  ASSERT_TRUE(scaleToGray(view(levels, 9, 1, PixelFormat::Gray8), 9, 1, 0, &g).ok());
  EXPECT_EQ(dots(toOneBit(g, with(Dither::Threshold, 128))), (std::vector<std::string>{"###.....#"}));
  EXPECT_EQ(dots(toOneBit(g, with(Dither::Threshold, 0))), (std::vector<std::string>{"........."}));
  EXPECT_EQ(dots(toOneBit(g, with(Dither::Threshold, 255))), (std::vector<std::string>{"######..#"}));
  // Nine dots take two bytes; the seven padding bits are white.
  const BitImage b = toOneBit(g, with(Dither::Threshold, 128));
  EXPECT_EQ(b.rowBytes, 2);
  EXPECT_EQ(b.bytes, (std::vector<std::uint8_t>{0x1F, 0x7F}));
}

TEST(PictureDots, InvertSwapsBlackAndWhiteButNotThePadding) {
  const GrayImage g = gray(3, 1, {0, 65535, 0});
  Options o = with(Dither::Threshold);
  o.invert = true;
  const BitImage b = toOneBit(g, o);
  EXPECT_EQ(dots(b), (std::vector<std::string>{".#."}));
  EXPECT_EQ(b.bytes, (std::vector<std::uint8_t>{0xBF}));
}

TEST(PictureDots, OrderedDitherFollowsTheBayerMatrix) {
  // Half the light: 32 of 64 cells white, those of the matrix values 0..31.
  const GrayImage half = gray(8, 8, std::vector<std::uint16_t>(64, 32768));
  EXPECT_EQ(dots(toOneBit(half, with(Dither::Ordered))),
            (std::vector<std::string>{".#.#.#.#", "#.#.#.#.", ".#.#.#.#", "#.#.#.#.",
                                      ".#.#.#.#", "#.#.#.#.", ".#.#.#.#", "#.#.#.#."}));
  // A quarter: the cells 0..15.
  const GrayImage quarter = gray(8, 8, std::vector<std::uint16_t>(64, 16384));
  EXPECT_EQ(dots(toOneBit(quarter, with(Dither::Ordered))),
            (std::vector<std::string>{".#.#.#.#", "########", ".#.#.#.#", "########",
                                      ".#.#.#.#", "########", ".#.#.#.#", "########"}));
  // The pattern repeats every 8 dots, from the picture's corner.
  const GrayImage wide = gray(16, 1, std::vector<std::uint16_t>(16, 32768));
  EXPECT_EQ(dots(toOneBit(wide, with(Dither::Ordered))),
            (std::vector<std::string>{".#.#.#.#.#.#.#.#"}));
}

TEST(PictureDots, ErrorDiffusionKnownAnswer) {
  // Linear 32957 (level 188) on 2 x 2: white, its error darkens the right
  // neighbour to black; the second row runs right to left and ends a
  // checkerboard.
  const GrayImage g = gray(2, 2, {32957, 32957, 32957, 32957});
  const BitImage b = toOneBit(g, with(Dither::Diffusion));
  EXPECT_EQ(dots(b), (std::vector<std::string>{".#", "#."}));
  EXPECT_EQ(b.bytes, (std::vector<std::uint8_t>{0xBF, 0x7F}));
  // Solid black and white stay solid.
  EXPECT_EQ(dots(toOneBit(gray(3, 2, std::vector<std::uint16_t>(6, 0)), with(Dither::Diffusion))),
            (std::vector<std::string>{"###", "###"}));
  EXPECT_EQ(dots(toOneBit(gray(3, 2, std::vector<std::uint16_t>(6, 65535)), with(Dither::Diffusion))),
            (std::vector<std::string>{"...", "..."}));
}

TEST(PictureDots, MidGrayPrintsAsMidGray) {
  // An sRGB level 128 field: from a distance the dots give back 21.6% of
  // the light, the light of level 128, by both dithering kinds.
  const Bytes field = test::grayPixels(64, 64, [](int, int) { return 128; });
  GrayImage g;
  ASSERT_TRUE(scaleToGray(view(field, 64, 64, PixelFormat::Gray8), 64, 64, 0, &g).ok());
  for (Dither d : {Dither::Ordered, Dither::Diffusion}) {
    const BitImage b = toOneBit(g, with(d));
    int white = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) white += b.black(x, y) ? 0 : 1;
    EXPECT_NEAR(white / 4096.0, 14146 / 65535.0, 0.01) << static_cast<int>(d);
  }
}

TEST(PictureCommand, HeaderRowsAndLineEnd) {
  BitImage b;
  b.width = 10;
  b.height = 2;
  b.rowBytes = 2;
  b.bytes = {0x00, 0x3F, 0xFF, 0x7F};
  EXPECT_EQ(bitmapCommand(10, 20, b, 1),
            std::string("BITMAP 10,20,2,2,1,") + std::string("\x00\x3F\xFF\x7F", 4) + "\r\n");
}

TEST(PictureCommand, WholeChainAndRefusals) {
  // 2 x 1 black and white, twice as large, turned 90: 2 wide, 4 high.
  const Bytes p = {0, 255};
  Options o = with(Dither::Threshold);
  o.rotation = 90;
  o.mode = 0;
  std::string wire;
  ASSERT_TRUE(pictureCommand(view(p, 2, 1, PixelFormat::Gray8), 5, 6, 2, 0, o, &wire).ok());
  EXPECT_EQ(wire, std::string("BITMAP 5,6,1,4,0,") + "\x3F\x3F\xFF\xFF" + "\r\n");

  struct Refusal {
    const char* what;
    Options options;
    int x, y, width;
    Status status;
  };
  Options bad[5] = {o, o, o, o, o};
  bad[0].rotation = 45;
  bad[1].threshold = 256;
  bad[2].mode = 3;
  bad[3].dither = static_cast<Dither>(7);
  const Refusal refusals[] = {
      {"rotation", bad[0], 0, 0, 0, Status::Argument},
      {"threshold", bad[1], 0, 0, 0, Status::Argument},
      {"mode", bad[2], 0, 0, 0, Status::Argument},
      {"dither", bad[3], 0, 0, 0, Status::Argument},
      {"negative x", bad[4], -1, 0, 0, Status::Argument},
      {"negative width", bad[4], 0, 0, -5, Status::Argument},
      {"too wide", bad[4], 0, 0, 5000, Status::TooLarge},
  };
  for (const auto& r : refusals) {
    wire = "untouched";
    const Outcome out = pictureCommand(view(p, 2, 1, PixelFormat::Gray8), r.x, r.y, r.width, 0,
                                       r.options, &wire);
    EXPECT_EQ(out.status, r.status) << r.what;
    EXPECT_FALSE(out.reason.empty()) << r.what;
    EXPECT_EQ(wire, "untouched") << r.what;
  }
  PixelView none = view(p, 2, 1, PixelFormat::Gray8);
  none.data = nullptr;
  EXPECT_EQ(pictureCommand(none, 0, 0, 0, 0, o, &wire).status, Status::Argument);
  EXPECT_EQ(pictureCommand(view(p, 0, 1, PixelFormat::Gray8), 0, 0, 0, 0, o, &wire).status,
            Status::ZeroSize);
}

}  // namespace
}  // namespace image
}  // namespace paloma
