#include "symbols.h"

#include <zint.h>

#include "canvas.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>

namespace vprinter {

namespace {

struct SymbolDeleter {
  void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
using Symbol = std::unique_ptr<zint_symbol, SymbolDeleter>;

Symbol newSymbol(int symbology) {
  Symbol s(ZBarcode_Create());
  if (s) {
    s->symbology = symbology;
    s->input_mode = DATA_MODE;
    s->show_hrt = 1;
  }
  return s;
}

bool isSet(const zint_symbol* s, int row, int col) {
  return ((s->encoded_data[row][col >> 3] >> (col & 7)) & 1) != 0;
}

long long intField(const std::vector<Field>& f, size_t i, long long dflt) {
  long long v = 0;
  if (i < f.size() && parseInt(f[i].text, v)) return std::clamp(v, -1000000000LL, 1000000000LL);
  return dflt;
}

int rotationOf(long long v) {
  long long r = ((v % 360) + 360) % 360;
  return static_cast<int>(r / 90 * 90);
}

// Adds to what the log says about the symbol.
void addNote(SymbolContext& ctx, const std::string& note) {
  ctx.note += (ctx.note.empty() ? "" : "; ") + note;
}

// Encodes `data`; a warning is kept as a note, an error fails.
bool encode(SymbolContext& ctx, zint_symbol* s, const std::string& data) {
  if (data.empty()) {
    ctx.error = "empty content";
    return false;
  }
  if (data[0] == '@') {  // not an error: the printer shows the variable's name
    addNote(ctx, "content is the variable " + data + "; variables are not evaluated");
    return false;
  }
  if (data.size() > ZINT_MAX_DATA_LEN) {
    ctx.error = "content too long";
    return false;
  }
  int rc = ZBarcode_Encode(s, reinterpret_cast<const unsigned char*>(data.data()),
                           static_cast<int>(data.size()));
  if (rc >= ZINT_ERROR) {
    ctx.error = std::string("cannot encode: ") + s->errtxt;
    return false;
  }
  if (rc != 0 && s->errtxt[0]) addNote(ctx, s->errtxt);
  return true;
}

// Left edge, in dots, of every module column and of the symbol's end.
using Columns = std::vector<double>;

Columns uniformColumns(const zint_symbol* s, double moduleW) {
  Columns x(static_cast<size_t>(std::max(0, s->width)) + 1);
  for (size_t c = 0; c < x.size(); ++c) x[c] = static_cast<double>(c) * moduleW;
  return x;
}

// A symbology of two element widths, encoded by zint with wide elements of
// `wideUnits` modules: each run of one module (a bar or a space) is made
// `narrow` dots wide, a run of `wideUnits` modules `wide` dots, longer runs
// (start and stop characters) in proportion.
Columns twoWidthColumns(const zint_symbol* s, double narrow, double wide, int wideUnits) {
  Columns x(static_cast<size_t>(std::max(0, s->width)) + 1, 0.0);
  double at = 0;
  int c = 0;
  while (c < s->width) {
    bool bar = isSet(s, 0, c);
    int start = c;
    while (c < s->width && isSet(s, 0, c) == bar) ++c;
    int run = c - start;
    double w = narrow + (run - 1) * (wide - narrow) / std::max(1, wideUnits - 1);
    for (int k = start; k < c; ++k) x[static_cast<size_t>(k)] = at + (k - start) * w / run;
    at += w;
  }
  x.back() = at;
  return x;
}

// Draws the encoded modules with their top-left at (x, y), turned clockwise.
// `columns` from uniformColumns or twoWidthColumns; `rowHeights` in dots, one
// per row.
void drawModules(cairo_t* cr, const zint_symbol* s, double x, double y, int rotation,
                 const Columns& columns, const std::vector<double>& rowHeights) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, rotation * M_PI / 180.0);
  double yy = 0;
  for (int r = 0; r < s->rows && r < 200; ++r) {
    double h = rowHeights[static_cast<size_t>(r)];
    int c = 0;
    while (c < s->width) {
      if (!isSet(s, r, c)) {
        ++c;
        continue;
      }
      int start = c;
      while (c < s->width && isSet(s, r, c)) ++c;
      cairo_rectangle(cr, columns[static_cast<size_t>(start)], yy,
                      columns[static_cast<size_t>(c)] - columns[static_cast<size_t>(start)], h);
    }
    yy += h;
  }
  fillNoted(cr);
  cairo_restore(cr);
}

void drawModules(cairo_t* cr, const zint_symbol* s, double x, double y, int rotation,
                 double moduleW, const std::vector<double>& rowHeights) {
  drawModules(cr, s, x, y, rotation, uniformColumns(s, moduleW), rowHeights);
}

double hriPixels(int dpi) { return std::max(10.0, std::round(dpi * 0.11)); }

// Human-readable line under a linear symbol: 1 left, 2 centred, 3 right.
void drawHri(SymbolContext& ctx, const zint_symbol* s, double x, double y, int rotation,
             double symbolW, double barH, long long align) {
  if (align < 1 || align > 3 || !s->text[0]) return;
  std::string text(reinterpret_cast<const char*>(s->text));
  double px = hriPixels(ctx.dpi);
  double tw = ctx.text->measurePlain(px, text);
  double tx = 0;
  if (align == 2) tx = (symbolW - tw) / 2;
  if (align == 3) tx = symbolW - tw;
  cairo_save(ctx.cr);
  cairo_translate(ctx.cr, x, y);
  cairo_rotate(ctx.cr, rotation * M_PI / 180.0);
  ctx.text->drawPlain(ctx.cr, tx, barH + 2, px, text);
  cairo_restore(ctx.cr);
}

// `wideUnits`: 0 for a symbology of modules (the narrow width is the module);
// else zint's width of a wide element in modules, the wide width then being
// the command's own.
struct TypeMap {
  const char* name;
  int symbology;
  int option2;
  int wideUnits;
};

const TypeMap kBarcodeTypes[] = {
    {"128", BARCODE_CODE128, 0, 0},          {"128M", BARCODE_CODE128, 0, 0},
    {"EAN128", BARCODE_GS1_128, 0, 0},       {"EAN128M", BARCODE_GS1_128, 0, 0},
    {"25", BARCODE_C25INTER, 0, 3},          {"25C", BARCODE_C25INTER, 1, 3},
    {"25S", BARCODE_C25STANDARD, 0, 3},      {"25I", BARCODE_C25IND, 0, 3},
    {"39", BARCODE_EXCODE39, 0, 2},          {"39C", BARCODE_EXCODE39, 1, 2},
    {"39S", BARCODE_CODE39, 0, 2},           {"93", BARCODE_CODE93, 0, 0},
    {"EAN13", BARCODE_EANX, 0, 0},           {"EAN8", BARCODE_EANX, 0, 0},
    {"UPCA", BARCODE_UPCA, 0, 0},            {"UPCE", BARCODE_UPCE, 0, 0},
    {"CODA", BARCODE_CODABAR, 0, 2},         {"MSI", BARCODE_MSI_PLESSEY, 0, 2},
    {"MSIC", BARCODE_MSI_PLESSEY, 1, 2},     {"PLESSEY", BARCODE_PLESSEY, 0, 3},
    {"ITF14", BARCODE_ITF14, 0, 3},          {"EAN14", BARCODE_EAN14, 0, 0},
    {"11", BARCODE_CODE11, 0, 2},            {"TELEPEN", BARCODE_TELEPEN, 0, 3},
    {"TELEPENN", BARCODE_TELEPEN_NUM, 0, 3}, {"POST", BARCODE_POSTNET, 0, 0},
    {"PLANET", BARCODE_PLANET, 0, 0},        {"LOGMARS", BARCODE_LOGMARS, 0, 3},
    {"CPOST", BARCODE_KOREAPOST, 0, 0},      {"DPI", BARCODE_DPIDENT, 0, 3},
    {"DPL", BARCODE_DPLEIT, 0, 3},
};

const TypeMap* findType(const std::string& type) {
  for (const TypeMap& t : kBarcodeTypes) {
    if (type == t.name) return &t;
  }
  return nullptr;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// BARCODE x,y,"type",height,readable,rotation,narrow,wide,[extra,]content
bool drawBarcode(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() != 9 && f.size() != 10) {
    ctx.error = "BARCODE needs 9 or 10 fields, got " + std::to_string(f.size());
    return false;
  }
  const TypeMap* t = findType(f[2].text);
  if (!t) {
    ctx.error = "barcode type \"" + f[2].text + "\" is not known";
    return false;
  }
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  long long height = std::clamp(intField(f, 3, 80), 1LL, 10000LL);
  long long readable = intField(f, 4, 0);
  int rotation = rotationOf(intField(f, 5, 0));
  long long narrow = std::clamp(intField(f, 6, 2), 1LL, 50LL);
  long long wide = std::clamp(intField(f, 7, 0), 0LL, 150LL);
  const std::string& content = f.back().text;
  Symbol s = newSymbol(t->symbology);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  s->option_2 = t->option2;
  if (t->symbology == BARCODE_GS1_128 && content.find('(') != std::string::npos) {
    s->input_mode = GS1_MODE | GS1PARENS_MODE;
  } else if (t->symbology == BARCODE_GS1_128) {
    s->input_mode = GS1_MODE;
  }
  if (!encode(ctx, s.get(), content)) {
    // EAN and UPC given with their check digit.
    int retry = t->symbology == BARCODE_EANX ? BARCODE_EANX_CHK
                : t->symbology == BARCODE_UPCA ? BARCODE_UPCA_CHK
                : t->symbology == BARCODE_UPCE ? BARCODE_UPCE_CHK : 0;
    if (!retry) return false;
    s = newSymbol(retry);
    std::string first = ctx.error;
    ctx.error.clear();
    if (!encode(ctx, s.get(), content)) {
      ctx.error = first;
      return false;
    }
  }
  Columns columns = uniformColumns(s.get(), static_cast<double>(narrow));
  if (t->wideUnits && s->rows == 1) {
    if (wide <= narrow) {
      addNote(ctx, "wide bar not wider than the narrow one; drawn " +
                       std::to_string(t->wideUnits) + " times as wide");
      wide = narrow * t->wideUnits;
    }
    columns = twoWidthColumns(s.get(), static_cast<double>(narrow), static_cast<double>(wide),
                              t->wideUnits);
  }
  std::vector<double> rows(200, static_cast<double>(height) / std::max(1, s->rows));
  drawModules(ctx.cr, s.get(), x, y, rotation, columns, rows);
  drawHri(ctx, s.get(), x, y, rotation, columns.back(), static_cast<double>(height), readable);
  if (f.size() == 10) {
    addNote(ctx, "extra field \"" + f[8].raw + "\" not drawn");
  }
  return true;
}

// RSS x,y,"type",rotation,module,separator,[segments or linear height,]content
bool drawRss(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() != 7 && f.size() != 8) {
    ctx.error = "RSS needs 7 or 8 fields, got " + std::to_string(f.size());
    return false;
  }
  std::string type = upper(f[2].text);
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  int rotation = rotationOf(intField(f, 3, 0));
  long long module = std::clamp(intField(f, 4, 2), 1LL, 50LL);
  long long sepH = std::clamp(intField(f, 5, 1), 1LL, 20LL);
  long long extra = f.size() == 8 ? intField(f, 6, 0) : 0;
  std::string content = f.back().text;
  int sym = 0;
  int option1 = 0;
  if (type == "RSS14") sym = BARCODE_DBAR_OMN;
  else if (type == "RSS14T") sym = BARCODE_DBAR_OMN;
  else if (type == "RSS14S") sym = BARCODE_DBAR_STK;
  else if (type == "RSS14SO") sym = BARCODE_DBAR_OMNSTK;
  else if (type == "RSSLIM") sym = BARCODE_DBAR_LTD;
  else if (type == "RSSEXP") sym = extra > 0 ? BARCODE_DBAR_EXPSTK : BARCODE_DBAR_EXP;
  else if (type == "UCC128CCA") { sym = BARCODE_GS1_128_CC; option1 = 1; }
  else if (type == "UCC128CCC") { sym = BARCODE_GS1_128_CC; option1 = 3; }
  else if (type == "RSS14CC") sym = BARCODE_DBAR_OMN_CC;
  else if (type == "RSSLIMCC") sym = BARCODE_DBAR_LTD_CC;
  else if (type == "RSSEXPCC") sym = BARCODE_DBAR_EXP_CC;
  else if (type == "EAN13CC") sym = BARCODE_EANX_CC;
  else if (type == "EAN8CC") sym = BARCODE_EANX_CC;
  else if (type == "UPCACC") sym = BARCODE_UPCA_CC;
  else if (type == "UPCECC") sym = BARCODE_UPCE_CC;
  if (!sym) {
    ctx.error = "RSS type \"" + f[2].text + "\" is not known";
    return false;
  }
  Symbol s = newSymbol(sym);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  s->option_1 = option1;
  if (sym == BARCODE_DBAR_EXPSTK) s->option_2 = static_cast<int>(std::max(1LL, extra / 2));
  bool composite = sym >= BARCODE_EANX_CC && sym <= BARCODE_DBAR_EXPSTK_CC;
  if (composite) {
    size_t bar = content.find('|');
    std::string primary = bar == std::string::npos ? content : content.substr(0, bar);
    content = bar == std::string::npos ? std::string() : content.substr(bar + 1);
    std::snprintf(s->primary, sizeof s->primary, "%s", primary.c_str());
  }
  bool gs1 = composite || sym == BARCODE_DBAR_EXP || sym == BARCODE_DBAR_EXPSTK;
  if (gs1) s->input_mode = GS1_MODE | (content.find('(') != std::string::npos ? GS1PARENS_MODE : 0);
  if (!encode(ctx, s.get(), content)) return false;
  // Rows whose height zint leaves open share what remains of the symbol's.
  std::vector<double> rows(200, 0.0);
  double fixed = 0;
  int open = 0;
  for (int r = 0; r < s->rows && r < 200; ++r) {
    if (s->row_height[r] > 0) fixed += s->row_height[r];
    else ++open;
  }
  double share = open ? std::max(1.0, (s->height - fixed) / open) : 0;
  for (int r = 0; r < s->rows && r < 200; ++r) {
    float rh = s->row_height[r];
    if (rh <= 0) rows[static_cast<size_t>(r)] = share * module;
    else if (rh <= 1.5f) rows[static_cast<size_t>(r)] = static_cast<double>(sepH);
    else rows[static_cast<size_t>(r)] = rh * module;
  }
  if (type == "RSS14T") rows[0] = 13.0 * module;
  drawModules(ctx.cr, s.get(), x, y, rotation, module, rows);
  return true;
}

