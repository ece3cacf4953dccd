#include "png_writer.h"

#include <spng.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace vprinter {
namespace {

// One row of ink to PNG bits: leftmost dot in the most significant bit, a
// set bit white (ink below 128). Bits past the last dot of the row are 0.
void packRow(const uint8_t* ink, int w, uint8_t* out) {
  const int whole = w / 8;
  for (int b = 0; b < whole; ++b, ink += 8) {
    unsigned v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 1) | (ink[k] < 128 ? 1u : 0u);
    out[b] = static_cast<uint8_t>(v);
  }
  const int rest = w % 8;
  if (rest) {
    unsigned v = 0;
    for (int k = 0; k < rest; ++k) v |= (ink[k] < 128 ? 0x80u : 0u) >> k;
    out[whole] = static_cast<uint8_t>(v);
  }
}

struct SpngFree {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
struct FileClose {
  void operator()(FILE* f) const { std::fclose(f); }
};

bool encode(FILE* file, const uint8_t* ink, int stride, int w, int h, std::string& error) {
  std::unique_ptr<spng_ctx, SpngFree> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) {
    error = "cannot write PNG: no memory for the encoder";
    return false;
  }
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(w);
  ihdr.height = static_cast<uint32_t>(h);
  ihdr.bit_depth = 1;
  ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
  int rc = spng_set_png_file(ctx.get(), file);
  if (!rc) rc = spng_set_ihdr(ctx.get(), &ihdr);
  // Level 1 and no row filters: a label is mostly long runs of white, which
  // the fastest level already packs well.
  if (!rc) rc = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
  if (!rc) rc = spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING);
  if (!rc) rc = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                                  SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  std::vector<uint8_t> row(static_cast<size_t>(w + 7) / 8);
  for (int y = 0; !rc && y < h; ++y) {
    packRow(ink + static_cast<size_t>(y) * static_cast<size_t>(stride), w, row.data());
    rc = spng_encode_row(ctx.get(), row.data(), row.size());
  }
  // The last row ends the image with SPNG_EOI; anything else is a failure.
  if (rc != SPNG_EOI) {
    error = std::string("cannot write PNG: ") + (rc ? spng_strerror(rc) : "image not finished");
    return false;
  }
  return true;
}

}  // namespace

bool writeInkPng(const std::string& path, const uint8_t* ink, int stride, int w, int h,
                 std::string& error) {
  if (!ink || w < 1 || h < 1 || stride < w) {
    error = "cannot write PNG: no image";
    return false;
  }
  const std::string tmp = path + ".tmp";
  std::unique_ptr<FILE, FileClose> file(std::fopen(tmp.c_str(), "wb"));
  if (!file) {
    error = "cannot write PNG: cannot create " + tmp;
    return false;
  }
  bool ok = encode(file.get(), ink, stride, w, h, error);
  // The bytes the stream still holds must reach the file too.
  const bool written = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  const bool closed = std::fclose(file.release()) == 0;
  if (ok && !(written && closed)) {
    error = "cannot write PNG: writing " + tmp + " failed";
    ok = false;
  }
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + tmp;
    ok = false;
  }
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

}  // namespace vprinter
