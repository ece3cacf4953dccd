// Decoding through stb_image, built into this file only. TGA is left out: its
// header has no signature, so bytes of any kind would pass for one.
#include <algorithm>
#include <climits>
#include <cstdlib>
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
// The decoder's own state comes cleared. Its JPEG state is one block of
// about 18 KiB whose Huffman tables are set up only as DHT segments define
// them; a damaged file that decodes with one it never defined (refused
// before decoding, below) would otherwise follow whatever the memory held.
// Pixel planes, larger, are left as they come: clearing them would cost a
// few percent of a photo's decode, and what a damaged file leaves in them is
// only printed, never followed.
static inline void* pictureAllocate(std::size_t n) {
  return n <= (64u << 10) ? std::calloc(1, n) : std::malloc(n);
}
#define STBI_MALLOC(n) pictureAllocate(n)
#define STBI_REALLOC(p, n) std::realloc(p, n)
#define STBI_FREE(p) std::free(p)
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

// The width, height and maximum value of a PNM header, read as the decoder
// reads them (white space and # comments between them), each held at
// kPnmNumberCap at most. The decoder adds the digits into an int without a
// bound, so a long number overflows before its own checks see it: a size
// beyond the bounds and a maximum value over 65535 are refused from these
// first.
constexpr std::uint64_t kPnmNumberCap = 0xFFFFFFFFu;

void pnmNumbers(const std::uint8_t* d, std::size_t n, std::uint64_t numbers[3]) {
  // `c` is the byte at i; the data ends when there is none after it.
  std::size_t i = 2;
  auto c = [&] { return i < n ? d[i] : std::uint8_t{0}; };
  auto more = [&] { return i + 1 < n; };
  for (int k = 0; k < 3; ++k) {
    for (;;) {
      while (more() && (isSpace(c()) || c() == '\v' || c() == '\f')) ++i;
      if (!more() || c() != '#') break;
      while (more() && c() != '\n' && c() != '\r') ++i;
    }
    std::uint64_t v = 0;
    while (more() && c() >= '0' && c() <= '9') {
      v = std::min(v * 10 + (c() - '0'), kPnmNumberCap);
      ++i;
    }
    numbers[k] = v;
  }
}