// QRCODE x,y,ecc,cell,mode,rotation,[model,mask,]content
bool drawQrcode(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() != 7 && f.size() != 9) {
    ctx.error = "QRCODE needs 7 or 9 fields, got " + std::to_string(f.size());
    return false;
  }
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  std::string ecc = upper(f[2].text);
  long long cell = std::clamp(intField(f, 3, 4), 1LL, 100LL);
  int rotation = rotationOf(intField(f, 5, 0));
  Symbol s = newSymbol(BARCODE_QRCODE);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  s->option_1 = ecc == "L" ? 1 : ecc == "M" ? 2 : ecc == "Q" ? 3 : ecc == "H" ? 4 : 0;
  if (f.size() == 9) {
    std::string model = upper(f[6].text);
    std::string mask = upper(f[7].text);
    if (mask.size() == 2 && mask[0] == 'S' && mask[1] >= '0' && mask[1] <= '7') {
      s->option_3 = (mask[1] - '0' + 1) << 8;
    }
    if (model == "M1") addNote(ctx, "model 1 drawn as model 2");
  }
  if (upper(f[4].text) == "M") addNote(ctx, "manual mode: the content is encoded as it stands");
  if (!encode(ctx, s.get(), f.back().text)) return false;
  std::vector<double> rows(200, static_cast<double>(cell));
  drawModules(ctx.cr, s.get(), x, y, rotation, cell, rows);
  return true;
}

