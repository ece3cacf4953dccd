// Label PNGs: the decoded pixels of a set of labels against the image the
// printer drew (black where ink is 128 or more), the one-bit file form, and
// files that cannot be written.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "png_writer.h"
#include "printer.h"
#include "test_rig.h"

namespace vprinter {
namespace {

// A decoded PNG: one value per pixel, true for black.
struct Decoded {
  int w = 0, h = 0;
  std::vector<bool> black;
};

// Decodes with Cairo's reader, which knows nothing of the writer.
Decoded decode(const std::string& path) {
  Decoded d;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(s);
    d.w = cairo_image_surface_get_width(s);
    d.h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* p = cairo_image_surface_get_data(s);
    EXPECT_EQ(cairo_image_surface_get_format(s), CAIRO_FORMAT_RGB24);
    for (int y = 0; y < d.h; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(p + static_cast<size_t>(y) * stride);
      for (int x = 0; x < d.w; ++x) {
        const uint32_t v = row[x] & 0xFFFFFF;
        EXPECT_TRUE(v == 0 || v == 0xFFFFFF) << "gray at " << x << "," << y;
        d.black.push_back(v == 0);
      }
    }
  }
  cairo_surface_destroy(s);
  return d;
}

// Bit depth and colour type from the header chunk.
std::pair<int, int> depthAndColour(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string head(26, '\0');
  f.read(&head[0], 26);
  if (!f || head.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0 || head.compare(12, 4, "IHDR") != 0)
    return {-1, -1};
  return {static_cast<unsigned char>(head[24]), static_cast<unsigned char>(head[25])};
}

std::string labelWith(const std::string& size, const std::string& body) {
  return "SIZE " + size + "\r\nCLS\r\n" + body + "PRINT 1,1\r\n";
}

TEST(PngWriter, LabelsDecodeToTheDrawnDots) {
  std::string rows;
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 5; ++x) rows.push_back(static_cast<char>((x * 37 + y * 11) & 0xFF));
  const std::vector<std::string> labels = {
      labelWith("100 mm,150 mm",
                "TEXT 40,40,\"5\",0,1,1,\"PALOMA\"\r\n"
                "BARCODE 40,140,\"128\",120,2,0,3,6,\"PALOMA-0001\"\r\n"
                "QRCODE 40,340,M,8,A,0,\"https://paloma.invalid/label/0001\"\r\n"
                "BITMAP 400,400,5,37,0," + rows + "\r\n"),
      // Widths that end inside a byte and inside a 32-dot word; drawing at
      // and past every edge.
      labelWith("37 dot,19 dot", "BAR 0,0,37,1\r\nBAR 36,0,1,19\r\nBITMAP -3,10,5,37,0," +
                                     rows + "\r\nREVERSE 2,2,20,10\r\n"),
      labelWith("33 dot,2 dot", "BAR 0,0,1,2\r\nBAR 32,1,1,1\r\n"),
      labelWith("1 dot,1 dot", "BAR 0,0,1,1\r\n"),
      labelWith("9 dot,3 dot", ""),  // all white
      labelWith("25 mm,12 mm", "TEXT 5,5,\"3\",90,1,1,\"Turned\"\r\nBOX 1,1,150,80,3\r\n"),
  };
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  PrinterOptions o;
  o.outDir = dir.path;
  Printer printer(o, nullptr);
  for (size_t i = 0; i < labels.size(); ++i) {
    SCOPED_TRACE("label " + std::to_string(i));
    Session session(printer, "test");
    session.feed(reinterpret_cast<const uint8_t*>(labels[i].data()), labels[i].size());
    session.finish();
    ASSERT_EQ(printer.written().size(), i + 1);
    const std::string& png = printer.written().back();
    EXPECT_EQ(depthAndColour(png), std::make_pair(1, 0));
    EXPECT_EQ(access((png + ".tmp").c_str(), F_OK), -1);
    Canvas& c = printer.canvas();
    const Decoded d = decode(png);
    ASSERT_EQ(d.w, c.width());
    ASSERT_EQ(d.h, c.height());
    int mismatches = 0, inked = 0;
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const bool want = c.isBlack(x, y);
        inked += want;
        if (d.black[static_cast<size_t>(y) * d.w + x] != want && ++mismatches <= 5)
          ADD_FAILURE() << "dot " << x << "," << y << " should be " << (want ? "black" : "white");
      }
    EXPECT_EQ(mismatches, 0);
    if (i != 4) {
      EXPECT_GT(inked, 0) << "the label should hold ink";
    }
  }
}

TEST(PngWriter, InkIsBlackFromHalfWayWhateverTheStride) {
  // Ink values around the threshold, in rows wider than the image.
  const int w = 19, h = 3, stride = 24;
  std::vector<uint8_t> ink(static_cast<size_t>(stride) * h, 255);  // padding black
  const uint8_t values[] = {0, 1, 127, 128, 129, 254, 255};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ink[static_cast<size_t>(y) * stride + x] = values[(x + y) % 7];
  TempDir dir;
  const std::string path = dir.path + "/ink.png";
  std::string error;
  ASSERT_TRUE(writeInkPng(path, ink.data(), stride, w, h, error)) << error;
  const Decoded d = decode(path);
  ASSERT_EQ(d.w, w);
  ASSERT_EQ(d.h, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(d.black[static_cast<size_t>(y) * w + x], values[(x + y) % 7] >= 128) << x << "," << y;
}

TEST(PngWriter, FailuresLeaveNoFileAndSayWhy) {
  TempDir dir;
  const uint8_t ink[4] = {0, 255, 0, 255};
  std::string error;
  // A folder that does not exist.
  EXPECT_FALSE(writeInkPng(dir.path + "/none/label.png", ink, 2, 2, 2, error));
  EXPECT_NE(error.find("cannot"), std::string::npos) << error;
  // No image.
  error.clear();
  EXPECT_FALSE(writeInkPng(dir.path + "/a.png", ink, 2, 0, 2, error));
  EXPECT_FALSE(writeInkPng(dir.path + "/a.png", nullptr, 2, 2, 2, error));
  EXPECT_FALSE(writeInkPng(dir.path + "/a.png", ink, 1, 2, 2, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(access((dir.path + "/a.png").c_str(), F_OK), -1);
  // The rename fails when the name is taken by a folder: the partial file goes.
  const std::string taken = dir.path + "/taken.png";
  ASSERT_EQ(mkdir(taken.c_str(), 0700), 0);
  error.clear();
  EXPECT_FALSE(writeInkPng(taken, ink, 2, 2, 2, error));
  EXPECT_NE(error.find("rename"), std::string::npos) << error;
  EXPECT_EQ(access((taken + ".tmp").c_str(), F_OK), -1);
  // A full disk: the bytes cannot all be written.
  if (access("/dev/full", W_OK) == 0) {
    std::vector<uint8_t> big(400 * 400);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>((i * 7919) >> 3);
    error.clear();
    const std::string link = dir.path + "/full.png";
    ASSERT_EQ(symlink("/dev/full", (link + ".tmp").c_str()), 0);
    EXPECT_FALSE(writeInkPng(link, big.data(), 400, 400, 400, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(access(link.c_str(), F_OK), -1);
  }
}

}  // namespace
}  // namespace vprinter
