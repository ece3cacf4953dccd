#include <algorithm>
#include <cstdio>
#include <new>

#include "image/image.h"

namespace paloma {
namespace image {
namespace {

// round(65535 x sRGB-to-linear(i / 255)): a table rather than pow(), so
// that every C library gives the same values.
constexpr std::uint16_t kLinear[256] = {
        0,    20,    40,    60,    80,    99,   119,   139,   159,   179,   199,   219,
      241,   264,   288,   313,   340,   367,   396,   427,   458,   491,   526,   562,
      599,   637,   677,   718,   761,   805,   851,   898,   947,   997,  1048,  1101,
     1156,  1212,  1270,  1330,  1391,  1453,  1517,  1583,  1651,  1720,  1790,  1863,
     1937,  2013,  2090,  2170,  2250,  2333,  2418,  2504,  2592,  2681,  2773,  2866,
     2961,  3058,  3157,  3258,  3360,  3464,  3570,  3678,  3788,  3900,  4014,  4129,
     4247,  4366,  4488,  4611,  4736,  4864,  4993,  5124,  5257,  5392,  5530,  5669,
     5810,  5953,  6099,  6246,  6395,  6547,  6700,  6856,  7014,  7174,  7335,  7500,
     7666,  7834,  8004,  8177,  8352,  8528,  8708,  8889,  9072,  9258,  9445,  9635,
     9828, 10022, 10219, 10417, 10619, 10822, 11028, 11235, 11446, 11658, 11873, 12090,
    12309, 12530, 12754, 12980, 13209, 13440, 13673, 13909, 14146, 14387, 14629, 14874,
    15122, 15371, 15623, 15878, 16135, 16394, 16656, 16920, 17187, 17456, 17727, 18001,
    18277, 18556, 18837, 19121, 19407, 19696, 19987, 20281, 20577, 20876, 21177, 21481,
    21787, 22096, 22407, 22721, 23038, 23357, 23678, 24002, 24329, 24658, 24990, 25325,
    25662, 26001, 26344, 26688, 27036, 27386, 27739, 28094, 28452, 28813, 29176, 29542,
    29911, 30282, 30656, 31033, 31412, 31794, 32179, 32567, 32957, 33350, 33745, 34143,
    34544, 34948, 35355, 35764, 36176, 36591, 37008, 37429, 37852, 38278, 38706, 39138,
    39572, 40009, 40449, 40891, 41337, 41785, 42236, 42690, 43147, 43606, 44069, 44534,
    45002, 45473, 45947, 46423, 46903, 47385, 47871, 48359, 48850, 49344, 49841, 50341,
    50844, 51349, 51858, 52369, 52884, 53401, 53921, 54445, 54971, 55500, 56032, 56567,
    57105, 57646, 58190, 58737, 59287, 59840, 60396, 60955, 61517, 62082, 62650, 63221,
    63795, 64372, 64952, 65535,
};

constexpr std::uint32_t kWhite = 65535;

// Luminance weights of linear R, G, B (0.2126, 0.7152, 0.0722) in 1/65536.
constexpr std::uint32_t kWeightR = 13933, kWeightG = 46871, kWeightB = 4732;

Outcome fail(Status s, std::string why) { return Outcome{s, std::move(why)}; }

// Alpha 0..255 over white, in linear light.
inline std::uint32_t overWhite(std::uint32_t v, std::uint32_t alpha) {
  return (v * alpha + kWhite * (255 - alpha) + 127) / 255;
}

// kLinear[i] times each luminance weight, so that a pixel takes three
// look-ups and no multiplication.
struct WeightedTables {
  std::uint32_t r[256], g[256], b[256];
  WeightedTables() {
    for (int i = 0; i < 256; ++i) {
      r[i] = kLinear[i] * kWeightR;
      g[i] = kLinear[i] * kWeightG;
      b[i] = kLinear[i] * kWeightB;
    }
  }
};
const WeightedTables kWeighted;

inline std::uint32_t luminance(const std::uint8_t* p) {
  return (kWeighted.r[p[0]] + kWeighted.g[p[1]] + kWeighted.b[p[2]] + 32768) >> 16;
}

// One row of pixels to linear gray.
void linearRow(const std::uint8_t* p, int width, PixelFormat f, std::uint16_t* out) {
  switch (f) {
    case PixelFormat::Gray8:
      for (int x = 0; x < width; ++x) out[x] = kLinear[p[x]];
      break;
    case PixelFormat::GrayAlpha8:
      for (int x = 0; x < width; ++x, p += 2)
        out[x] = static_cast<std::uint16_t>(overWhite(kLinear[p[0]], p[1]));
      break;
    case PixelFormat::Rgb8:
      for (int x = 0; x < width; ++x, p += 3) out[x] = static_cast<std::uint16_t>(luminance(p));
      break;
    case PixelFormat::Rgba8:
      for (int x = 0; x < width; ++x, p += 4)
        out[x] = static_cast<std::uint16_t>(overWhite(luminance(p), p[3]));
      break;
  }
}

// Area averaging along one axis, from `from` samples to `to`. Output i covers
// the input interval [i*from/to, (i+1)*from/to); measured in 1/to of an input
// sample, input j covers [j*to, (j+1)*to) and output i covers
// [i*from, (i+1)*from), so every overlap is a whole number and the weights of
// one output add up to `from`.
struct AxisMap {
  std::vector<int> first;              // first input of output i
  std::vector<int> count;              // inputs of output i
  std::vector<std::uint32_t> offset;   // where output i's weights start
  std::vector<std::uint32_t> weights;  // overlaps
  std::uint32_t total = 1;             // = from