namespace {

// Data Matrix size index of zint for rows x columns, or 0.
int dmatrixSize(long long rows, long long cols) {
  static const int square[] = {10, 12, 14, 16, 18, 20, 22, 24, 26, 32, 36, 40,
                               44, 48, 52, 64, 72, 80, 88, 96, 104, 120, 132, 144};
  if (rows == cols) {
    for (int i = 0; i < 24; ++i) {
      if (square[i] == rows) return i + 1;
    }
  }
  static const int rect[][2] = {{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}};
  for (int i = 0; i < 6; ++i) {
    if (rect[i][0] == rows && rect[i][1] == cols) return 25 + i;
  }
  return 0;
}

// "x6" or "6" -> 6.
bool optionNumber(const std::string& text, char letter, long long& v) {
  std::string t = text;
  if (!t.empty() && std::toupper(static_cast<unsigned char>(t[0])) == letter) t = t.substr(1);
  return parseInt(t, v);
}

}  // namespace

// DMATRIX x,y,width,height,[module,rows,columns,]content
bool drawDmatrix(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() != 5 && f.size() != 8) {
    ctx.error = "DMATRIX needs 5 or 8 fields, got " + std::to_string(f.size());
    return false;
  }
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  long long areaW = intField(f, 2, 0), areaH = intField(f, 3, 0);
  long long module = 0, rows = 0, cols = 0;
  if (f.size() == 8) {
    optionNumber(f[4].text, 'X', module);
    parseInt(f[5].text, rows);
    parseInt(f[6].text, cols);
  }
  Symbol s = newSymbol(BARCODE_DATAMATRIX);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  if (rows > 0 && cols > 0) {
    int idx = dmatrixSize(rows, cols);
    if (idx) s->option_2 = idx;
    else addNote(ctx, "no Data Matrix size " + std::to_string(rows) + "x" + std::to_string(cols));
  } else {
    s->option_3 = DM_SQUARE;
  }
  if (!encode(ctx, s.get(), f.back().text)) return false;
  if (module <= 0) {
    long long fit = std::min(areaW > 0 ? areaW / std::max(1, s->width) : 1000,
                             areaH > 0 ? areaH / std::max(1, s->rows) : 1000);
    module = (areaW > 0 || areaH > 0) ? std::max(1LL, fit) : 4;
  }
  module = std::clamp(module, 1LL, 100LL);
  std::vector<double> rowsH(200, static_cast<double>(module));
  drawModules(ctx.cr, s.get(), x, y, 0, module, rowsH);
  return true;
}

