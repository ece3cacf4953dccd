// Host-font text on Linux: Pango lays the text out in a face that fontconfig
// finds by name, and Cairo draws it with antialiasing off, so every pixel is
// either ink or background; the pixels are then packed into the printer's
// one-bit rows: leftmost pixel in the most significant bit, text 0 and
// background 1.
//
// The drawing surface is an 8-bit alpha (A8) surface holding one band of rows
// at a time, not a one-bit (A1) one: with antialiasing off both receive the
// same pixels, but compositing glyphs into A1 takes pixman's slow general path
// and costs more than all the rest of the call. Bands bound the memory a tall
// block needs.
//
// The 8-bit text conversion reads bytes in the process locale's character
// set; in the C/POSIX locale (plain ASCII) every byte is read as ISO-8859-1,
// so that each one means something.
#include <cairo.h>
#include <langinfo.h>
#include <pango/pangocairo.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/posix/posix_os.h"

namespace paloma {
namespace {

// Heights beyond this give a text taller than any canvas anyway; clamping
// keeps the size within Pango's integer units.
constexpr std::int64_t kMaxHeightPx = 20000;
// The most bytes of drawing surface one call holds: taller blocks are drawn
// in bands of rows.
constexpr std::size_t kBandBytes = 256 * 1024;
// The cell height of a font whose height is given as 0.
constexpr int kDefaultCellHeight = 16;

void appendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16 to UTF-8 for Pango. A NUL unit ends the text (Pango takes C
// strings); an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    appendUtf8(&out, c);
  }
  return out;
}

void appendUtf16(std::u16string* out, char32_t c) {
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    out->push_back(u'\uFFFD');
  } else {
    out->push_back(static_cast<char16_t>(c));
  }
}

bool localeIsPlainAscii() {
  if (MB_CUR_MAX != 1) return false;
  const char* cs = nl_langinfo(CODESET);
  return cs == nullptr || std::strcmp(cs, "ANSI_X3.4-1968") == 0 ||
         std::strcmp(cs, "ASCII") == 0 || std::strcmp(cs, "US-ASCII") == 0 || cs[0] == '\0';
}

// What identifies a laid-out text: the font and the UTF-8 text.
struct LayoutKey {
  int height = 0;
  int weight = 0;
  bool italic = false;
  bool underline = false;
  std::string face;
  std::string text;
  bool operator==(const LayoutKey& o) const {
    return height == o.height && weight == o.weight && italic == o.italic &&
           underline == o.underline && face == o.face && text == o.text;
  }
};