  AxisMap(int from, int to) : first(to), count(to), offset(to), total(static_cast<std::uint32_t>(from)) {
    const std::uint64_t F = static_cast<std::uint64_t>(from), T = static_cast<std::uint64_t>(to);
    for (int i = 0; i < to; ++i) {
      const std::uint64_t lo = i * F, hi = (i + 1) * F;
      const std::uint64_t j0 = lo / T, j1 = (hi + T - 1) / T;  // inputs [j0, j1)
      first[i] = static_cast<int>(j0);
      count[i] = static_cast<int>(j1 - j0);
      offset[i] = static_cast<std::uint32_t>(weights.size());
      for (std::uint64_t j = j0; j < j1; ++j) {
        const std::uint64_t a = std::max(lo, j * T), b = std::min(hi, (j + 1) * T);
        weights.push_back(static_cast<std::uint32_t>(b - a));
      }
    }
  }
};

// floor(n / d) for n < 2^62 and d >= 1 by one multiplication: m is 2^k / d
// rounded up, k = 63 + floor(log2 d), so that m < 2^64 and the excess
// n (m - 2^k / d) / 2^k stays below 1 / d, too little to reach the next
// whole number. Exact, like the division it replaces, and several times
// faster.
class Divider {
 public:
  explicit Divider(std::uint64_t d) {
    unsigned log2 = 0;
    while ((d >> log2) > 1) ++log2;
    shift_ = 63 + log2;
    multiplier_ = static_cast<std::uint64_t>(((static_cast<unsigned __int128>(1) << shift_) / d) + 1);
  }
  std::uint64_t operator()(std::uint64_t n) const {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(n) * multiplier_) >> shift_);
  }

 private:
  std::uint64_t multiplier_ = 1;
  unsigned shift_ = 0;
};

}  // namespace

Outcome checkOptions(const Options& o) {
  if (o.dither != Dither::Threshold && o.dither != Dither::Ordered &&
      o.dither != Dither::Diffusion)
    return fail(Status::Argument, "the dithering kind is " +
                                      std::to_string(static_cast<int>(o.dither)) +
                                      "; it is 0 (threshold), 1 (ordered) or 2 (diffusion)");
  if (o.threshold < 0 || o.threshold > 255)
    return fail(Status::Argument,
                "the threshold is " + std::to_string(o.threshold) + "; it is a level 0 to 255");
  if (o.rotation != 0 && o.rotation != 90 && o.rotation != 180 && o.rotation != 270)
    return fail(Status::Argument, "the rotation is " + std::to_string(o.rotation) +
                                      "; it is 0, 90, 180 or 270 degrees");
  if (o.mode < 0 || o.mode > 2)
    return fail(Status::Argument, "the bitmap mode is " + std::to_string(o.mode) +
                                      "; it is 0 (overwrite), 1 (OR) or 2 (XOR)");
  return {};
}