// AZTEC x,y,rotation,[module,error control,flags,menu,multi,reverse,]content
bool drawAztec(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() < 4 || f.size() > 10) {
    ctx.error = "AZTEC needs 4 to 10 fields, got " + std::to_string(f.size());
    return false;
  }
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  int rotation = rotationOf(intField(f, 2, 0));
  long long module = f.size() > 4 ? intField(f, 3, 6) : 6;
  long long ec = f.size() > 5 ? intField(f, 4, 0) : 0;
  module = std::clamp(module, 1LL, 100LL);
  Symbol s = newSymbol(BARCODE_AZTEC);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  if (ec >= 1 && ec <= 99) {
    s->option_1 = ec <= 10 ? 1 : ec <= 23 ? 2 : ec <= 36 ? 3 : 4;
  } else if (ec >= 101 && ec <= 104) {
    s->option_2 = static_cast<int>(ec - 100);
  } else if (ec >= 201 && ec <= 232) {
    s->option_2 = static_cast<int>(ec - 200 + 4);
  }
  bool reverse = f.size() == 10 && intField(f, 8, 0) == 1;
  if ((f.size() > 7 && intField(f, 6, 0) != 0) || (f.size() > 8 && intField(f, 7, 0) > 1)) {
    addNote(ctx, "menu symbol and structured append not drawn");
  }
  if (!encode(ctx, s.get(), f.back().text)) return false;
  std::vector<double> rows(200, static_cast<double>(module));
  cairo_t* cr = ctx.cr;
  cairo_save(cr);
  if (reverse) {
    // White modules on a black field with a border of one module.
    cairo_save(cr);
    cairo_translate(cr, static_cast<double>(x), static_cast<double>(y));
    cairo_rotate(cr, rotation * M_PI / 180.0);
    cairo_rectangle(cr, -module, -module, (s->width + 2) * module, (s->rows + 2) * module);
    fillNoted(cr);
    cairo_restore(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  }
  drawModules(cr, s.get(), x, y, rotation, module, rows);
  cairo_restore(cr);
  return true;
}

