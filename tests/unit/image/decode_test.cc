// Decoding: each format read back exactly, and damaged, cut-short, empty,
// unknown and oversized data refused with a reason, before any pixel memory
// is taken for a header beyond the bounds.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "image/image.h"
#include "support/picture_files.h"

namespace paloma {
namespace image {
namespace {

using test::Bytes;

const Bytes kLevels = test::grayPixels(5, 3, [](int x, int y) { return (x + 5 * y) * 17; });
const Bytes kBlack = test::grayPixels(5, 3, [](int x, int y) { return (x + y) % 2; });

struct Sample {
  const char* name;
  Bytes bytes;
};

std::vector<Sample> samples() {
  Bytes rgba;
  for (std::uint8_t v : kLevels) rgba.insert(rgba.end(), {v, v, v, static_cast<std::uint8_t>(255 - v)});
  return {
      {"PNG", test::encodePng(5, 3, 1, kLevels)},
      {"PNG RGBA", test::encodePng(5, 3, 4, rgba)},
      {"JPEG", test::encodeJpeg(5, 3, 1, kLevels)},
      {"BMP", test::encodeBmp(5, 3, 3, [] {
         Bytes rgb;
         for (std::uint8_t v : kLevels) rgb.insert(rgb.end(), {v, v, v});
         return rgb;
       }())},
      {"GIF", test::encodeGif(5, 3, kBlack)},
      {"PNM", test::encodePgm(5, 3, kLevels)},
  };
}

TEST(PictureDecode, EachFormatReadsBack) {
  for (const auto& s : samples()) {
    DecodedPicture p;
    const Outcome r = decodePicture(s.bytes.data(), s.bytes.size(), &p);
    ASSERT_TRUE(r.ok()) << s.name << ": " << r.reason;
    EXPECT_EQ(p.width, 5) << s.name;
    EXPECT_EQ(p.height, 3) << s.name;
    const PixelView v = p.view();
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        const std::uint8_t* px = v.data + y * v.stride + x * channelsOf(v.format);
        const int i = x + 5 * y;
        if (std::string(s.name) == "GIF") {
          EXPECT_EQ(px[0], kBlack[i] ? 0 : 255) << s.name << " " << x << "," << y;
        } else if (std::string(s.name) == "JPEG") {
          EXPECT_NEAR(px[0], kLevels[i], 8) << s.name << " " << x << "," << y;
        } else {
          EXPECT_EQ(px[0], kLevels[i]) << s.name << " " << x << "," << y;
          if (v.format == PixelFormat::Rgba8) {
            EXPECT_EQ(px[3], 255 - kLevels[i]) << s.name;
          }
        }
      }
  }
}

TEST(PictureDecode, CutShortOrDamagedIsRefused) {
  for (const auto& s : samples()) {
    // Cut after the signature, in the header, and halfway.
    for (std::size_t keep : {std::size_t{4}, std::size_t{20}, s.bytes.size() / 2}) {
      if (keep >= s.bytes.size()) continue;
      const Bytes cut(s.bytes.begin(), s.bytes.begin() + static_cast<long>(keep));
      DecodedPicture p;
      const Outcome r = decodePicture(cut.data(), cut.size(), &p);
      EXPECT_FALSE(r.ok()) << s.name << " cut to " << keep << " of " << s.bytes.size();
      EXPECT_FALSE(r.reason.empty()) << s.name;
      EXPECT_EQ(p.pixels, nullptr) << s.name;
    }
    // Every byte after the signature garbled must not crash (the sanitizers
    // watch); whether it decodes depends on the format's checks.
    Bytes garbled = s.bytes;
    for (std::size_t i = 8; i < garbled.size(); ++i) garbled[i] ^= 0x5A;
    DecodedPicture p;
    (void)decodePicture(garbled.data(), garbled.size(), &p);
  }
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(PictureDecode, RefusalsSayWhy) {
  struct Case {
    const char* what;
    Bytes bytes;
    Status status;
    const char* reasonHas;
  } cases[] = {
      {"empty", {}, Status::ZeroSize, "empty"},
      {"label commands", Bytes{'C', 'L', 'S', '\r', '\n'}, Status::UnknownFormat, "no picture"},
      {"TIFF", Bytes{'I', 'I', '*', 0, 8, 0, 0, 0}, Status::UnknownFormat, "TIFF"},
      {"PDF", Bytes{'%', 'P', 'D', 'F', '-', '1', '.', '4'}, Status::UnknownFormat, "PDF"},
      {"WebP", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'}, Status::UnknownFormat, "WebP"},
      {"100000 x 100000", test::pngHeaderOnly(100000, 100000), Status::TooLarge, "100000 x 100000"},
      {"wider than the bound", test::pngHeaderOnly(70000, 1), Status::TooLarge, "70000"},
      {"more pixels than the bound", test::pngHeaderOnly(10000, 10000), Status::TooLarge, "pixels"},
      {"0 x 0", test::pngHeaderOnly(0, 0), Status::Corrupt, "PNG"},
      // Numbers too long for an int, read before the decoder sums their digits.
      {"PNM of a height with 80 digits", bytesOf("P5\n125\n" + std::string(80, '9') + " 255\n"),
       Status::TooLarge, "PNM"},
      {"PNM maximum value of 20 digits, after a comment",
       bytesOf("P5 # made by hand\n1 1 " + std::string(20, '7') + "\n."), Status::Corrupt,
       "maximum value"},
  };
  for (const auto& c : cases) {
    DecodedPicture p;
    const Outcome r = decodePicture(c.bytes.data(), c.bytes.size(), &p);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.reason;
    EXPECT_NE(r.reason.find(c.reasonHas), std::string::npos) << c.what << ": " << r.reason;
  }
  // A GIF's sides are 16 bits: 65535 x 65535 is beyond the pixel bound.
  const Bytes bigGif = [] {
    Bytes g = test::encodeGif(1, 1, {1});
    g[6] = g[7] = g[8] = g[9] = 0xFF;
    return g;
  }();
  DecodedPicture p;
  EXPECT_EQ(decodePicture(bigGif.data(), bigGif.size(), &p).status, Status::TooLarge);
}

// A JPEG Huffman table of more than 256 codes would overrun the decoder's
// table: refused before decoding (the sanitizers would see the overrun).
TEST(PictureDecode, JpegHuffmanTableBeyond256CodesIsRefused) {
  Bytes jpeg = test::encodeJpeg(5, 3, 1, kLevels);
  std::size_t dht = 0;
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC4) {
      dht = i;
      break;
    }
  ASSERT_NE(dht, 0u);
  for (int k = 0; k < 16; ++k) jpeg[dht + 5 + static_cast<std::size_t>(k)] = 0x20;  // 512 codes
  DecodedPicture p;
  const Outcome r = decodePicture(jpeg.data(), jpeg.size(), &p);
  EXPECT_EQ(r.status, Status::Corrupt);
  EXPECT_NE(r.reason.find("Huffman"), std::string::npos) << r.reason;
}

void append(Bytes* to, std::initializer_list<std::uint8_t> bytes) {
  to->insert(to->end(), bytes.begin(), bytes.end());
}

// DHT segments of one code, 1 bit long, for the value 0 (a DC difference of
// 0; for AC, the end of the block).
const Bytes kDcTable0 = {0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                         0,    0,    0,    0,    0,    0,    0,    0x00};
const Bytes kAcTable0 = {0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                         0,    0,    0,    0,    0,    0,    0,    0x00};

// A progressive 8 x 8 gray JPEG, segment by segment: a first DC scan naming
// AC table 0, `between`, then an AC scan with AC table 0 naming DC table 3
// (neither used there nor defined).
// Each scan's one block is the code 0, padded with 1 bits; `dcData` follows
// the DC scan's block.
Bytes progressiveJpeg(const Bytes& between, const Bytes& dcData = {}) {
  Bytes j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  j.insert(j.end(), 64, 1);  // quantization table 0: all ones
  // Frame: 8 bits, 8 x 8, one component (id 1, 1 x 1, quantization table 0).
  append(&j, {0xFF, 0xC2, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00});
  j.insert(j.end(), kDcTable0.begin(), kDcTable0.end());
  append(&j, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7F});
  j.insert(j.end(), dcData.begin(), dcData.end());
  j.insert(j.end(), between.begin(), between.end());
  append(&j, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x30, 0x01, 0x3F, 0x00, 0x7F, 0xFF, 0xD9});
  return j;
}

// A scan that decodes with a Huffman table no DHT segment before it defined
// would make the decoder follow a table the memory happened to hold, past its
// own tables: refused before decoding. Where the decoder takes a table
// matters: a DHT inside a comment, or a scan's data read as markers, must not
// count.
TEST(PictureDecode, JpegScanNeedsItsHuffmanTablesDefinedBefore) {
  DecodedPicture good;
  const Bytes defined = progressiveJpeg(kAcTable0);
  const Outcome ok = decodePicture(defined.data(), defined.size(), &good);
  ASSERT_TRUE(ok.ok()) << ok.reason;
  ASSERT_EQ(good.width, 8);
  EXPECT_NEAR(good.pixels.get()[63], 128, 1);

  Bytes inComment = {0xFF, 0xFE, 0x00, static_cast<std::uint8_t>(2 + kAcTable0.size())};
  inComment.insert(inComment.end(), kAcTable0.begin(), kAcTable0.end());
  Bytes baseline = test::encodeJpeg(5, 3, 1, kLevels);
  for (std::size_t i = 2; i + 5 < baseline.size(); ++i)
    if (baseline[i] == 0xFF && baseline[i + 1] == 0xDA) {
      baseline[i + 6] = 0x33;  // DC and AC table 3 for the one component
      break;
    }
  const struct {
    const char* what;
    Bytes bytes;
    const char* table;
  } cases[] = {
      {"no AC table before the AC scan", progressiveJpeg({}), "AC 0"},
      {"the AC table only inside a comment", progressiveJpeg(inComment), "AC 0"},
      {"the AC table only after the AC scan", [] {
         Bytes j = progressiveJpeg({});
         j.insert(j.end() - 2, kAcTable0.begin(), kAcTable0.end());
         return j;
       }(), "AC 0"},
      // A stuffed FF and a restart marker are data, not the scan's end.
      {"a stuffed FF in the DC scan", progressiveJpeg({}, {0xFF, 0x00, 0x12}), "AC 0"},
      {"a restart marker in the DC scan", progressiveJpeg({}, {0xFF, 0xD0, 0x7F}), "AC 0"},
      {"a sequential scan naming table 3", baseline, "DC 3"},
  };
  for (const auto& c : cases) {
    DecodedPicture p;
    const Outcome r = decodePicture(c.bytes.data(), c.bytes.size(), &p);
    EXPECT_EQ(r.status, Status::Corrupt) << c.what;
    EXPECT_NE(r.reason.find(std::string("Huffman table ") + c.table), std::string::npos)
        << c.what << ": " << r.reason;
    EXPECT_EQ(p.pixels, nullptr) << c.what;
  }
}

TEST(PictureDecode, SniffNamesTheFormats) {
  EXPECT_STREQ(sniffFormat(reinterpret_cast<const std::uint8_t*>("\xFF\xD8\xFF\xE0"), 4), "JPEG");
  EXPECT_STREQ(sniffFormat(reinterpret_cast<const std::uint8_t*>("GIF87a"), 6), "GIF");
  EXPECT_STREQ(sniffFormat(reinterpret_cast<const std::uint8_t*>("MM\0*"), 4), "TIFF");
  // Label commands that start like a format do not pass for one.
  EXPECT_EQ(sniffFormat(reinterpret_cast<const std::uint8_t*>("BM command\r\n..."), 16), nullptr);
  EXPECT_EQ(sniffFormat(reinterpret_cast<const std::uint8_t*>("PRINT 1\r\n"), 9), nullptr);
  EXPECT_EQ(sniffFormat(reinterpret_cast<const std::uint8_t*>("P4"), 2), nullptr);
  EXPECT_EQ(sniffFormat(nullptr, 0), nullptr);
}

TEST(PictureDecode, EncodedChainSendsTheSameAsPixels) {
  std::string fromPng, fromPixels;
  Options o;
  ASSERT_TRUE(encodedPictureCommand(samples()[0].bytes.data(), samples()[0].bytes.size(), 3, 4,
                                    10, 0, o, &fromPng).ok());
  PixelView v;
  v.data = kLevels.data();
  v.width = 5;
  v.height = 3;
  v.stride = 5;
  ASSERT_TRUE(pictureCommand(v, 3, 4, 10, 0, o, &fromPixels).ok());
  EXPECT_EQ(fromPng, fromPixels);
  EXPECT_EQ(fromPng.rfind("BITMAP 3,4,2,6,1,", 0), 0u);
}

}  // namespace
}  // namespace image
}  // namespace paloma
