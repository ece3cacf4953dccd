// Pictures end to end: the library's picture functions and `paloma image`
// against the virtual printer (the label's PNG holds exactly the bits the
// conversion made, at x, y), barcodes printed as pictures read back with
// zbarimg, and files and data that are refused with nothing sent.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/image.h"
#include "paloma.h"
#include "support/loopback_peer.h"
#include "support/picture_files.h"
#include "support/posix/process.h"
#include "support/posix/vprinter_process.h"

extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

using paloma::test::Bytes;
using paloma::test::LoopbackPeer;
using paloma::test::runProgram;
using paloma::test::waitForText;

struct VPrinter : paloma::test::VPrinterProcess {
  VPrinter() : VPrinterProcess(VPRINTER_EXE, {"--listen", "127.0.0.1:0"}) {}
};

// The label as black (true) and white dots.
struct Label {
  int w = 0, h = 0;
  std::vector<bool> black;
  bool at(int x, int y) const { return black[static_cast<std::size_t>(y) * w + x]; }
};

Label loadLabel(const std::string& path) {
  Label l;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(s);
    l.w = cairo_image_surface_get_width(s);
    l.h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const std::uint8_t* d = cairo_image_surface_get_data(s);
    l.black.resize(static_cast<std::size_t>(l.w) * l.h);
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) l.black[static_cast<std::size_t>(y) * l.w + x] = d[y * stride + x * 4 + 1] < 128;
  }
  cairo_surface_destroy(s);
  return l;
}

// The bits of a BITMAP command made by the conversion itself.
struct Sent {
  int x = 0, y = 0, rowBytes = 0, rows = 0;
  std::string bits;
  bool black(int dx, int dy) const {
    const auto b = static_cast<std::uint8_t>(bits[static_cast<std::size_t>(dy) * rowBytes + dx / 8]);
    return ((b >> (7 - dx % 8)) & 1) == 0;
  }
};

Sent parse(const std::string& wire) {
  Sent s;
  int mode = 0, used = 0;
  EXPECT_EQ(std::sscanf(wire.c_str(), "BITMAP %d,%d,%d,%d,%d,%n", &s.x, &s.y, &s.rowBytes, &s.rows,
                        &mode, &used), 5);
  s.bits = wire.substr(static_cast<std::size_t>(used),
                       static_cast<std::size_t>(s.rowBytes) * static_cast<std::size_t>(s.rows));
  return s;
}

// Every dot of the label: black exactly where the command has a black dot.
void expectLabelHolds(const Label& label, const Sent& s, int widthDots) {
  ASSERT_GT(label.w, 0);
  int mismatches = 0, black = 0;
  for (int y = 0; y < label.h; ++y)
    for (int x = 0; x < label.w; ++x) {
      const int dx = x - s.x, dy = y - s.y;
      const bool want = dx >= 0 && dy >= 0 && dx < widthDots && dy < s.rows && s.black(dx, dy);
      black += want;
      if (label.at(x, y) != want && ++mismatches <= 5)
        ADD_FAILURE() << "dot " << x << "," << y << " is " << (label.at(x, y) ? "black" : "white");
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(black, 0);
}

std::string tempDir() {
  char dir[] = "/tmp/paloma-pictures-XXXXXX";
  return mkdtemp(dir) ? dir : "";
}

void writeBytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                              static_cast<std::streamsize>(b.size()));
}

// A gray test card: a gradient, a checkerboard corner and a black frame.
Bytes testCard(int w, int h) {
  return paloma::test::grayPixels(w, h, [&](int x, int y) {
    if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return 0;
    if (x < 8 && y < 8) return ((x + y) & 1) ? 255 : 0;
    return (x * 255) / (w - 1);
  });
}

std::string printOne(VPrinter& vp, const std::function<int()>& draw) {
  EXPECT_EQ(openethernet("127.0.0.1", vp.port()), 1);
  EXPECT_EQ(setup("50", "40", "4", "8", "0", "3", "0"), 1);  // 400 x 320 dots
  EXPECT_EQ(clearbuffer(), 1);
  EXPECT_EQ(draw(), 1) << paloma_last_error();
  EXPECT_EQ(printlabel("1", "1"), 1);
  closeport();
  EXPECT_TRUE(waitForText(vp.log(), "label-000001.png"));
  return vp.dir() + "/label-000001.png";
}