// PDF417 x,y,width,height,rotation,[options,]content
bool drawPdf417(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() < 6 || f.size() > 18) {
    ctx.error = "PDF417 needs 6 to 18 fields, got " + std::to_string(f.size());
    return false;
  }
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  int rotation = rotationOf(intField(f, 4, 0));
  long long level = -1, mw = 2, mh = 0, rowsOpt = 0, colsOpt = 0, trunc = 0;
  for (size_t i = 5; i + 1 < f.size(); ++i) {
    const std::string& o = f[i].text;
    if (o.size() < 2) continue;
    long long v = 0;
    if (!parseInt(o.substr(1), v)) continue;
    switch (std::toupper(static_cast<unsigned char>(o[0]))) {
      case 'P': level = v; break;
      case 'E': mw = v; break;
      case 'H': mh = v; break;
      case 'R': rowsOpt = v; break;
      case 'C': colsOpt = v; break;
      case 'T': trunc = v; break;
      case 'L': if (v) addNote(ctx, "the data line under the symbol is not drawn"); break;
      default: break;
    }
  }
  mw = std::clamp(mw, 1LL, 20LL);
  mh = mh > 0 ? std::clamp(mh, 1LL, 100LL) : 3 * mw;
  Symbol s = newSymbol(trunc ? BARCODE_PDF417COMP : BARCODE_PDF417);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  if (level >= 0 && level <= 8) s->option_1 = static_cast<int>(level);
  if (colsOpt >= 1 && colsOpt <= 30) s->option_2 = static_cast<int>(colsOpt);
  if (rowsOpt >= 3 && rowsOpt <= 90) s->option_3 = static_cast<int>(rowsOpt);
  const std::string& content = f.back().text;
  // The content of the longer forms arrives bare.
  if (!encode(ctx, s.get(), content)) return false;
  std::vector<double> rows(200, static_cast<double>(mh));
  drawModules(ctx.cr, s.get(), x, y, rotation, mw, rows);
  return true;
}