Outcome printedSize(int w, int h, int rotation, int width, int height, int* outW, int* outH) {
  if (width < 0 || height < 0)
    return fail(Status::Argument, "the size " + std::to_string(width) + " x " +
                                      std::to_string(height) + " is negative");
  if (w <= 0 || h <= 0)
    return fail(Status::ZeroSize, "the picture has no pixels (" + std::to_string(w) + " x " +
                                      std::to_string(h) + ")");
  const bool turned = rotation == 90 || rotation == 270;
  const std::uint64_t pw = static_cast<std::uint64_t>(turned ? h : w);
  const std::uint64_t ph = static_cast<std::uint64_t>(turned ? w : h);
  std::uint64_t W = static_cast<std::uint64_t>(width), H = static_cast<std::uint64_t>(height);
  if (W == 0 && H == 0) {
    W = pw;
    H = ph;
  } else if (W == 0) {
    W = std::max<std::uint64_t>(1, (pw * H + ph / 2) / ph);
  } else if (H == 0) {
    H = std::max<std::uint64_t>(1, (ph * W + pw / 2) / pw);
  }
  if (W > static_cast<std::uint64_t>(kMaxDotsWide) || H > static_cast<std::uint64_t>(kMaxDotsHigh))
    return fail(Status::TooLarge,
                "the picture would be " + std::to_string(W) + " x " + std::to_string(H) +
                    " dots, larger than the label's dots (at most " +
                    std::to_string(kMaxDotsWide) + " x " + std::to_string(kMaxDotsHigh) +
                    "); give a smaller width or height");
  *outW = static_cast<int>(W);
  *outH = static_cast<int>(H);
  return {};
}

GrayImage rotateGray(const GrayImage& g, int rotation) {
  GrayImage r;
  const bool turned = rotation == 90 || rotation == 270;
  r.width = turned ? g.height : g.width;
  r.height = turned ? g.width : g.height;
  r.values.resize(g.values.size());
  std::uint16_t* out = r.values.data();
  for (int y = 0; y < r.height; ++y) {
    for (int x = 0; x < r.width; ++x) {
      switch (rotation) {
        case 90:  *out++ = g.at(y, g.height - 1 - x); break;
        case 180: *out++ = g.at(g.width - 1 - x, g.height - 1 - y); break;
        case 270: *out++ = g.at(g.width - 1 - y, x); break;
        default:  *out++ = g.at(x, y); break;
      }
    }
  }
  return r;
}

