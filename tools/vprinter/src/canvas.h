// The printer's image buffer: one label at the printer's resolution.
//
// Drawn on an 8-bit Cairo surface whose alpha is ink (255 black, 0 white), so
// every Cairo and Pango operation draws ink with the ordinary OVER operator.
// A label is written as a one-bit grayscale PNG, as a thermal head would burn
// it: ink of 128 or more is a black dot.
#ifndef PALOMA_VPRINTER_CANVAS_H
#define PALOMA_VPRINTER_CANVAS_H

#include <cairo.h>

#include <cstdint>
#include <string>

namespace vprinter {

// A rectangle of dots: top-left (x, y), w x h; empty when w or h is 0.
struct DotBox {
  int x = 0, y = 0, w = 0, h = 0;
  bool empty() const { return w <= 0 || h <= 0; }
  // Widens this box to hold `o` too.
  void add(const DotBox& o);
};

// cairo_fill and cairo_stroke on a canvas's context, noting the dots they
// cover on the canvas (see Canvas::takeDrawn). On any other context they only
// fill or stroke.
void fillNoted(cairo_t* cr);
void strokeNoted(cairo_t* cr);

class Canvas {
 public:
  Canvas() = default;
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // A new, white buffer of w x h dots (each at least 1, at most 20000).
  // False when there is no memory for it: the buffer is then 1 x 1.
  bool reset(int w, int h);
  void clear();
  int width() const { return w_; }
  int height() const { return h_; }
  // A drawing context on the buffer, source black, no antialiasing. Owned by
  // the canvas; callers save and restore what they change.
  cairo_t* cr() { return cr_; }
  // Cairo keeps a drawing context that met an error (a scale of almost 0, say)
  // in that error, drawing nothing more. This gives a fresh context on the
  // same dots and returns false with the error when that happened.
  bool recover(std::string& error);

  // Raw rows, widthBytes bytes each, top row first, leftmost dot in the most
  // significant bit, a 0 bit black. Mode 0 overwrites (1 bits white), 1 ORs
  // the black dots in, 2 inverts the dots under black bits. Dots outside the
  // buffer are clipped.
  void blitBits(long long x, long long y, long long widthBytes, long long rows, int mode,
                const uint8_t* data);
  // Ink values (0 white .. 255 black), w x h, placed at (x, y), black OR-ed in.
  void blitInk(long long x, long long y, int w, int h, const uint8_t* ink);

  // The dots covered by fills, strokes and blits since the last call: what a
  // command drew, whether or not a dot changed (black over black, white over
  // white), clipped to the buffer.
  DotBox takeDrawn();
  // Notes the device-space rectangle from (x0, y0) to (x1, y1): the dots whose
  // centres lie inside it, as a fill without antialiasing covers them.
  void noteDrawn(double x0, double y0, double x1, double y1);

  bool isBlack(int x, int y);
  bool writePng(const std::string& path, std::string& error);

 private:
  void destroy();
  void newContext();
  uint8_t* pixels(int& stride);

  int w_ = 0, h_ = 0;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  DotBox drawn_;
};

}  // namespace vprinter

#endif