// MAXICODE x,y,mode,[class,country,postal code,]content
bool drawMaxicode(SymbolContext& ctx, const std::vector<Field>& f) {
  if (f.size() != 4 && f.size() != 7) {
    ctx.error = "MAXICODE needs 4 or 7 fields, got " + std::to_string(f.size());
    return false;
  }
  long long x = intField(f, 0, 0), y = intField(f, 1, 0);
  long long mode = intField(f, 2, 4);
  if (mode < 2 || mode > 6) {
    ctx.error = "MaxiCode mode " + f[2].text + " is not 2 to 6";
    return false;
  }
  Symbol s = newSymbol(BARCODE_MAXICODE);
  if (!s) {
    ctx.error = "out of memory";
    return false;
  }
  s->option_1 = static_cast<int>(mode);
  if (f.size() == 7 && (mode == 2 || mode == 3)) {
    long long cls = intField(f, 3, 0), country = intField(f, 4, 0);
    char primary[64];
    std::snprintf(primary, sizeof primary, "%.9s%03lld%03lld", f[5].text.c_str(),
                  std::clamp(country, 0LL, 999LL), std::clamp(cls, 0LL, 999LL));
    std::snprintf(s->primary, sizeof s->primary, "%s", primary);
  }
  if (!encode(ctx, s.get(), f.back().text)) return false;
  if (ZBarcode_Buffer_Vector(s.get(), 0) >= ZINT_ERROR || !s->vector) {
    ctx.error = std::string("cannot lay out MaxiCode: ") + s->errtxt;
    return false;
  }
  const zint_vector* v = s->vector;
  double scale = (1.11 * ctx.dpi) / std::max(1.0f, v->width);
  cairo_t* cr = ctx.cr;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, scale, scale);
  for (const zint_vector_hexagon* h = v->hexagons; h; h = h->next) {
    double r = h->diameter / 2.0;
    double base = (h->rotation == 90 || h->rotation == 270) ? 0.0 : M_PI / 2;
    for (int k = 0; k < 6; ++k) {
      double a = base + k * M_PI / 3;
      double px = h->x + r * std::cos(a), py = h->y + r * std::sin(a);
      if (k == 0) cairo_move_to(cr, px, py);
      else cairo_line_to(cr, px, py);
    }
    cairo_close_path(cr);
  }
  fillNoted(cr);
  for (const zint_vector_circle* c = v->circles; c; c = c->next) {
    cairo_set_operator(cr, c->colour ? CAIRO_OPERATOR_CLEAR : CAIRO_OPERATOR_OVER);
    if (c->width > 0) {
      cairo_set_line_width(cr, c->width);
      cairo_arc(cr, c->x, c->y, (c->diameter + c->width) / 2.0, 0, 2 * M_PI);
      strokeNoted(cr);
    } else {
      cairo_arc(cr, c->x, c->y, c->diameter / 2.0, 0, 2 * M_PI);
      fillNoted(cr);
    }
  }
  cairo_restore(cr);
  return true;
}

}  // namespace vprinter