Outcome scaleToGray(const PixelView& px, int outW, int outH, int rotation, GrayImage* out) {
  if (!px.data) return fail(Status::Argument, "the pixels are a null pointer");
  if (px.width <= 0 || px.height <= 0 || outW <= 0 || outH <= 0)
    return fail(Status::ZeroSize, "a picture of " + std::to_string(px.width) + " x " +
                                      std::to_string(px.height) + " pixels to " +
                                      std::to_string(outW) + " x " + std::to_string(outH) +
                                      " dots has no dots");
  const std::size_t minStride =
      static_cast<std::size_t>(px.width) * static_cast<std::size_t>(channelsOf(px.format));
  if (px.stride < minStride)
    return fail(Status::Argument, "the stride " + std::to_string(px.stride) +
                                      " is less than a row's " + std::to_string(minStride) +
                                      " bytes");
  const bool turned = rotation == 90 || rotation == 270;
  // Scaled first at the unturned size, then turned.
  const int sw = turned ? outH : outW, sh = turned ? outW : outH;
  try {
    const AxisMap across(px.width, sw), down(px.height, sh);
    GrayImage scaled;
    scaled.width = sw;
    scaled.height = sh;
    scaled.values.resize(static_cast<std::size_t>(sw) * static_cast<std::size_t>(sh));
    // Sums are kept whole until the end, so that every dot is rounded once:
    // across, an input row gives sums of up to 65535 x px.width; down, those
    // add up to 65535 x px.width x px.height (< 2^48).
    std::vector<std::uint16_t> line(static_cast<std::size_t>(px.width));
    std::vector<std::uint32_t> row(static_cast<std::size_t>(sw));  // one input row, summed across
    std::vector<std::uint64_t> sum(static_cast<std::size_t>(sw));
    int rowOf = -1;                                                // the input row in `row`
    const bool sameWidth = px.width == sw;
    const std::uint64_t total =
        static_cast<std::uint64_t>(sameWidth ? 1 : across.total) * down.total;
    const Divider divide(total);
    for (int oy = 0; oy < sh; ++oy) {
      std::fill(sum.begin(), sum.end(), 0);
      for (int k = 0; k < down.count[oy]; ++k) {
        const int iy = down.first[oy] + k;
        if (iy != rowOf) {
          const std::uint8_t* src = px.data + static_cast<std::size_t>(iy) * px.stride;
          linearRow(src, px.width, px.format, line.data());
          if (sameWidth) {
            for (int ox = 0; ox < sw; ++ox) row[ox] = line[ox];
          } else {
            for (int ox = 0; ox < sw; ++ox) {
              const std::uint32_t* w = across.weights.data() + across.offset[ox];
              const std::uint16_t* in = line.data() + across.first[ox];
              std::uint32_t acc = 0;
              for (int j = 0; j < across.count[ox]; ++j) acc += in[j] * w[j];
              row[ox] = acc;
            }
          }
          rowOf = iy;
        }
        const std::uint64_t wy = down.weights[down.offset[oy] + static_cast<std::uint32_t>(k)];
        for (int ox = 0; ox < sw; ++ox) sum[ox] += row[ox] * wy;
      }
      std::uint16_t* o = scaled.values.data() + static_cast<std::size_t>(oy) * sw;
      for (int ox = 0; ox < sw; ++ox)
        o[ox] = static_cast<std::uint16_t>(divide(sum[ox] + total / 2));
    }
    *out = rotation == 0 ? std::move(scaled) : rotateGray(scaled, rotation);
  } catch (const std::bad_alloc&) {
    return fail(Status::NoMemory, "out of memory for a picture of " + std::to_string(outW) +
                                      " x " + std::to_string(outH) + " dots");
  }
  return {};
}

namespace {

constexpr std::uint8_t kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

}  // namespace

