#include "text.h"

#include <pango/pangocairo.h>

#include "canvas.h"

#include <cmath>

namespace vprinter {

namespace {

constexpr double kRefPx = 100.0;

bool validUtf8(const std::string& s) {
  return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr) == TRUE;
}

}  // namespace

std::string toUtf8(const std::string& bytes) {
  std::string in;
  in.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.compare(i, 4, "\\[\"]") == 0) {
      in.push_back('"');
      i += 3;
    } else if (bytes[i] != '\0') {
      in.push_back(bytes[i]);
    }
  }
  if (validUtf8(in)) return in;
  std::string out;
  for (unsigned char c : in) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

TextRenderer::TextRenderer() {
  PangoFontMap* map = pango_cairo_font_map_get_default();
  context_ = pango_font_map_create_context(map);
  cairo_font_options_t* opts = cairo_font_options_create();
  cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context_, opts);
  cairo_font_options_destroy(opts);
}

TextRenderer::~TextRenderer() {
  if (context_) g_object_unref(context_);
}

bool TextRenderer::fontCell(const std::string& font, double& w, double& h) {
  static const double cells[8][2] = {{8, 12},  {12, 20}, {16, 24}, {24, 32},
                                     {32, 48}, {14, 19}, {21, 27}, {14, 25}};
  if (font.size() != 1 || font[0] < '1' || font[0] > '8') return false;
  w = cells[font[0] - '1'][0];
  h = cells[font[0] - '1'][1];
  return true;
}

PangoLayout* TextRenderer::layout(const char* family, const std::string& utf8) {
  PangoLayout* l = pango_layout_new(context_);
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, family);
  pango_font_description_set_absolute_size(d, kRefPx * PANGO_SCALE);
  pango_layout_set_font_description(l, d);
  pango_font_description_free(d);
  pango_layout_set_text(l, utf8.data(), static_cast<int>(utf8.size()));
  return l;
}

void TextRenderer::monoMetrics() {
  if (monoAdvance_ > 0) return;
  PangoLayout* l = layout("DejaVu Sans Mono,monospace", "MMMMMMMMMM");
  PangoRectangle logical;
  pango_layout_get_extents(l, nullptr, &logical);
  monoAdvance_ = logical.width / static_cast<double>(PANGO_SCALE) / 10.0;
  monoHeight_ = logical.height / static_cast<double>(PANGO_SCALE);
  g_object_unref(l);
  if (monoAdvance_ <= 0) monoAdvance_ = 60;
  if (monoHeight_ <= 0) monoHeight_ = 117;
}

void TextRenderer::drawText(cairo_t* cr, double x, double y, const std::string& font,
                            int rotation, double xmul, double ymul, const std::string& utf8,
                            int dpi) {
  double cw = 0, ch = 0;
  double sx = 1, sy = 1;
  const char* family = "DejaVu Sans Mono,monospace";
  if (TextRenderer::fontCell(font, cw, ch)) {
    monoMetrics();
    sx = cw * xmul / monoAdvance_;
    sy = ch * ymul / monoHeight_;
  } else {
    // Scalable: the multipliers are points.
    family = "DejaVu Sans,sans";
    double hpx = ymul * dpi / 72.0;
    double wpx = xmul * dpi / 72.0;
    sy = hpx / kRefPx;
    sx = wpx / kRefPx;
  }
  PangoLayout* l = layout(family, utf8);
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, rotation * M_PI / 180.0);
  cairo_scale(cr, sx, sy);
  // The outlines are laid out unscaled and filled under the scaled matrix, so
  // a character cell can be stretched in one direction only.
  cairo_new_path(cr);
  pango_cairo_layout_path(cr, l);
  fillNoted(cr);
  cairo_restore(cr);
  g_object_unref(l);
}

double TextRenderer::measurePlain(double px, const std::string& utf8) {
  monoMetrics();
  long chars = g_utf8_strlen(utf8.data(), static_cast<gssize>(utf8.size()));
  return chars * monoAdvance_ * px / monoHeight_;
}

double TextRenderer::drawPlain(cairo_t* cr, double x, double y, double px,
                               const std::string& utf8) {
  monoMetrics();
  double s = px / monoHeight_;
  PangoLayout* l = layout("DejaVu Sans Mono,monospace", utf8);
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, s, s);
  cairo_new_path(cr);
  pango_cairo_layout_path(cr, l);
  fillNoted(cr);
  cairo_restore(cr);
  PangoRectangle logical;
  pango_layout_get_extents(l, nullptr, &logical);
  g_object_unref(l);
  return logical.width / static_cast<double>(PANGO_SCALE) * s;
}

}  // namespace vprinter
