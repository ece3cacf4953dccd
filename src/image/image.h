// Pictures to one-bit "BITMAP" commands.
//
// The conversion is a chain of pure steps, each testable on its own:
//
//   encoded bytes --decodePicture--> pixels (gray, gray+alpha, RGB, RGBA; 8 bits)
//   pixels --scaleToGray--> gray in linear light at the printed size, turned
//   gray --toOneBit--> rows of bits (0 = black dot, leftmost dot in the top bit)
//   bits --bitmapCommand--> "BITMAP X,Y,W,H,MODE," + rows + "\r\n"
//
// Linear light: 0 is black and 65535 white, in proportion to the light the
// paper gives back, so a dot pattern with a share s of white dots looks like
// the gray of linear value s x 65535 from a distance. The sRGB curve of the
// input is undone through a fixed table and alpha is laid over white in
// linear light. Everything after the table is integer arithmetic, so every
// platform sends the same bits for the same picture.
//
// Nothing here touches a connection; readPictureFile reads through the OS seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace paloma {
namespace image {

// How gray becomes black and white dots.
enum class Dither {
  Threshold = 0,  // one level: darker than it is black
  Ordered = 1,    // an 8 x 8 Bayer matrix of levels
  Diffusion = 2,  // Floyd-Steinberg error diffusion, rows in alternate directions
};

enum class PixelFormat {
  Gray8 = 1,
  GrayAlpha8 = 2,
  Rgb8 = 3,
  Rgba8 = 4,
};

inline int channelsOf(PixelFormat f) { return static_cast<int>(f); }

struct Options {
  Dither dither = Dither::Diffusion;
  int threshold = 128;  // Threshold only: a level 0..255 of the encoded (sRGB) gray
  int rotation = 0;     // 0, 90, 180, 270 degrees clockwise
  bool invert = false;  // black for white before the dots are chosen
  int mode = 1;         // the BITMAP mode: 0 overwrite, 1 OR, 2 XOR
};

// Pixels the caller holds: rows `stride` bytes apart, top row first.
struct PixelView {
  const std::uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
  PixelFormat format = PixelFormat::Gray8;
};

// Linear-light gray, 0 black to 65535 white, rows of `width` values.
struct GrayImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint16_t> values;
  std::uint16_t at(int x, int y) const {
    return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// One-bit rows: `rowBytes` = (width + 7) / 8 bytes a row, a 0 bit a black dot,
// the padding bits after the last dot of a row white (1).
struct BitImage {
  int width = 0;
  int height = 0;
  int rowBytes = 0;
  std::vector<std::uint8_t> bytes;
  bool black(int x, int y) const {
    const std::uint8_t b = bytes[static_cast<std::size_t>(y) * static_cast<std::size_t>(rowBytes) +
                                 static_cast<std::size_t>(x >> 3)];
    return ((b >> (7 - (x & 7))) & 1) == 0;
  }
};

// What a step made of its input; `Ok` or why not.
enum class Status {
  Ok,
  Argument,       // a refused option, size or position
  ZeroSize,       // a picture or a requested size with no dots
  TooLarge,       // larger than the bounds below
  UnknownFormat,  // no picture format this library reads
  Corrupt,        // a known format, but the data is damaged or cut short
  Unreadable,     // the file could not be opened or read
  NoMemory,
};

struct Outcome {
  Status status = Status::Ok;
  std::string reason;  // for the last error; empty when Ok
  int osError = 0;     // the OS error number behind an Unreadable, else 0
  bool ok() const { return status == Status::Ok; }
};

// Bounds. A picture larger than these is refused from its header, before any
// pixel memory is taken.
inline constexpr int kMaxPictureSide = 65535;
inline constexpr std::uint64_t kMaxPicturePixels = 64ull << 20;  // 64 megapixels
// An encoded picture (a file or a buffer) larger than this is refused unread.
inline constexpr std::size_t kMaxEncodedBytes = 256u << 20;
// The largest bitmap sent: the host-font text's canvas, as wide and as long as
// any label the printers take.
inline constexpr int kMaxDotsWide = 2400;
inline constexpr int kMaxDotsHigh = 12000;

// The format named by the first bytes ("PNG", "JPEG", "GIF", "BMP", "PNM",
// "TIFF", "WebP", "PDF"), or nullptr when none. Also names formats that
// decodePicture does not read, so that a caller can say which it was.
const char* sniffFormat(const std::uint8_t* data, std::size_t size);

// Decoded pixels, owned.
struct DecodedPicture {
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::Gray8;
  std::unique_ptr<std::uint8_t, void (*)(void*)> pixels{nullptr, nullptr};
  PixelView view() const {
    PixelView v;
    v.data = pixels.get();
    v.width = width;
    v.height = height;
    v.stride = static_cast<std::size_t>(width) * static_cast<std::size_t>(channelsOf(format));
    v.format = format;
    return v;
  }
};

// Decodes a PNG, JPEG, GIF (its first frame), BMP or PNM picture. The header
// is read first: a size of 0 or beyond the bounds is refused before the
// pixels are decoded.
Outcome decodePicture(const std::uint8_t* data, std::size_t size, DecodedPicture* out);

// The printed size in dots for a picture of w x h pixels turned by `rotation`:
// `width` and `height` as asked, one of them 0 keeps the aspect, both 0 take
// one dot per pixel. Refuses negative sizes and sizes beyond kMaxDots*.
Outcome printedSize(int w, int h, int rotation, int width, int height, int* outW, int* outH);

// Gray in linear light at `outW` x `outH` dots as printed (after the turn):
// alpha laid over white, scaled by area averaging (each dot the mean of the
// pixel area it covers), then turned clockwise by `rotation`.
Outcome scaleToGray(const PixelView& px, int outW, int outH, int rotation, GrayImage* out);

// Turns a gray image clockwise by 90, 180 or 270 degrees (0: a copy).
GrayImage rotateGray(const GrayImage& g, int rotation);

// Dots of the gray image (inverted first when asked).
BitImage toOneBit(const GrayImage& g, const Options& options);

// The command as it goes on the wire: "BITMAP X,Y,W,H,MODE," with W in bytes,
// the rows top first, then "\r\n".
std::string bitmapCommand(int x, int y, const BitImage& bits, int mode);

// Checks the options (dither kind, threshold 0..255, rotation, mode 0..2).
Outcome checkOptions(const Options& options);

// The whole chain from pixels: checks, scales, dithers and formats.
Outcome pictureCommand(const PixelView& px, int x, int y, int width, int height,
                       const Options& options, std::string* wire);

// The whole chain from an encoded picture.
Outcome encodedPictureCommand(const std::uint8_t* data, std::size_t size, int x, int y, int width,
                              int height, const Options& options, std::string* wire);

// Reads a whole picture file through the OS seam: a regular file of at most
// kMaxEncodedBytes. A directory, a FIFO, a device, a missing or unreadable
// file is refused with the reason.
Outcome readPictureFile(std::string_view path, std::vector<std::uint8_t>* out);

}  // namespace image
}  // namespace paloma