TEST(PicturesOnTheVirtualPrinter, PixelsArePrintedBitForBitAtXY) {
  VPrinter vp;
  ASSERT_GT(vp.port(), 0);
  const Bytes card = testCard(61, 37);
  paloma_image_options o;
  paloma_image_options_init(&o);
  const std::string png = printOne(vp, [&] {
    return paloma_sendimage_pixels(21, 13, card.data(), 61, 37, 61, PALOMA_PIXELS_GRAY8, 122, 0, &o);
  });
  paloma::image::PixelView v;
  v.data = card.data();
  v.width = 61;
  v.height = 37;
  v.stride = 61;
  std::string wire;
  ASSERT_TRUE(paloma::image::pictureCommand(v, 21, 13, 122, 0, paloma::image::Options(), &wire).ok());
  expectLabelHolds(loadLabel(png), parse(wire), 122);
}

TEST(PicturesOnTheVirtualPrinter, FileTurnedAndOrderedIsPrintedBitForBit) {
  VPrinter vp;
  ASSERT_GT(vp.port(), 0);
  const std::string dir = tempDir();
  const Bytes png = paloma::test::encodePng(50, 30, 1, testCard(50, 30));
  writeBytes(dir + "/card.png", png);
  paloma_image_options o;
  paloma_image_options_init(&o);
  o.dither = PALOMA_DITHER_ORDERED;
  o.rotation = 90;
  o.mode = 0;
  const std::string label = printOne(vp, [&] {
    return paloma_sendimage(40, 8, (dir + "/card.png").c_str(), 0, 200, &o);
  });
  paloma::image::Options co;
  co.dither = paloma::image::Dither::Ordered;
  co.rotation = 90;
  co.mode = 0;
  std::string wire;
  ASSERT_TRUE(paloma::image::encodedPictureCommand(png.data(), png.size(), 40, 8, 0, 200, co, &wire).ok());
  const Sent s = parse(wire);
  EXPECT_EQ(s.rows, 200);
  EXPECT_EQ(s.rowBytes, 15);  // 120 dots: 30 rows turned, scaled by 4
  expectLabelHolds(loadLabel(label), s, 120);
  runProgram({"/bin/rm", "-rf", dir}, 5000);
}

// The handle functions print the same bits as the single connection's.
TEST(PicturesOnTheVirtualPrinter, ThroughAHandle) {
  VPrinter vp;
  ASSERT_GT(vp.port(), 0);
  const Bytes card = testCard(45, 33);
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(vp.uri().c_str(), &p), PALOMA_OK) << paloma_last_error();
  EXPECT_EQ(paloma_send_command(p, "SIZE 50 mm,40 mm"), PALOMA_OK);
  EXPECT_EQ(paloma_send_command(p, "CLS"), PALOMA_OK);
  paloma_image_options o;
  paloma_image_options_init(&o);
  o.dither = PALOMA_DITHER_ORDERED;
  o.rotation = 180;
  EXPECT_EQ(paloma_image_pixels(p, 30, 40, card.data(), 45, 33, 45, PALOMA_PIXELS_GRAY8, 0, 99, &o),
            PALOMA_OK) << paloma_last_error();
  EXPECT_EQ(paloma_send_command(p, "PRINT 1"), PALOMA_OK);
  EXPECT_EQ(paloma_close(p), PALOMA_OK);
  ASSERT_TRUE(waitForText(vp.log(), "label-000001.png"));
  paloma::image::PixelView v;
  v.data = card.data();
  v.width = 45;
  v.height = 33;
  v.stride = 45;
  paloma::image::Options co;
  co.dither = paloma::image::Dither::Ordered;
  co.rotation = 180;
  std::string wire;
  ASSERT_TRUE(paloma::image::pictureCommand(v, 30, 40, 0, 99, co, &wire).ok());
  expectLabelHolds(loadLabel(vp.dir() + "/label-000001.png"), parse(wire), 135);
}