// The size the header declares, where it stands at a fixed place (PNG, GIF,
// BMP) or as the first numbers (PNM), so that a size beyond the bounds is
// named as such: the decoder's own header check refuses some of them with a
// less telling reason, and a PNM's only after its int has overflowed.
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
  if (std::strcmp(format, "PNM") == 0) {
    std::uint64_t numbers[3];
    pnmNumbers(d, n, numbers);
    *w = numbers[0];
    *h = numbers[1];
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

// What in a JPEG's Huffman tables the decoder would trip over, or empty:
//  - a table of more than 256 codes: its table builder writes one entry per
//    code into an array of 257 without checking;
//  - a scan that decodes with a table no DHT segment before it defined: the
//    decoder's tables are not set up until a DHT defines them, and with one
//    left as the memory was it reads past its own tables (its bit masks, its
//    symbols) wherever the garbage leads.
// The symbol values themselves are safe: the decoder refuses a DC value over
// 15 and uses only the low nibble of an AC value as a bit count.
//
// The segments are walked as the decoder walks them. Up to the frame header
// it skips stray bytes between segments one at a time; after it, a segment
// must follow the last one directly, and the entropy-coded data of a scan
// ends at the first FF that is followed (after FF fill bytes) by neither 00
// nor a restart marker: the decoder takes the marker there or nowhere (it
// either reads up to it, or stops earlier and looks for the next FF). Where
// the decoder itself would refuse the file (a bad segment length or table
// header), the walk stops: no scan after it is decoded.
class JpegTableWalk {
 public:
  JpegTableWalk(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}

  std::string fault() {
    std::size_t pos = 2;  // after SOI
    // Up to and including the frame header.
    for (;;) {
      if (pos >= n_) return {};
      if (d_[pos] != 0xFF) {
        ++pos;
        continue;
      }
      const int m = marker(&pos);
      if (m < 0) return {};
      if (m == 0xC0 || m == 0xC1 || m == 0xC2) {
        progressive_ = m == 0xC2;
        pos += be16(pos);
        break;
      }
      std::string why;
      if (!segment(m, &pos, &why)) return why;
    }
    // Scans and the segments between them.
    for (;;) {
      if (at(pos) != 0xFF) return {};
      const int m = marker(&pos);
      if (m < 0 || m == 0xD9) return {};
      if (m == 0xDA) {
        std::string why;
        if (!scanTablesDefined(pos, &why)) return why;
        pos = endOfScan(pos + be16(pos));
        continue;
      }
      if (m == 0xDC) {  // DNL: its length and the line count
        if (be16(pos) != 4) return {};
        pos += 4;
        continue;
      }
      std::string why;
      if (!segment(m, &pos, &why)) return why;
    }
  }

 private:
  // Past the end of the data the decoder reads zeros.
  std::uint8_t at(std::size_t i) const { return i < n_ ? d_[i] : 0; }
  std::size_t be16(std::size_t i) const { return (std::size_t{at(i)} << 8) | at(i + 1); }

  // At an FF: skips the fill bytes and returns the marker after them (pos
  // then past it), or -1 at the end of the data.
  int marker(std::size_t* pos) const {
    std::size_t p = *pos;
    while (p < n_ && d_[p] == 0xFF) ++p;
    if (p >= n_) return -1;
    *pos = p + 1;
    return d_[p];
  }

  // A segment other than a frame header or a scan, with `pos` just past its
  // marker. False: stop the walk, with `why` the fault, or empty where the
  // decoder refuses the file itself.
  bool segment(int m, std::size_t* pos, std::string* why) {
    const std::size_t length = be16(*pos);
    if (m == 0xC4) return huffmanTables(pos, why);
    if (m == 0xDD) {  // DRI: the decoder takes a length of 4 only
      if (length != 4) return false;
    } else if (m != 0xDB && m != 0xFE && (m < 0xE0 || m > 0xEF)) {
      return false;  // a marker the decoder refuses here
    }
    if (length < 2) return false;  // refused as well
    *pos += length;
    return true;
  }

  // A DHT segment, read as the decoder reads it: tables while its length
  // lasts, each a class and number byte, 16 counts and as many symbols as they
  // add up to. The decoder builds each table before it checks the length, so
  // a table is counted as defined even where the segment's length is wrong.
  bool huffmanTables(std::size_t* pos, std::string* why) {
    long left = static_cast<long>(be16(*pos)) - 2;
    std::size_t p = *pos + 2;
    while (left > 0) {
      const int kind = at(p) >> 4, number = at(p) & 15;
      if (kind > 1 || number > 3) return false;  // the decoder refuses it
      long codes = 0;
      for (std::size_t i = 1; i <= 16; ++i) codes += at(p + i);
      if (codes > 256) {
        *why = "Huffman table " + name(kind, number) + " holds " + std::to_string(codes) +
               " codes; at most 256 fit";
        return false;
      }
      defined_[kind][number] = true;
      p += 17 + static_cast<std::size_t>(codes);
      left -= 17 + codes;
    }
    if (left != 0) return false;  // the decoder refuses a length that does not add up
    *pos = p;
    return true;
  }

  // The tables a scan header at `pos` (just past its marker) makes the
  // decoder use: both of every component in a sequential scan; in a
  // progressive one the DC table for a first DC scan (a refinement reads
  // bits alone) and the AC table for an AC scan.
  bool scanTablesDefined(std::size_t pos, std::string* why) const {
    const std::size_t count = at(pos + 2);
    if (count < 1 || count > 4 || be16(pos) != 6 + 2 * count) return true;  // refused by the decoder
    // After the components: the first and last coefficient, then the bit
    // positions (the high one in the top nibble).
    const std::size_t after = pos + 3 + 2 * count;
    const bool acScan = at(after) != 0;
    const bool needDc = !progressive_ || (!acScan && (at(after + 2) >> 4) == 0);
    const bool needAc = !progressive_ || acScan;
    for (std::size_t i = 0; i < count; ++i) {
      const int tables = at(pos + 4 + 2 * i);
      const int dc = tables >> 4, ac = tables & 15;
      if (dc > 3 || ac > 3) return true;  // refused by the decoder
      const char* missing = needDc && !defined_[0][dc]   ? "DC"
                            : needAc && !defined_[1][ac] ? "AC"
                                                         : nullptr;
      if (missing) {
        *why = std::string("a scan decodes with Huffman table ") + missing + " " +
               std::to_string(missing[0] == 'D' ? dc : ac) + ", which no table before it defines";
        return false;
      }
    }
    return true;
  }

  // Where the decoder takes the marker after a scan's entropy-coded data
  // starting at `pos`: the FF that starts it, or the end of the data.
  std::size_t endOfScan(std::size_t pos) const {
    while (pos < n_) {
      const void* ff = std::memchr(d_ + pos, 0xFF, n_ - pos);
      if (!ff) return n_;
      const std::size_t i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - d_);
      std::size_t j = i + 1;
      while (j < n_ && d_[j] == 0xFF) ++j;
      if (j >= n_) return n_;
      if (d_[j] != 0 && (d_[j] < 0xD0 || d_[j] > 0xD7)) return i;
      pos = j + 1;  // a stuffed FF or a restart marker: the data goes on
    }
    return n_;
  }

  static std::string name(int kind, int number) {
    return std::string(kind == 0 ? "DC " : "AC ") + std::to_string(number);
  }

  const std::uint8_t* d_;
  std::size_t n_;
  bool progressive_ = false;
  bool defined_[2][4] = {};
};

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
  if (std::strcmp(format, "JPEG") == 0) {
    const std::string fault = JpegTableWalk(data, size).fault();
    if (!fault.empty()) return fail(Status::Corrupt, "the JPEG data is damaged: " + fault);
  }
  if (std::strcmp(format, "PNM") == 0) {
    std::uint64_t numbers[3];
    pnmNumbers(data, size, numbers);
    if (numbers[2] > 65535)
      return fail(Status::Corrupt, "the PNM header's maximum value " +
                                       (numbers[2] == kPnmNumberCap ? std::string("is too long")
                                                                    : std::to_string(numbers[2]) +
                                                                          " is over 65535"));
  }
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
