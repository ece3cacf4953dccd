// Text drawn with Pango: the printer's fonts approximated by a fixed
// monospace face, scalable fonts by a sans face.
#ifndef PALOMA_VPRINTER_TEXT_H
#define PALOMA_VPRINTER_TEXT_H

#include <cairo.h>

#include <string>

typedef struct _PangoContext PangoContext;
typedef struct _PangoLayout PangoLayout;

namespace vprinter {

// Bytes as the printer received them, made UTF-8: valid UTF-8 stays, anything
// else is read as ISO-8859-1. The escape \["] stands for a double quote.
std::string toUtf8(const std::string& bytes);

class TextRenderer {
 public:
  TextRenderer();
  ~TextRenderer();
  TextRenderer(const TextRenderer&) = delete;
  TextRenderer& operator=(const TextRenderer&) = delete;

  // Character cell of a printer font "1".."8" in dots (the same dots at every
  // resolution); false for other names.
  static bool fontCell(const std::string& font, double& w, double& h);

  // TEXT: (x, y) is the top-left corner before rotation (degrees clockwise).
  // Printer fonts scale by the multipliers; any other font is scalable, the
  // multipliers being its width and height in points (at `dpi`).
  void drawText(cairo_t* cr, double x, double y, const std::string& font, int rotation,
                double xmul, double ymul, const std::string& utf8, int dpi);
  // A line of monospace text `px` dots high, top-left at (x, y); returns its width.
  double drawPlain(cairo_t* cr, double x, double y, double px, const std::string& utf8);
  double measurePlain(double px, const std::string& utf8);

 private:
  PangoLayout* layout(const char* family, const std::string& utf8);
  void monoMetrics();

  PangoContext* context_ = nullptr;
  double monoAdvance_ = 0;  // width of one character at 100 px
  double monoHeight_ = 0;   // line height at 100 px
};

}  // namespace vprinter

#endif
