// Host-font text on Linux: Pango lays the text out in a face that fontconfig
// finds by name, and Cairo draws it with antialiasing off, so every pixel is
// either ink or background; the pixels are then packed into the printer's
// one-bit rows: leftmost pixel in the most significant bit, text 0 and
// background 1.
//
// The drawing surface is a 16-bit colour (RGB16_565) surface holding one band
// of rows at a time, white before drawing, the text drawn black. With
// antialiasing off every pixel is either colour, exactly as in a one-bit (A1)
// or 8-bit (A8) surface; but pixman composites the one-bit glyph masks into
// 16-bit colour on a fast path of its own, where A1 and A8 take its slow
// general path (that alone cost more than all the rest of the call). The band
// lives in memory the engine keeps, so no call pays for fresh pages, and
// bands bound what a tall block needs.
//
// The 8-bit text conversion reads bytes in the process locale's character
// set. The C/POSIX locale (plain ASCII) is what a program gets that never
// calls setlocale, and its callers mostly hold UTF-8: there a text that is
// valid UTF-8 is read as UTF-8, and any other text byte by byte as
// ISO-8859-1, so that each byte still means something.
#include <cairo.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <langinfo.h>
#include <pango/pangocairo.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "platform/posix/posix_os.h"

namespace paloma {
namespace {

// Heights beyond this give a text taller than any canvas anyway; clamping
// keeps the size within Pango's integer units.
constexpr std::int64_t kMaxHeightPx = 20000;
// The most bytes of drawing surface one call uses: taller blocks are drawn
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

// Strict UTF-8 (no overlong forms, surrogates or code points above
// U+10FFFF) to UTF-16. False, with `out` left incomplete, for any other bytes.
bool utf8ToUtf16(std::string_view bytes, std::u16string* out) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      out->push_back(b0);
      ++i;
      continue;
    }
    std::size_t len;
    char32_t c;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      c = b0 & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    const bool overlong = (len == 3 && c < 0x800) || (len == 4 && c < 0x10000);
    if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    appendUtf16(out, c);
    i += len;
  }
  return true;
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

  // The drawing band's memory, at least `bytes` long (under the lock).
  unsigned char* band(std::size_t bytes) {
    if (band_.size() < bytes) band_.resize(bytes);
    return band_.data();
  }

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

  // The family fontconfig picks for the font's face name.
  std::string faceFor(const FontSpec& font) {
    PangoFontDescription* d = baseDescription(font);
    pango_font_description_set_absolute_size(d, 12.0 * PANGO_SCALE);
    std::string family;
    if (PangoFont* f = pango_font_map_load_font(fontMap_, context_, d)) {
      PangoFontDescription* got = pango_font_describe(f);
      if (got && pango_font_description_get_family(got))
        family = pango_font_description_get_family(got);
      if (got) pango_font_description_free(got);
      g_object_unref(f);
    }
    pango_font_description_free(d);
    return family;
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
  std::vector<unsigned char> band_;
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

namespace {

// Packs `count` whole bytes (8 x count pixels) of one band row: a pixel whose
// top bit is set (white) gives a 1 bit, black a 0, leftmost pixel in the most
// significant bit.
void packRow(const std::uint16_t* px, int count, std::uint8_t* out) {
  int k = 0;
#if defined(__SSE2__)
  // Sixteen pixels at a time: their top bits, saturated to bytes, gathered
  // into a 16-bit mask (pixel i in bit i), then each byte's bits reversed.
  static const std::array<std::uint8_t, 256> reversed = [] {
    std::array<std::uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
      int r = 0;
      for (int b = 0; b < 8; ++b) r |= ((v >> b) & 1) << (7 - b);
      t[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(r);
    }
    return t;
  }();
  for (; k + 2 <= count; k += 2, px += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 8));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
    out[k] = reversed[mask & 0xFF];
    out[k + 1] = reversed[mask >> 8];
  }
#endif
  for (; k < count; ++k, px += 8) {
    unsigned v = 0;
    for (int b = 0; b < 8; ++b) v = (v << 1) | (px[b] >> 15);
    out[k] = static_cast<std::uint8_t>(v);
  }
}

}  // namespace

bool PosixOs::drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                       BitBlock* out) {
  if (w < 0 || h < 0) return false;
  const int widthBytes = (w + 7) / 8;
  out->widthBytes = widthBytes;
  out->rows = h;
  out->bits.assign(static_cast<std::size_t>(widthBytes) * static_cast<std::size_t>(h), 0xFF);
  if (widthBytes == 0 || h == 0) return true;

  const int width = widthBytes * 8;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB16_565, width);
  if (stride <= 0) return false;
  const int bandRows = std::max(1, std::min(h, static_cast<int>(kBandBytes / stride)));
  // Counter-clockwise as seen with rows running downwards: the text's
  // x axis goes to (c, -s), its y axis to (s, c).
  double c = 1, s = 0;
  turnMatrix(font.escapementTenths, &c, &s);

  TextEngine& eng = engine();
  std::lock_guard<std::mutex> guard(eng.lock());
  unsigned char* data =
      eng.band(static_cast<std::size_t>(stride) * static_cast<std::size_t>(bandRows));
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB16_565, width, bandRows, stride);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  bool ok = true;
  PangoLayout* layout = eng.layout(font, text);
  for (int top = 0; ok && top < h; top += bandRows) {
    const int rows = std::min(bandRows, h - top);
    // White, then the band is the block from row `top` on: the origin moves
    // up by as much.
    std::memset(data, 0xFF, static_cast<std::size_t>(stride) * static_cast<std::size_t>(rows));
    cairo_surface_mark_dirty(surface);
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_matrix_t m;
    cairo_matrix_init(&m, c, -s, s, c, x0, static_cast<double>(y0) - top);
    cairo_set_matrix(cr, &m);
    pango_cairo_show_layout(cr, layout);
    ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    for (int y = 0; ok && y < rows; ++y) {
      const auto* src = reinterpret_cast<const std::uint16_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
      std::uint8_t* dst =
          out->bits.data() + static_cast<std::size_t>(top + y) * static_cast<std::size_t>(widthBytes);
      packRow(src, widthBytes, dst);
    }
  }
  cairo_surface_destroy(surface);
  return ok;
}

std::string PosixOs::fontFaceUsed(const FontSpec& font) {
  TextEngine& eng = engine();
  std::lock_guard<std::mutex> guard(eng.lock());
  return eng.faceFor(font);
}

int PosixOs::missingGlyphs(const FontSpec& font, const HostText& text) {
  if (text.wide ? text.utf16.empty() : text.bytes.empty()) return 0;
  TextEngine& eng = engine();
  std::lock_guard<std::mutex> guard(eng.lock());
  // Fontconfig has already looked through every installed font for each
  // character: what is still unknown, none has.
  return pango_layout_get_unknown_glyphs_count(eng.layout(font, text));
}

std::u16string PosixOs::ansiToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  if (localeIsPlainAscii()) {
    if (utf8ToUtf16(bytes, &out)) return out;
    out.clear();
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