// The Pango state, shared by all calls and guarded by one lock: a font map
// of our own (the default one is per thread), one context with the drawing
// options, the em/cell ratio of each face, and the last layout, so that the
// drawing that follows a measurement does not lay the text out again.
class TextEngine {
 public:
  TextEngine() {
    fontMap_ = pango_cairo_font_map_new();
    context_ = pango_font_map_create_context(fontMap_);
    cairo_font_options_t* opts = cairo_font_options_create();
    cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_NONE);
    cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(context_, opts);
    cairo_font_options_destroy(opts);
  }
  TextEngine(const TextEngine&) = delete;
  TextEngine& operator=(const TextEngine&) = delete;

  std::mutex& lock() { return mu_; }

  // The layout for a font and text (owned by the engine; valid until the
  // next call under the lock).
  PangoLayout* layout(const FontSpec& font, const HostText& text) {
    LayoutKey key;
    key.height = font.height;
    key.weight = font.weight;
    key.italic = font.italic;
    key.underline = font.underline;
    key.face = font.faceName;
    key.text = text.wide ? utf16ToUtf8(text.utf16)
                         : utf16ToUtf8(platformOs().ansiToUtf16(text.bytes));
    if (last_ && key == lastKey_) return last_;

    PangoFontDescription* desc = description(font);
    PangoLayout* l = pango_layout_new(context_);
    pango_layout_set_font_description(l, desc);
    pango_font_description_free(desc);
    if (font.underline) {
      PangoAttrList* attrs = pango_attr_list_new();
      pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
      pango_layout_set_attributes(l, attrs);
      pango_attr_list_unref(attrs);
    }
    pango_layout_set_single_paragraph_mode(l, TRUE);
    pango_layout_set_text(l, key.text.c_str(), static_cast<int>(key.text.size()));

    if (last_) g_object_unref(last_);
    last_ = l;
    lastKey_ = std::move(key);
    return l;
  }

 private:
  PangoFontDescription* baseDescription(const FontSpec& font) {
    PangoFontDescription* d = pango_font_description_new();
    if (!font.faceName.empty()) pango_font_description_set_family(d, font.faceName.c_str());
    pango_font_description_set_weight(d, static_cast<PangoWeight>(font.weight));
    pango_font_description_set_style(d, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
  }

  // The cell (ascent + descent) of a font at an em size, in Pango units.
  int cellAt(const FontSpec& font, double emUnits) {
    PangoFontDescription* d = baseDescription(font);
    pango_font_description_set_absolute_size(d, emUnits);
    int cell = 0;
    if (PangoFont* f = pango_font_map_load_font(fontMap_, context_, d)) {
      PangoFontMetrics* m = pango_font_get_metrics(f, nullptr);
      cell = pango_font_metrics_get_ascent(m) + pango_font_metrics_get_descent(m);
      pango_font_metrics_unref(m);
      g_object_unref(f);
    }
    pango_font_description_free(d);
    return cell;
  }

  // The em size (Pango units) whose cell is `cellPx` pixels: scaled from a
  // large reference size, then brought down where hinting rounds the ascent
  // and descent up. Remembered per face, weight, slant and height.
  double emForCell(const FontSpec& font, int cellPx) {
    auto key = std::make_tuple(font.faceName, font.weight, font.italic, cellPx);
    auto it = emForCell_.find(key);
    if (it != emForCell_.end()) return it->second;
    constexpr double kRefEm = 1000.0 * PANGO_SCALE;
    const int refCell = cellAt(font, kRefEm);
    const double target = static_cast<double>(cellPx) * PANGO_SCALE;
    double em = refCell > 0 ? std::floor(target * kRefEm / refCell) : target;
    for (int i = 0; i < 4 && em > PANGO_SCALE; ++i) {
      const int cell = cellAt(font, em);
      if (cell <= target) break;
      em = std::floor(em * target / cell) - 1;
    }
    em = std::max(em, 1.0);
    if (emForCell_.size() >= 512) emForCell_.clear();
    emForCell_.emplace(std::move(key), em);
    return em;
  }

  // Positive height: the cell (ascent + descent) is that many pixels.
  // Negative: the em (character height) is. Zero: a default cell.
  PangoFontDescription* description(const FontSpec& font) {
    PangoFontDescription* d = baseDescription(font);
    const std::int64_t h = font.height == 0 ? kDefaultCellHeight : font.height;
    double units;
    if (h < 0)
      units = static_cast<double>(std::min(-h, kMaxHeightPx)) * PANGO_SCALE;
    else
      units = emForCell(font, static_cast<int>(std::min(h, kMaxHeightPx)));
    pango_font_description_set_absolute_size(d, std::max(1.0, std::floor(units + 0.5)));
    return d;
  }

  std::mutex mu_;
  PangoFontMap* fontMap_ = nullptr;
  PangoContext* context_ = nullptr;
  std::map<std::tuple<std::string, int, bool, int>, double> emForCell_;
  PangoLayout* last_ = nullptr;
  LayoutKey lastKey_;
};

TextEngine& engine() {
  // Lives for the process: fonts stay loaded between calls.
  static TextEngine* e = new TextEngine();
  return *e;
}

// The turn of the escapement as an exact matrix for whole quarter turns.
void turnMatrix(int escapementTenths, double* c, double* s) {
  const int e = ((escapementTenths % 3600) + 3600) % 3600;
  switch (e) {
    case 0: *c = 1; *s = 0; return;
    case 900: *c = 0; *s = 1; return;
    case 1800: *c = -1; *s = 0; return;
    case 2700: *c = 0; *s = -1; return;
    default: {
      const double a = e * M_PI / 1800.0;
      *c = std::cos(a);
      *s = std::sin(a);
    }
  }
}

}  // namespace