// `paloma image` prints a QR code and a Code 128 symbol made as pictures; the
// label's PNG decodes to the same texts.
TEST(PicturesOnTheVirtualPrinter, BarcodesAsPicturesDecodeAgain) {
  const std::string dir = tempDir();
  ASSERT_EQ(runProgram({"/usr/bin/qrencode", "-o", dir + "/qr.png", "-s", "1", "-m", "2",
                        "PALOMA picture QR"}, 10000).rc, 0);
  // A Code 128 symbol drawn by the virtual printer itself, then printed again
  // as a picture.
  std::string barcodePng;
  {
    VPrinter source;
    ASSERT_GT(source.port(), 0);
    barcodePng = printOne(source, [] {
      return barcode("16", "16", "128", "80", "0", "0", "2", "4", "PIC-128-OK");
    });
    ASSERT_EQ(runProgram({"/bin/cp", barcodePng, dir + "/code128.png"}, 5000).rc, 0);
  }
  VPrinter vp;
  ASSERT_GT(vp.port(), 0);
  const auto cli = runProgram({PALOMA_CLI_EXE, "image", dir + "/qr.png", "--to", vp.uri(),
                               "--x", "20", "--y", "20", "--width", "200", "--dither", "none",
                               "--print", "1"}, 20000);
  ASSERT_EQ(cli.rc, 0) << cli.err;
  ASSERT_TRUE(waitForText(vp.log(), "label-000001.png"));
  const auto cli2 = runProgram({PALOMA_CLI_EXE, "image", dir + "/code128.png", "--to", vp.uri(),
                                "--dither", "none", "--print", "1"}, 20000);
  ASSERT_EQ(cli2.rc, 0) << cli2.err;
  ASSERT_TRUE(waitForText(vp.log(), "label-000002.png"));
  const auto qr = runProgram({"/usr/bin/zbarimg", "-q", "--raw", vp.dir() + "/label-000001.png"}, 20000);
  EXPECT_NE(qr.out.find("PALOMA picture QR"), std::string::npos) << qr.out << qr.err;
  const auto code = runProgram({"/usr/bin/zbarimg", "-q", "--raw", vp.dir() + "/label-000002.png"}, 20000);
  EXPECT_NE(code.out.find("PIC-128-OK"), std::string::npos) << code.out << code.err;
  runProgram({"/bin/rm", "-rf", dir}, 5000);
}

