#include "images.h"

#include <cstdlib>

namespace vprinter {

namespace {

constexpr int kMaxSide = 20000;

uint32_t le16(const std::string& s, size_t i) {
  return static_cast<uint8_t>(s[i]) | (static_cast<uint8_t>(s[i + 1]) << 8);
}
uint32_t le32(const std::string& s, size_t i) {
  return le16(s, i) | (le16(s, i + 2) << 16);
}

uint8_t inkOf(int r, int g, int b) {
  int lum = (r * 299 + g * 587 + b * 114) / 1000;
  return static_cast<uint8_t>(255 - lum);
}

}  // namespace

bool decodeBmp(const std::string& f, InkImage& out, std::string& error) {
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') {
    error = "not a BMP file";
    return false;
  }
  uint32_t dataOffset = le32(f, 10);
  uint32_t headerSize = le32(f, 14);
  int32_t w = static_cast<int32_t>(le32(f, 18));
  int32_t h = static_cast<int32_t>(le32(f, 22));
  uint32_t bpp = le16(f, 28);
  uint32_t compression = le32(f, 30);
  uint32_t colours = le32(f, 46);
  const bool topDown = h < 0;
  // A top-down image gives its height negated; the most negative height has
  // no positive twin and is out of range anyway.
  if (topDown && h >= -kMaxSide) h = -h;
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) {
    error = "BMP size out of range";
    return false;
  }
  if (compression != 0 && !(compression == 3 && (bpp == 32 || bpp == 16))) {
    error = "compressed BMP is not supported";
    return false;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) {
    error = "BMP of " + std::to_string(bpp) + " bits per pixel is not supported";
    return false;
  }
  std::vector<uint8_t> palette;
  if (bpp <= 8) {
    uint32_t n = colours ? colours : (1u << bpp);
    if (n > 256) n = 256;
    size_t p = 14 + static_cast<size_t>(headerSize);
    if (p + 4ull * n > f.size()) {
      error = "BMP palette truncated";
      return false;
    }
    palette.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      size_t q = p + 4 * i;
      palette[i] = inkOf(static_cast<uint8_t>(f[q + 2]), static_cast<uint8_t>(f[q + 1]),
                         static_cast<uint8_t>(f[q]));
    }
  }
  size_t stride = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
  if (dataOffset > f.size() || stride * static_cast<size_t>(h) > f.size() - dataOffset) {
    error = "BMP pixel data truncated";
    return false;
  }
  out.width = w;
  out.height = h;
  out.ink.assign(static_cast<size_t>(w) * h, 0);
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(f.data()) + dataOffset +
                         stride * static_cast<size_t>(topDown ? r : h - 1 - r);
    uint8_t* dst = &out.ink[static_cast<size_t>(r) * w];
    for (int32_t c = 0; c < w; ++c) {
      uint8_t v = 0;
      switch (bpp) {
        case 1: {
          unsigned idx = (row[c >> 3] >> (7 - (c & 7))) & 1;
          v = idx < palette.size() ? palette[idx] : 0;
          break;
        }
        case 4: {
          unsigned idx = (row[c >> 1] >> ((c & 1) ? 0 : 4)) & 15;
          v = idx < palette.size() ? palette[idx] : 0;
          break;
        }
        case 8:
          v = row[c] < palette.size() ? palette[row[c]] : 0;
          break;
        case 24:
          v = inkOf(row[3 * c + 2], row[3 * c + 1], row[3 * c]);
          break;
        default:
          v = inkOf(row[4 * c + 2], row[4 * c + 1], row[4 * c]);
          break;
      }
      dst[c] = v;
    }
  }
  return true;
}

bool decodePcx(const std::string& f, InkImage& out, std::string& error) {
  if (f.size() < 128 || static_cast<uint8_t>(f[0]) != 0x0A || f[2] != 1) {
    error = "not a run-length PCX file";
    return false;
  }
  int bpp = static_cast<uint8_t>(f[3]);
  int w = static_cast<int>(le16(f, 8)) - static_cast<int>(le16(f, 4)) + 1;
  int h = static_cast<int>(le16(f, 10)) - static_cast<int>(le16(f, 6)) + 1;
  int planes = static_cast<uint8_t>(f[65]);
  int bytesPerLine = static_cast<int>(le16(f, 66));
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || planes < 1 || planes > 4 ||
      bytesPerLine <= 0 || bytesPerLine * 8 < w * (bpp == 8 ? 8 : 1)) {
    error = "PCX header out of range";
    return false;
  }
  if (!(bpp == 1 || (bpp == 8 && planes == 1))) {
    error = "PCX of " + std::to_string(bpp) + " bits and " + std::to_string(planes) +
            " planes is not supported";
    return false;
  }
  // A line holds at most a few bytes more than its dots need (padding), and a
  // run-length pair makes at most 63 bytes: a header cannot announce more than
  // its file can hold, so a small file never claims a large buffer.
  size_t lineBytes = static_cast<size_t>(bytesPerLine) * planes;
  size_t needed = (static_cast<size_t>(w) * (bpp == 8 ? 8 : 1) + 7) / 8;
  if (static_cast<size_t>(bytesPerLine) > needed + 16) {
    error = "PCX line of " + std::to_string(bytesPerLine) + " bytes for " + std::to_string(w) +
            " dots";
    return false;
  }
  if (lineBytes * h > (f.size() - 128) / 2 * 63 + 63) {
    error = "PCX pixel data truncated";
    return false;
  }
  std::vector<uint8_t> raw(lineBytes * h);
  size_t p = 128, o = 0;
  while (o < raw.size() && p < f.size()) {
    uint8_t b = static_cast<uint8_t>(f[p++]);
    if ((b & 0xC0) == 0xC0) {
      size_t n = b & 0x3F;
      if (p >= f.size()) break;
      uint8_t v = static_cast<uint8_t>(f[p++]);
      while (n-- && o < raw.size()) raw[o++] = v;
    } else {
      raw[o++] = b;
    }
  }
  if (o < raw.size()) {
    error = "PCX pixel data truncated";
    return false;
  }
  std::vector<uint8_t> palette(256, 0);
  if (bpp == 8) {
    if (f.size() < 769 || static_cast<uint8_t>(f[f.size() - 769]) != 0x0C) {
      error = "PCX palette missing";
      return false;
    }
    size_t q = f.size() - 768;
    for (int i = 0; i < 256; ++i) {
      palette[i] = inkOf(static_cast<uint8_t>(f[q + 3 * i]), static_cast<uint8_t>(f[q + 3 * i + 1]),
                         static_cast<uint8_t>(f[q + 3 * i + 2]));
    }
  }
  out.width = w;
  out.height = h;
  out.ink.assign(static_cast<size_t>(w) * h, 0);
  for (int r = 0; r < h; ++r) {
    const uint8_t* line = &raw[lineBytes * r];
    for (int c = 0; c < w; ++c) {
      uint8_t v = 0;
      if (bpp == 8) {
        v = palette[line[c]];
      } else {
        // One bit per plane: a dot is white when any plane has its bit set.
        bool white = false;
        for (int pl = 0; pl < planes; ++pl) {
          white |= ((line[pl * bytesPerLine + (c >> 3)] >> (7 - (c & 7))) & 1) != 0;
        }
        v = white ? 0 : 255;
      }
      out.ink[static_cast<size_t>(r) * w + c] = v;
    }
  }
  return true;
}

}  // namespace vprinter
