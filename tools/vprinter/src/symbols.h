// Barcodes and two-dimensional symbols, encoded with zint and drawn module by
// module on the label, so bars and cells land on whole dots.
#ifndef PALOMA_VPRINTER_SYMBOLS_H
#define PALOMA_VPRINTER_SYMBOLS_H

#include <cairo.h>

#include <string>
#include <vector>

#include "command.h"
#include "text.h"

namespace vprinter {

// Each drawer takes the command's fields as received (content last) and
// returns false with `error` set when the symbol cannot be drawn, or with only
// a `note` when its content is a variable (not evaluated); `note` tells what
// was approximated. Nothing is drawn on failure.
struct SymbolContext {
  cairo_t* cr;
  TextRenderer* text;
  int dpi;
  std::string error;
  std::string note;
};

bool drawBarcode(SymbolContext& ctx, const std::vector<Field>& f);
bool drawRss(SymbolContext& ctx, const std::vector<Field>& f);
bool drawQrcode(SymbolContext& ctx, const std::vector<Field>& f);
bool drawDmatrix(SymbolContext& ctx, const std::vector<Field>& f);
bool drawAztec(SymbolContext& ctx, const std::vector<Field>& f);
bool drawMaxicode(SymbolContext& ctx, const std::vector<Field>& f);
bool drawPdf417(SymbolContext& ctx, const std::vector<Field>& f);

}  // namespace vprinter

#endif
