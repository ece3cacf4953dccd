// Decoding through stb_image, built into this file only. TGA is left out: its
// header has no signature, so bytes of any kind would pass for one.
#include <algorithm>
#include <climits>
#include <cstring>

#include "image/image.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wcast-function-type"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#endif
// The decoder copies zero bytes to a null pointer for an empty first IDAT
// chunk of a PNG (legal, if odd): harmless, but undefined for memcpy, so its
// copies go through one that leaves an empty copy alone.
static inline void* pictureCopy(void* to, const void* from, std::size_t n) {
  return n ? std::memcpy(to, from, n) : to;
}
#define memcpy pictureCopy
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_PNM
#include <stb_image.h>
#undef memcpy
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace paloma {
namespace image {

namespace {

bool starts(const std::uint8_t* d, std::size_t n, const char* magic, std::size_t m) {
  return n >= m && std::memcmp(d, magic, m) == 0;
}

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

Outcome fail(Status s, std::string why) { return Outcome{s, std::move(why)}; }

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }
std::int64_t le32s(const std::uint8_t* p) {
  return static_cast<std::int32_t>(le16(p) | (le16(p + 2) << 16));
}

// The size the header declares, where it stands at a fixed place (PNG, GIF,
// BMP), so that a size beyond the bounds is named as such: the decoder's own
// header check refuses some of them with a less telling reason.
bool declaredSize(const char* format, const std::uint8_t* d, std::size_t n, std::uint64_t* w,
                  std::uint64_t* h) {
  if (std::strcmp(format, "PNG") == 0 && n >= 24 && std::memcmp(d + 12, "IHDR", 4) == 0) {
    *w = be32(d + 16);
    *h = be32(d + 20);
    return true;
  }
  if (std::strcmp(format, "GIF") == 0 && n >= 10) {
    *w = le16(d + 6);
    *h = le16(d + 8);
    return true;
  }
  if (std::strcmp(format, "BMP") == 0 && n >= 26 && le16(d + 14) >= 40) {
    const std::int64_t bw = le32s(d + 18), bh = le32s(d + 22);  // height < 0: top row first
    *w = static_cast<std::uint64_t>(bw < 0 ? -bw : bw);
    *h = static_cast<std::uint64_t>(bh < 0 ? -bh : bh);
    return true;
  }
  return false;
}

Outcome tooLarge(const char* format, std::uint64_t w, std::uint64_t h) {
  return fail(Status::TooLarge,
              std::string("the ") + format + " picture is " + std::to_string(w) + " x " +
                  std::to_string(h) + " pixels; at most " + std::to_string(kMaxPictureSide) +
                  " a side and " + std::to_string(kMaxPicturePixels) + " pixels are read");
}

bool beyondBounds(std::uint64_t w, std::uint64_t h) {
  return w > static_cast<std::uint64_t>(kMaxPictureSide) ||
         h > static_cast<std::uint64_t>(kMaxPictureSide) || w * h > kMaxPicturePixels;
}

// Whether every Huffman table of a JPEG holds at most 256 codes. The
// decoder's table builder writes one entry per code into an array of 257
// without checking (a crafted file overruns it), so such a file is refused
// here, before the decoder sees it.
//
// A DHT segment is read as the decoder reads it: tables while its length
// lasts, each a class byte, 16 counts and as many codes as they add up to,
// even past the length (and past the data's end, as zeros). Before the
// first scan the segments are walked as the decoder walks them (APPn and COM
// skipped by their length, stray bytes one at a time); from the first scan
// on, every FF C4 is checked, since the decoder takes one wherever its
// entropy-coded data stops at it (valid entropy-coded data holds none).
bool huffmanTablesFit(const std::uint8_t* d, std::size_t n, std::size_t at, std::size_t* next) {
  // d[at] is the FF before C4.
  std::size_t p = at + 4;
  long left = at + 4 <= n ? ((long{d[at + 2]} << 8) | d[at + 3]) - 2 : 0;
  // Past the end of the data the decoder reads zeros.
  while (left > 0 && p < n) {
    long codes = 0;
    for (std::size_t i = 1; i <= 16 && p + i < n; ++i) codes += d[p + i];
    if (codes > 256) return false;
    p += 17 + static_cast<std::size_t>(codes);
    left -= 17 + codes;
  }
  *next = p;
  return true;
}

bool jpegTablesFit(const std::uint8_t* d, std::size_t n) {
  std::size_t pos = 2;  // after SOI
  while (pos < n) {
    if (d[pos] != 0xFF) {
      ++pos;  // stray bytes between segments, skipped one at a time
      continue;
    }
    while (pos < n && d[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= n) return true;
    const std::size_t at = pos - 1;
    const std::uint8_t marker = d[pos++];
    if (marker == 0xD9) return true;  // EOI
    if (marker == 0xDA) break;        // the first scan
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0xC4) {
      if (!huffmanTablesFit(d, n, at, &pos)) return false;
      continue;
    }
    if (pos + 2 > n) return true;
    pos += (std::size_t{d[pos]} << 8) | d[pos + 1];
  }
  for (std::size_t i = pos; i + 1 < n; ++i) {
    std::size_t next = 0;
    if (d[i] == 0xFF && d[i + 1] == 0xC4 && !huffmanTablesFit(d, n, i, &next)) return false;
  }
  return true;
}

// The encoded bytes as the decoder reads them, noting a read past their end:
// the decoder takes missing bytes as zeros, so that a picture cut short
// would otherwise decode with its rest blank.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  bool overrun = false;

  static int read(void* user, char* out, int n) {
    auto* r = static_cast<Reader*>(user);
    const std::size_t left = r->size - r->pos;
    if (left == 0) {
      r->overrun = true;
      return 0;
    }
    const std::size_t take = std::min(left, static_cast<std::size_t>(n < 0 ? 0 : n));
    std::memcpy(out, r->data + r->pos, take);
    r->pos += take;
    return static_cast<int>(take);
  }
  static void skip(void* user, int n) {
    auto* r = static_cast<Reader*>(user);
    if (n < 0) {
      const std::size_t back = static_cast<std::size_t>(-static_cast<long long>(n));
      r->pos = back > r->pos ? 0 : r->pos - back;
      return;
    }
    if (static_cast<std::size_t>(n) > r->size - r->pos) {
      r->overrun = true;
      r->pos = r->size;
      return;
    }
    r->pos += static_cast<std::size_t>(n);
  }
  static int eof(void* user) {
    auto* r = static_cast<Reader*>(user);
    return r->pos >= r->size ? 1 : 0;
  }
};

}  // namespace