BitImage toOneBit(const GrayImage& g, const Options& o) {
  BitImage b;
  b.width = g.width;
  b.height = g.height;
  b.rowBytes = (g.width + 7) / 8;
  b.bytes.assign(static_cast<std::size_t>(b.rowBytes) * static_cast<std::size_t>(g.height), 0xFF);
  const int W = g.width;
  // Inverted, a value v stands for 65535 - v.
  const std::int32_t flip = o.invert ? static_cast<std::int32_t>(kWhite) : 0;
  const std::int32_t sign = o.invert ? -1 : 1;
  switch (o.dither) {
    case Dither::Threshold: {
      // Level 0 leaves every dot white; 255 makes all but pure white black.
      const std::int32_t level = o.threshold <= 0 ? 0 : kLinear[std::min(o.threshold, 255)];
      for (int y = 0; y < g.height; ++y) {
        const std::uint16_t* in = g.values.data() + static_cast<std::size_t>(y) * W;
        std::uint8_t* out = b.bytes.data() + static_cast<std::size_t>(y) * b.rowBytes;
        for (int x = 0; x < W; ++x)
          if (flip + sign * in[x] < level)
            out[x >> 3] &= static_cast<std::uint8_t>(~(0x80u >> (x & 7)));
      }
      break;
    }
    case Dither::Ordered: {
      // Cell value k stands for the level (2k + 1) / 128 of white: a gray of
      // linear value v has round(v x 64) of the 64 cells white.
      for (int y = 0; y < g.height; ++y) {
        const std::uint16_t* in = g.values.data() + static_cast<std::size_t>(y) * W;
        std::uint8_t* out = b.bytes.data() + static_cast<std::size_t>(y) * b.rowBytes;
        const std::uint8_t* cells = kBayer8[y & 7];
        for (int x = 0; x < W; ++x)
          if (flip + sign * in[x] < (2 * cells[x & 7] + 1) * 512)
            out[x >> 3] &= static_cast<std::uint8_t>(~(0x80u >> (x & 7)));
      }
      break;
    }
    case Dither::Diffusion: {
      // Errors of this row and the next, with a cell of margin on each side:
      // the error of dot x is at x + 1.
      const std::size_t n = static_cast<std::size_t>(W) + 2;
      std::vector<std::int32_t> cur(n, 0), next(n, 0);
      for (int y = 0; y < g.height; ++y) {
        const std::uint16_t* in = g.values.data() + static_cast<std::size_t>(y) * W;
        std::uint8_t* out = b.bytes.data() + static_cast<std::size_t>(y) * b.rowBytes;
        std::int32_t* here = cur.data() + 1;
        std::int32_t* below = next.data() + 1;
        // Even rows run left to right, odd rows back.
        const int dir = (y & 1) == 0 ? 1 : -1;
        for (int i = 0, x = dir > 0 ? 0 : W - 1; i < W; ++i, x += dir) {
          const std::int32_t v = flip + sign * in[x] + here[x];
          std::int32_t err;
          if (v < 32768) {
            out[x >> 3] &= static_cast<std::uint8_t>(~(0x80u >> (x & 7)));
            err = v;
          } else {
            err = v - static_cast<std::int32_t>(kWhite);
          }
          const std::int32_t e7 = err * 7 / 16, e3 = err * 3 / 16, e5 = err * 5 / 16;
          here[x + dir] += e7;
          below[x - dir] += e3;
          below[x] += e5;
          below[x + dir] += err - e7 - e3 - e5;
        }
        cur.swap(next);
        std::fill(next.begin(), next.end(), 0);
      }
      break;
    }
  }
  return b;
}

std::string bitmapCommand(int x, int y, const BitImage& bits, int mode) {
  char header[64];
  const int n = std::snprintf(header, sizeof header, "BITMAP %d,%d,%d,%d,%d,", x, y,
                              bits.rowBytes, bits.height, mode);
  std::string wire;
  wire.reserve(static_cast<std::size_t>(n) + bits.bytes.size() + 2);
  wire.append(header, static_cast<std::size_t>(n));
  wire.append(reinterpret_cast<const char*>(bits.bytes.data()), bits.bytes.size());
  wire.append("\r\n");
  return wire;
}

Outcome pictureCommand(const PixelView& px, int x, int y, int width, int height,
                       const Options& options, std::string* wire) {
  Outcome r = checkOptions(options);
  if (!r.ok()) return r;
  if (x < 0 || y < 0)
    return fail(Status::Argument, "the position " + std::to_string(x) + "," + std::to_string(y) +
                                      " is left of or above the label's origin");
  if (x > kMaxDotsWide * 8 || y > kMaxDotsHigh * 8)
    return fail(Status::Argument, "the position " + std::to_string(x) + "," + std::to_string(y) +
                                      " lies far beyond any label");
  int W = 0, H = 0;
  r = printedSize(px.width, px.height, options.rotation, width, height, &W, &H);
  if (!r.ok()) return r;
  GrayImage gray;
  r = scaleToGray(px, W, H, options.rotation, &gray);
  if (!r.ok()) return r;
  try {
    const BitImage bits = toOneBit(gray, options);
    gray = GrayImage();
    *wire = bitmapCommand(x, y, bits, options.mode);
  } catch (const std::bad_alloc&) {
    return fail(Status::NoMemory, "out of memory for the bitmap command");
  }
  return {};
}

Outcome encodedPictureCommand(const std::uint8_t* data, std::size_t size, int x, int y, int width,
                              int height, const Options& options, std::string* wire) {
  Outcome r = checkOptions(options);
  if (!r.ok()) return r;
  DecodedPicture picture;
  r = decodePicture(data, size, &picture);
  if (!r.ok()) return r;
  return pictureCommand(picture.view(), x, y, width, height, options, wire);
}

}  // namespace image
}  // namespace paloma