namespace posix {
std::string utf8FromUtf16(std::u16string_view s) { return utf16ToUtf8(s); }
}  // namespace posix

bool PosixOs::textExtent(const FontSpec& font, const HostText& text, int* cx, int* cy) {
  // An empty text covers nothing: 0 x 0, as the Windows measuring call
  // gives (a layout would report one line's height).
  if (text.wide ? text.utf16.empty() : text.bytes.empty()) {
    *cx = 0;
    *cy = 0;
    return true;
  }
  TextEngine& eng = engine();
  std::lock_guard<std::mutex> guard(eng.lock());
  PangoLayout* l = eng.layout(font, text);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(l, &w, &h);
  *cx = std::max(w, 0);
  *cy = std::max(h, 0);
  return true;
}

bool PosixOs::drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                       BitBlock* out) {
  if (w < 0 || h < 0) return false;
  const int widthBytes = (w + 7) / 8;
  out->widthBytes = widthBytes;
  out->rows = h;
  out->bits.assign(static_cast<std::size_t>(widthBytes) * static_cast<std::size_t>(h), 0xFF);
  if (widthBytes == 0 || h == 0) return true;

  const int width = widthBytes * 8;
  const int bandRows = std::max(1, std::min(h, static_cast<int>(kBandBytes / width)));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, width, bandRows);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  // Counter-clockwise as seen with rows running downwards: the text's
  // x axis goes to (c, -s), its y axis to (s, c).
  double c = 1, s = 0;
  turnMatrix(font.escapementTenths, &c, &s);

  bool ok = true;
  TextEngine& eng = engine();
  std::lock_guard<std::mutex> guard(eng.lock());
  PangoLayout* layout = eng.layout(font, text);
  for (int top = 0; ok && top < h; top += bandRows) {
    const int rows = std::min(bandRows, h - top);
    if (top > 0) {
      std::memset(data, 0, static_cast<std::size_t>(stride) * static_cast<std::size_t>(bandRows));
      cairo_surface_mark_dirty(surface);
    }
    // The band is the block from row `top` on: the origin moves up by as much.
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_matrix_t m;
    cairo_matrix_init(&m, c, -s, s, c, x0, static_cast<double>(y0) - top);
    cairo_set_matrix(cr, &m);
    pango_cairo_show_layout(cr, layout);
    ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    for (int y = 0; ok && y < rows; ++y) {
      const unsigned char* src = data + static_cast<std::ptrdiff_t>(y) * stride;
      std::uint8_t* dst =
          out->bits.data() + static_cast<std::size_t>(top + y) * static_cast<std::size_t>(widthBytes);
      for (int k = 0; k < widthBytes; ++k, src += 8) {
        unsigned v = 0;
        for (int b = 0; b < 8; ++b) v = (v << 1) | (src[b] >= 0x80 ? 0u : 1u);
        dst[k] = static_cast<std::uint8_t>(v);
      }
    }
  }
  cairo_surface_destroy(surface);
  return ok;
}

std::u16string PosixOs::ansiToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  if (localeIsPlainAscii()) {
    for (unsigned char c : bytes) out.push_back(static_cast<char16_t>(c));
    return out;
  }
  std::mbstate_t state{};
  std::size_t i = 0;
  while (i < bytes.size()) {
    wchar_t wc = 0;
    const std::size_t n = std::mbrtowc(&wc, bytes.data() + i, bytes.size() - i, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      // A byte that starts no character of the set, or a character cut off
      // at the end: it stands for itself as a replacement character.
      out.push_back(u'\uFFFD');
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    appendUtf16(&out, static_cast<char32_t>(wc));
    i += n == 0 ? 1 : n;
  }
  return out;
}

}  // namespace paloma