const char* sniffFormat(const std::uint8_t* d, std::size_t n) {
  if (!d) return nullptr;
  if (starts(d, n, "\x89PNG\r\n\x1a\n", 8)) return "PNG";
  if (starts(d, n, "\xFF\xD8\xFF", 3)) return "JPEG";
  if (starts(d, n, "GIF87a", 6) || starts(d, n, "GIF89a", 6)) return "GIF";
  // "BM", the file size, then two reserved 16-bit fields that are zero.
  if (starts(d, n, "BM", 2) && n >= 14 && d[6] == 0 && d[7] == 0 && d[8] == 0 && d[9] == 0)
    return "BMP";
  if (n >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '6' && isSpace(d[2])) return "PNM";
  if (starts(d, n, "II*\0", 4) || starts(d, n, "MM\0*", 4)) return "TIFF";
  if (n >= 12 && starts(d, n, "RIFF", 4) && std::memcmp(d + 8, "WEBP", 4) == 0) return "WebP";
  if (starts(d, n, "%PDF-", 5)) return "PDF";
  return nullptr;
}

Outcome decodePicture(const std::uint8_t* data, std::size_t size, DecodedPicture* out) {
  if (!data || size == 0) return fail(Status::ZeroSize, "the picture is empty (0 bytes)");
  if (size > kMaxEncodedBytes || size > static_cast<std::size_t>(INT_MAX))
    return fail(Status::TooLarge, "the picture is " + std::to_string(size) +
                                      " bytes; at most " + std::to_string(kMaxEncodedBytes) +
                                      " are read");
  const char* format = sniffFormat(data, size);
  if (!format)
    return fail(Status::UnknownFormat,
                "the data is no picture format this library reads (PNG, JPEG, GIF, BMP, PNM)");
  if (std::strcmp(format, "PNM") == 0 && (data[1] == '1' || data[1] == '4'))
    return fail(Status::UnknownFormat, "PNM bitmaps (P1, P4) are not read; save it as PNG");
  if (std::strcmp(format, "TIFF") == 0 || std::strcmp(format, "WebP") == 0 ||
      std::strcmp(format, "PDF") == 0)
    return fail(Status::UnknownFormat,
                std::string("the data is a ") + format +
                    " file, which this library does not read; save it as PNG or JPEG");
  if (std::strcmp(format, "JPEG") == 0 && !jpegTablesFit(data, size))
    return fail(Status::Corrupt, "the JPEG data is damaged (a Huffman table of more than 256 codes)");
  std::uint64_t dw64 = 0, dh64 = 0;
  if (declaredSize(format, data, size, &dw64, &dh64) && beyondBounds(dw64, dh64))
    return tooLarge(format, dw64, dh64);
  const int n = static_cast<int>(size);
  int w = 0, h = 0, channels = 0;
  // The header alone first: nothing is allocated for a picture refused here.
  if (!stbi_info_from_memory(data, n, &w, &h, &channels))
    return fail(Status::Corrupt, std::string("the ") + format + " data is damaged or cut short (" +
                                     stbi_failure_reason() + ")");
  if (w <= 0 || h <= 0)
    return fail(Status::ZeroSize, std::string("the ") + format + " picture has no pixels");
  if (beyondBounds(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h)))
    return tooLarge(format, static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h));
  if (channels < 1 || channels > 4)
    return fail(Status::Corrupt, std::string("the ") + format + " picture has " +
                                     std::to_string(channels) + " channels");
  int dw = 0, dh = 0, dc = 0;
  Reader reader{data, size};
  const stbi_io_callbacks callbacks = {Reader::read, Reader::skip, Reader::eof};
  stbi_uc* pixels = stbi_load_from_callbacks(&callbacks, &reader, &dw, &dh, &dc, channels);
  if (pixels && reader.overrun) {
    stbi_image_free(pixels);
    return fail(Status::Corrupt, std::string("the ") + format + " data is cut short: the picture "
                                 "needs more bytes than the " + std::to_string(size) + " given");
  }
  if (!pixels) {
    const char* why = stbi_failure_reason();
    if (why && std::strcmp(why, "outofmem") == 0)
      return fail(Status::NoMemory, std::string("out of memory decoding the ") + format +
                                        " picture of " + std::to_string(w) + " x " +
                                        std::to_string(h) + " pixels");
    return fail(Status::Corrupt, std::string("the ") + format + " data is damaged or cut short (" +
                                     (why ? why : "no reason given") + ")");
  }
  if (dw != w || dh != h) {
    stbi_image_free(pixels);
    return fail(Status::Corrupt, std::string("the ") + format + " picture's size changed while decoding");
  }
  out->width = w;
  out->height = h;
  out->format = static_cast<PixelFormat>(channels);
  out->pixels = std::unique_ptr<std::uint8_t, void (*)(void*)>(pixels, stbi_image_free);
  return {};
}

}  // namespace image
}  // namespace paloma
