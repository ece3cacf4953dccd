#include "canvas.h"

#include "png_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vprinter {

Canvas::~Canvas() { destroy(); }

void Canvas::destroy() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
  cr_ = nullptr;
  surface_ = nullptr;
}

bool Canvas::reset(int w, int h) {
  destroy();
  w_ = std::clamp(w, 1, 20000);
  h_ = std::clamp(h, 1, 20000);
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_A8, w_, h_);
  bool made = cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS;
  if (!made) {
    cairo_surface_destroy(surface_);
    w_ = h_ = 1;
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_A8, w_, h_);
  }
  newContext();
  clear();
  return made;
}

void Canvas::newContext() {
  if (cr_) cairo_destroy(cr_);
  cr_ = cairo_create(surface_);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgba(cr_, 0, 0, 0, 1);
}

bool Canvas::recover(std::string& error) {
  cairo_status_t st = cr_ ? cairo_status(cr_) : CAIRO_STATUS_SUCCESS;
  if (st == CAIRO_STATUS_SUCCESS) return true;
  error = std::string("drawing failed: ") + cairo_status_to_string(st);
  newContext();
  return false;
}

void Canvas::clear() {
  if (!surface_ || cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return;
  int stride = 0;
  uint8_t* p = pixels(stride);
  std::memset(p, 0, static_cast<size_t>(stride) * h_);
  cairo_surface_mark_dirty(surface_);
}

uint8_t* Canvas::pixels(int& stride) {
  cairo_surface_flush(surface_);
  stride = cairo_image_surface_get_stride(surface_);
  return cairo_image_surface_get_data(surface_);
}

void Canvas::blitBits(long long x, long long y, long long widthBytes, long long rows, int mode,
                      const uint8_t* data) {
  if (!surface_ || widthBytes <= 0 || rows <= 0) return;
  int stride = 0;
  uint8_t* p = pixels(stride);
  long long dots = widthBytes * 8;
  for (long long r = 0; r < rows; ++r) {
    long long py = y + r;
    if (py < 0) continue;
    if (py >= h_) break;
    const uint8_t* src = data + r * widthBytes;
    uint8_t* dst = p + py * stride;
    long long from = std::max(0LL, -x);
    long long to = std::min(dots, static_cast<long long>(w_) - x);
    for (long long d = from; d < to; ++d) {
      bool black = ((src[d >> 3] >> (7 - (d & 7))) & 1) == 0;
      uint8_t& px = dst[x + d];
      switch (mode) {
        case 1:
          if (black) px = 255;
          break;
        case 2:
          if (black) px = px >= 128 ? 0 : 255;
          break;
        default:
          px = black ? 255 : 0;
          break;
      }
    }
  }
  cairo_surface_mark_dirty(surface_);
}

void Canvas::blitInk(long long x, long long y, int w, int h, const uint8_t* ink) {
  if (!surface_) return;
  int stride = 0;
  uint8_t* p = pixels(stride);
  for (int r = 0; r < h; ++r) {
    long long py = y + r;
    if (py < 0) continue;
    if (py >= h_) break;
    for (int c = 0; c < w; ++c) {
      long long px = x + c;
      if (px < 0 || px >= w_) continue;
      uint8_t v = ink[static_cast<size_t>(r) * w + c];
      uint8_t& d = p[py * stride + px];
      if (v > d) d = v;
    }
  }
  cairo_surface_mark_dirty(surface_);
}

bool Canvas::isBlack(int x, int y) {
  if (!surface_ || x < 0 || y < 0 || x >= w_ || y >= h_) return false;
  int stride = 0;
  uint8_t* p = pixels(stride);
  return p[y * stride + x] >= 128;
}

bool Canvas::writePng(const std::string& path, std::string& error) {
  if (!surface_) {
    error = "no image buffer";
    return false;
  }
  int stride = 0;
  const uint8_t* ink = pixels(stride);
  return writeInkPng(path, ink, stride, w_, h_, error);
}

}  // namespace vprinter
