// Labels composed on the command line or in a label file, and the variable
// data that fills them from a CSV table.
//
// A label file is JSON:
//   {
//     "size": "100x150mm",                       (or "4x6in"; optional)
//     "gap": "3mm", "speed": 4, "density": 8,     (optional)
//     "dpi": 203,                                 (for lengths in mm or in)
//     "items": [
//       {"text": "Order {order}", "x": 40, "y": 40, "font": "3", "scale": 2},
//       {"barcode": "{order}", "x": 40, "y": "15mm", "type": "128", "height": 100},
//       {"qr": "https://example.com/o/{order}", "x": 40, "y": 300, "cell": 6}
//     ]
//   }
// "{name}" in an item's data is the CSV column of that name, "{counter}" the
// row's number from 1; "{{" and "}}" are the braces themselves.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "paloma.h"

namespace paloma_cli {

enum class ItemKind { Text, Barcode, Qr };

struct LabelItem {
  ItemKind kind = ItemKind::Text;
  std::string x = "0", y = "0";  // dots
  std::string data;              // with {placeholders}
  std::string rotation = "0";
  // text
  std::string font = "3", xScale = "1", yScale = "1";
  // barcode
  std::string type = "128", height = "100", readable = "2", narrow = "2", wide = "2";
  // qr
  std::string ecc = "M", cell = "6";
};

struct LabelDesign {
  std::string widthMm, heightMm;  // empty: the printer keeps its label size
  std::string gapMm = "2", offsetMm = "0", speed = "4", density = "8";
  double dpi = 203;
  std::vector<LabelItem> items;
};

// "100x150mm", "4x6in", "100 x 150 mm": the label's width and height in mm
// (as the printer takes them); false with the reason in `why`.
bool parseLabelSize(std::string_view text, std::string* widthMm, std::string* heightMm,
                    std::string* why);

// The command line's items: --text "X,Y,TEXT", --barcode "X,Y,TYPE,DATA",
// --qr "X,Y,DATA". X and Y are lengths (120, 15mm, 0.5in) at `dpi`; the data
// is the rest of the value, commas and all.
bool parseItemOption(ItemKind kind, std::string_view value, double dpi, LabelItem* item,
                     std::string* why);

// A label file's text (JSON, as above) into `design`; the command line's
// items are added after the file's. False with the reason in `why`.
bool parseLabelFile(std::string_view json, LabelDesign* design, std::string* why);

// A CSV table (RFC 4180: commas, quoted fields with "" for a quote, CRLF or
// LF line ends); the first row names the columns. False with the line and
// the reason in `why`.
struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};
bool parseCsv(std::string_view text, Table* table, std::string* why);

// `text` with its placeholders filled: a column of `row`, or the counter.
// False, with the reason in `why`, for a name that is not a column.
bool fillPlaceholders(std::string_view text, const std::vector<std::string>& columns,
                      const std::vector<std::string>& row, std::size_t counter, std::string* out,
                      std::string* why);

// Sends one label: its size (when the design has one), CLS, each item with
// its data filled from `row`, then PRINT copies. The library's builders check
// each command; the first one refused or not taken ends it, with the reason
// in `why`.
paloma_result sendLabel(paloma_printer* p, const LabelDesign& design,
                        const std::vector<std::string>& columns,
                        const std::vector<std::string>& row, std::size_t counter, long copies,
                        std::string* why);

}  // namespace paloma_cli
