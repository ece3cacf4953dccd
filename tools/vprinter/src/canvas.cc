#include "canvas.h"

#include "png_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vprinter {

namespace {

// The key under which a canvas's drawing context points back at its canvas.
const cairo_user_data_key_t kCanvasKey{};

// Notes the user-space rectangle (x0, y0)-(x1, y1) of `cr` on its canvas.
void noteUserBox(cairo_t* cr, double x0, double y0, double x1, double y1) {
  auto* canvas = static_cast<Canvas*>(cairo_get_user_data(cr, &kCanvasKey));
  if (!canvas || !(x1 > x0) || !(y1 > y0)) return;
  double xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1};
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
  for (int i = 0; i < 4; ++i) {
    cairo_user_to_device(cr, &xs[i], &ys[i]);
    minX = i == 0 ? xs[i] : std::min(minX, xs[i]);
    maxX = i == 0 ? xs[i] : std::max(maxX, xs[i]);
    minY = i == 0 ? ys[i] : std::min(minY, ys[i]);
    maxY = i == 0 ? ys[i] : std::max(maxY, ys[i]);
  }
  canvas->noteDrawn(minX, minY, maxX, maxY);
}

}  // namespace

void DotBox::add(const DotBox& o) {
  if (o.empty()) return;
  if (empty()) {
    *this = o;
    return;
  }
  int x1 = std::max(x + w, o.x + o.w), y1 = std::max(y + h, o.y + o.h);
  x = std::min(x, o.x);
  y = std::min(y, o.y);
  w = x1 - x;
  h = y1 - y;
}

void fillNoted(cairo_t* cr) {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  cairo_path_extents(cr, &x0, &y0, &x1, &y1);
  noteUserBox(cr, x0, y0, x1, y1);
  cairo_fill(cr);
}

void strokeNoted(cairo_t* cr) {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  cairo_stroke_extents(cr, &x0, &y0, &x1, &y1);
  noteUserBox(cr, x0, y0, x1, y1);
  cairo_stroke(cr);
}

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
  cairo_set_user_data(cr_, &kCanvasKey, this, nullptr);
}

DotBox Canvas::takeDrawn() {
  DotBox b = drawn_;
  drawn_ = DotBox();
  return b;
}

void Canvas::noteDrawn(double x0, double y0, double x1, double y1) {
  // A dot is covered when its centre is inside; NaN and huge values clip away.
  auto edge = [](double v, int limit) {
    double e = std::ceil(v - 0.5);
    if (!(e > 0)) return 0;
    return e >= limit ? limit : static_cast<int>(e);
  };
  DotBox b;
  b.x = edge(x0, w_);
  b.y = edge(y0, h_);
  b.w = edge(x1, w_) - b.x;
  b.h = edge(y1, h_) - b.y;
  drawn_.add(b);
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
  noteDrawn(static_cast<double>(x), static_cast<double>(y), static_cast<double>(x + widthBytes * 8),
            static_cast<double>(y + rows));
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
  if (!surface_ || w <= 0 || h <= 0) return;
  noteDrawn(static_cast<double>(x), static_cast<double>(y), static_cast<double>(x + w),
            static_cast<double>(y + h));
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