// What cannot be printed is refused with a reason, and nothing reaches the
// printer.
TEST(PicturesRefused, BadFilesAndDataSendNothing) {
  const std::string dir = tempDir();
  ASSERT_FALSE(dir.empty());
  const Bytes card = testCard(40, 40);
  const Bytes jpeg = paloma::test::encodeJpeg(40, 40, 1, card);
  const Bytes png = paloma::test::encodePng(40, 40, 1, card);
  writeBytes(dir + "/empty.png", {});
  writeBytes(dir + "/cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 2 / 3)));
  writeBytes(dir + "/cut.png", Bytes(png.begin(), png.begin() + static_cast<long>(png.size() - 20)));
  writeBytes(dir + "/huge.png", paloma::test::pngHeaderOnly(100000, 100000));
  writeBytes(dir + "/text.png", Bytes{'C', 'L', 'S', '\r', '\n'});
  ASSERT_EQ(mkfifo((dir + "/fifo.png").c_str(), 0600), 0);
  struct Case {
    const char* file;
    const char* reasonHas;
  } cases[] = {
      {"", "cannot be opened"},  // the folder itself
      {"/missing.png", "cannot be opened"},
      {"/fifo.png", "no regular file"},
      {"/empty.png", "empty"},
      {"/cut.jpg", "JPEG"},
      {"/cut.png", "PNG"},
      {"/huge.png", "100000 x 100000"},
      {"/text.png", "no picture format"},
  };
  LoopbackPeer peer;
  ASSERT_GT(peer.port(), 0);
  ASSERT_EQ(openethernet("127.0.0.1", peer.port()), 1);
  for (const auto& c : cases) {
    EXPECT_EQ(paloma_sendimage(0, 0, (dir + c.file).c_str(), 0, 0, nullptr), 0) << c.file;
    EXPECT_NE(std::string(paloma_last_error()).find(c.reasonHas), std::string::npos)
        << c.file << ": " << paloma_last_error();
  }
  EXPECT_EQ(paloma_sendimage_memory(0, 0, png.data(), 0, 0, 0, nullptr), 0);
  EXPECT_EQ(paloma_sendimage_pixels(0, 0, card.data(), 40, 40, 40, 9, 0, 0, nullptr), 0);
  EXPECT_EQ(paloma_sendimage_pixels(0, 0, card.data(), 40, 40, 40, PALOMA_PIXELS_GRAY8, 5000, 0, nullptr), 0);
  EXPECT_NE(std::string(paloma_last_error()).find("larger than the label"), std::string::npos);
  EXPECT_EQ(paloma_sendimage(0, 0, nullptr, 0, 0, nullptr), 0);
  closeport();
  const LoopbackPeer::Connection got = peer.nextClosed(5000);
  EXPECT_TRUE(got.ended);
  EXPECT_EQ(got.bytes, "") << "nothing is sent for a refused picture";
  runProgram({"/bin/rm", "-rf", dir}, 5000);
}

// `paloma print` sends no picture as commands: it points at `paloma image`,
// unless --raw says to send the bytes unchanged.
TEST(PicturesRefused, PrintPointsAtImageUnlessRaw) {
  const std::string dir = tempDir();
  const Bytes png = paloma::test::encodePng(4, 4, 1, testCard(4, 4));
  writeBytes(dir + "/logo.png", png);
  {
    LoopbackPeer peer;
    const std::string uri = "tcp://127.0.0.1:" + std::to_string(peer.port());
    const auto run = runProgram({PALOMA_CLI_EXE, "print", dir + "/logo.png", "--to", uri}, 20000);
    EXPECT_EQ(run.rc, 1);
    EXPECT_NE(run.err.find("is a PNG file"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("paloma image " + dir + "/logo.png --to " + uri), std::string::npos)
        << run.err;
    EXPECT_FALSE(peer.nextClosed(300).ended) << "no connection was made";
  }
  {
    LoopbackPeer peer;
    const std::string uri = "tcp://127.0.0.1:" + std::to_string(peer.port());
    const auto run = runProgram({PALOMA_CLI_EXE, "print", "--raw", dir + "/logo.png", "--to", uri}, 20000);
    EXPECT_EQ(run.rc, 0) << run.err;
    const auto got = peer.nextClosed(5000);
    EXPECT_EQ(got.bytes.substr(0, png.size()), std::string(png.begin(), png.end()));
  }
  // `paloma image` refuses a file it cannot print before connecting.
  {
    LoopbackPeer peer;
    const std::string uri = "tcp://127.0.0.1:" + std::to_string(peer.port());
    writeBytes(dir + "/cut.png", Bytes(png.begin(), png.begin() + 30));
    const auto run = runProgram({PALOMA_CLI_EXE, "image", dir + "/cut.png", "--to", uri, "--print", "1"}, 20000);
    EXPECT_EQ(run.rc, 1);
    EXPECT_NE(run.err.find("PNG"), std::string::npos) << run.err;
    EXPECT_FALSE(peer.nextClosed(300).ended) << "no connection was made";
  }
  runProgram({"/bin/rm", "-rf", dir}, 5000);
}

TEST(PicturesRefused, HandleFunctionsSayWhyAndSendNothing) {
  const std::string dir = tempDir();
  const Bytes png = paloma::test::encodePng(8, 8, 1, testCard(8, 8));
  LoopbackPeer peer;
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(("tcp://127.0.0.1:" + std::to_string(peer.port())).c_str(), &p), PALOMA_OK);
  EXPECT_EQ(paloma_image_file(p, 0, 0, (dir + "/missing.png").c_str(), 0, 0, nullptr), PALOMA_ERROR_OS);
  EXPECT_EQ(paloma_image_file(p, 0, 0, dir.c_str(), 0, 0, nullptr), PALOMA_ERROR_OS);
  EXPECT_EQ(paloma_image_file(p, 0, 0, nullptr, 0, 0, nullptr), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_image_memory(p, 0, 0, png.data(), 20, 0, 0, nullptr), PALOMA_ERROR_ARGUMENT);
  EXPECT_NE(std::string(paloma_last_error()).find("PNG"), std::string::npos) << paloma_last_error();
  EXPECT_EQ(paloma_image_memory(p, 0, 0, png.data(), png.size(), 3000, 0, nullptr), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_image_pixels(p, 0, 0, png.data(), 2, 2, 2, 0, 0, 0, nullptr), PALOMA_ERROR_ARGUMENT);
  paloma_image_options bad;
  paloma_image_options_init(&bad);
  bad.mode = 5;
  EXPECT_EQ(paloma_image_memory(p, 0, 0, png.data(), png.size(), 0, 0, &bad), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_image_memory(nullptr, 0, 0, png.data(), png.size(), 0, 0, nullptr),
            PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_close(p), PALOMA_OK);
  const auto got = peer.nextClosed(5000);
  EXPECT_TRUE(got.ended);
  EXPECT_EQ(got.bytes, "");
  runProgram({"/bin/rm", "-rf", dir}, 5000);
}

TEST(PicturesRefused, NothingOpenAndBadSlots) {
  const Bytes card = testCard(8, 8);
  closeport();
  EXPECT_EQ(paloma_sendimage_pixels(0, 0, card.data(), 8, 8, 8, PALOMA_PIXELS_GRAY8, 0, 0, nullptr), 0);
  EXPECT_EQ(paloma_sendimage_pixelsmult(9, 0, 0, card.data(), 8, 8, 8, PALOMA_PIXELS_GRAY8, 0, 0, nullptr), 0);
  EXPECT_EQ(paloma_sendimage_pixelsmult(2, 0, 0, card.data(), 8, 8, 8, PALOMA_PIXELS_GRAY8, 0, 0, nullptr), 0);
}

}  // namespace
