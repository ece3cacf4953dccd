#include "label.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "words.h"

namespace paloma_cli {

namespace {

// A number of mm as the printer takes it: up to two decimals, no trailing zeros.
std::string millimetres(double mm) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", mm);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

// A length ("120", "15mm", "0.5in") as dots; false with the reason.
bool dotsOf(const std::string& what, const std::string& text, double dpi, std::string* out,
            std::string* why) {
  auto dots = lengthInDots(trimmed(text), dpi, 100000);
  if (!dots) {
    *why = what + " \"" + text + "\" is not a length (120, 15mm, 0.5in)";
    return false;
  }
  *out = std::to_string(*dots);
  return true;
}

// A length along the feed in mm ("3", "3mm", "0.1in"), as the printer takes
// gaps; false with the reason.
bool mmOf(const std::string& what, const std::string& text, std::string* out, std::string* why) {
  const std::string t = trimmed(text);
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  const std::string unit = trimmed(end ? end : "");
  const double factor = unit.empty() || unit == "mm" ? 1 : unit == "in" ? 25.4 : 0;
  if (t.empty() || end == t.c_str() || factor == 0 || !(v >= 0 && v * factor <= 1000)) {
    *why = what + " \"" + text + "\" is a length in mm (3, 3mm, 0.1in)";
    return false;
  }
  *out = millimetres(v * factor);
  return true;
}

}  // namespace

bool parseLabelSize(std::string_view text, std::string* widthMm, std::string* heightMm,
                    std::string* why) {
  std::string s;
  for (char c : text)
    if (c != ' ') s += c;
  double factor = 0;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, "mm") == 0) factor = 1;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, "in") == 0) factor = 25.4;
  std::size_t x = s.find('x');
  if (factor == 0 || x == std::string::npos) {
    *why = "a label size is WIDTHxHEIGHT in mm or in, as 100x150mm or 4x6in";
    return false;
  }
  const std::string w = s.substr(0, x), h = s.substr(x + 1, s.size() - 2 - (x + 1));
  char* end = nullptr;
  const double wv = std::strtod(w.c_str(), &end);
  const bool wOk = !w.empty() && *end == '\0';
  const double hv = std::strtod(h.c_str(), &end);
  const bool hOk = !h.empty() && *end == '\0';
  if (!wOk || !hOk || !(wv > 0 && wv * factor <= 1000) || !(hv > 0 && hv * factor <= 10000)) {
    *why = "the label size \"" + std::string(text) +
           "\" is not WIDTHxHEIGHT with a width up to 1000 mm and a height up to 10000 mm";
    return false;
  }
  *widthMm = millimetres(wv * factor);
  *heightMm = millimetres(hv * factor);
  return true;
}

bool parseItemOption(ItemKind kind, std::string_view value, double dpi, LabelItem* item,
                     std::string* why) {
  const std::size_t fixed = kind == ItemKind::Barcode ? 3 : 2;  // fields before the data
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t i = 0; i < fixed; ++i) {
    std::size_t comma = value.find(',', from);
    if (comma == std::string_view::npos) {
      *why = kind == ItemKind::Barcode ? "a barcode is X,Y,TYPE,DATA (as 40,120,128,PALOMA-0001)"
             : kind == ItemKind::Qr    ? "a QR code is X,Y,DATA (as 40,300,https://example.com)"
                                       : "a text is X,Y,TEXT (as 40,40,Hello)";
      return false;
    }
    parts.emplace_back(value.substr(from, comma - from));
    from = comma + 1;
  }
  LabelItem out;
  out.kind = kind;
  if (!dotsOf("X", parts[0], dpi, &out.x, why) || !dotsOf("Y", parts[1], dpi, &out.y, why))
    return false;
  if (kind == ItemKind::Barcode) out.type = trimmed(parts[2]);
  out.data = std::string(value.substr(from));
  if (out.data.empty()) {
    *why = "the data after X,Y is empty";
    return false;
  }
  *item = std::move(out);
  return true;
}

namespace {

using nlohmann::json;

// A value that may be a number or a string, as text.
bool scalarText(const json& v, std::string* out) {
  if (v.is_string()) {
    *out = v.get<std::string>();
    return true;
  }
  if (v.is_number_integer()) {
    *out = std::to_string(v.get<long long>());
    return true;
  }
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (!std::isfinite(d)) return false;
    *out = millimetres(d);
    return true;
  }
  return false;
}

bool parseItem(const json& j, double dpi, std::size_t index, LabelItem* item, std::string* why) {
  const std::string where = "items[" + std::to_string(index) + "]: ";
  if (!j.is_object()) {
    *why = where + "an item is an object such as {\"text\": \"Hello\", \"x\": 40, \"y\": 40}";
    return false;
  }
  LabelItem out;
  int kinds = 0;
  for (const auto& [key, value] : j.items()) {
    std::string text;
    if (!scalarText(value, &text)) {
      *why = where + "\"" + key + "\" is a string or a number";
      return false;
    }
    if (key == "text" || key == "barcode" || key == "qr") {
      ++kinds;
      out.kind = key == "text" ? ItemKind::Text : key == "barcode" ? ItemKind::Barcode : ItemKind::Qr;
      out.data = text;
    } else if (key == "x" || key == "y") {
      if (!dotsOf(where + key, text, dpi, key == "x" ? &out.x : &out.y, why)) return false;
    } else if (key == "rotation") {
      out.rotation = text;
    } else if (key == "font") {
      out.font = text;
    } else if (key == "scale") {
      out.xScale = out.yScale = text;
    } else if (key == "x_scale") {
      out.xScale = text;
    } else if (key == "y_scale") {
      out.yScale = text;
    } else if (key == "type") {
      out.type = text;
    } else if (key == "height") {
      if (!dotsOf(where + "height", text, dpi, &out.height, why)) return false;
    } else if (key == "readable") {
      out.readable = text;
    } else if (key == "narrow") {
      out.narrow = text;
    } else if (key == "wide") {
      out.wide = text;
    } else if (key == "ecc") {
      out.ecc = text;
    } else if (key == "cell") {
      out.cell = text;
    } else {
      *why = where + "unknown key \"" + key + "\"";
      return false;
    }
  }
  if (kinds != 1) {
    *why = where + "an item has exactly one of \"text\", \"barcode\" or \"qr\"";
    return false;
  }
  *item = std::move(out);
  return true;
}

}  // namespace

bool parseLabelFile(std::string_view text, LabelDesign* design, std::string* why) {
  json j = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) {
    *why = "the label file is not JSON";
    return false;
  }
  if (!j.is_object()) {
    *why = "a label file is one JSON object with \"items\"";
    return false;
  }
  LabelDesign out;
  if (auto dpi = j.find("dpi"); dpi != j.end()) {
    if (!dpi->is_number() || !(dpi->get<double>() >= 50 && dpi->get<double>() <= 2400)) {
      *why = "\"dpi\" is a number from 50 to 2400";
      return false;
    }
    out.dpi = dpi->get<double>();
  }
  for (const auto& [key, value] : j.items()) {
    std::string s;
    if (key == "dpi" || key == "items") continue;
    if (!scalarText(value, &s)) {
      *why = "\"" + key + "\" is a string or a number";
      return false;
    }
    if (key == "size") {
      if (!parseLabelSize(s, &out.widthMm, &out.heightMm, why)) return false;
    } else if (key == "gap" || key == "offset") {
      if (!mmOf(key, s, key == "gap" ? &out.gapMm : &out.offsetMm, why)) return false;
    } else if (key == "speed") {
      out.speed = s;
    } else if (key == "density") {
      out.density = s;
    } else {
      *why = "unknown key \"" + key + "\"";
      return false;
    }
  }
  auto items = j.find("items");
  if (items == j.end() || !items->is_array()) {
    *why = "a label file has \"items\", a list";
    return false;
  }
  for (std::size_t i = 0; i < items->size(); ++i) {
    LabelItem item;
    if (!parseItem((*items)[i], out.dpi, i, &item, why)) return false;
    out.items.push_back(std::move(item));
  }
  *design = std::move(out);
  return true;
}

bool parseCsv(std::string_view text, Table* table, std::string* why) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, wasQuoted = false, any = false;
  std::size_t line = 1;
  auto endField = [&] {
    record.push_back(std::move(field));
    field.clear();
    wasQuoted = false;
  };
  auto endRecord = [&] {
    endField();
    // A blank line is no record.
    if (!(record.size() == 1 && record[0].empty())) records.push_back(std::move(record));
    record.clear();
    any = false;
  };
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // BOM
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"') {
      if (!field.empty() || wasQuoted) {
        *why = "line " + std::to_string(line) + ": a quote inside an unquoted field";
        return false;
      }
      quoted = wasQuoted = any = true;
    } else if (c == ',') {
      endField();
      any = true;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // the LF ends it
    } else if (c == '\n') {
      endRecord();
      ++line;
    } else {
      if (wasQuoted) {
        *why = "line " + std::to_string(line) + ": text after a quoted field's closing quote";
        return false;
      }
      field += c;
      any = true;
    }
  }
  if (quoted) {
    *why = "line " + std::to_string(line) + ": a quoted field is not closed";
    return false;
  }
  if (any || !field.empty() || !record.empty()) endRecord();
  if (records.empty()) {
    *why = "the table is empty: its first line names the columns";
    return false;
  }
  Table out;
  out.columns = std::move(records[0]);
  for (std::size_t i = 0; i < out.columns.size(); ++i) {
    out.columns[i] = trimmed(out.columns[i]);
    for (std::size_t k = 0; k < i; ++k)
      if (out.columns[k] == out.columns[i]) {
        *why = "two columns are named \"" + out.columns[i] + "\"";
        return false;
      }
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    if (records[r].size() != out.columns.size()) {
      *why = "row " + std::to_string(r) + " has " + std::to_string(records[r].size()) +
             " fields where the header names " + std::to_string(out.columns.size());
      return false;
    }
    out.rows.push_back(std::move(records[r]));
  }
  *table = std::move(out);
  return true;
}

namespace {

// Walks `text`, giving literal runs and placeholder names to `onText` and
// `onName` (which may stop the walk by returning false).
template <typename OnText, typename OnName>
bool walkTemplate(std::string_view text, OnText&& onText, OnName&& onName, std::string* why) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '{' && i + 1 < text.size() && text[i + 1] == '{') {
      onText('{');
      ++i;
    } else if (c == '}' && i + 1 < text.size() && text[i + 1] == '}') {
      onText('}');
      ++i;
    } else if (c == '{') {
      std::size_t close = text.find('}', i);
      if (close == std::string_view::npos) {
        *why = "\"" + std::string(text) + "\": a '{' without its '}' (write {{ for a brace)";
        return false;
      }
      if (!onName(trimmed(text.substr(i + 1, close - i - 1)))) return false;
      i = close;
    } else if (c == '}') {
      *why = "\"" + std::string(text) + "\": a '}' without its '{' (write }} for a brace)";
      return false;
    } else {
      onText(c);
    }
  }
  return true;
}

}  // namespace

bool fillPlaceholders(std::string_view text, const std::vector<std::string>& columns,
                      const std::vector<std::string>& row, std::size_t counter, std::string* out,
                      std::string* why) {
  std::string filled;
  bool ok = walkTemplate(
      text, [&](char c) { filled += c; },
      [&](const std::string& name) {
        for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i)
          if (columns[i] == name) {
            filled += row[i];
            return true;
          }
        if (name == "counter") {
          filled += std::to_string(counter);
          return true;
        }
        *why = "\"{" + name + "}\" is no column of the data" +
               (columns.empty() ? std::string(" (give the data with --data FILE.csv)") : "");
        return false;
      },
      why);
  if (ok) *out = std::move(filled);
  return ok;
}

paloma_result sendLabel(paloma_printer* p, const LabelDesign& design,
                        const std::vector<std::string>& columns,
                        const std::vector<std::string>& row, std::size_t counter, long copies,
                        std::string* why) {
  auto failed = [&](paloma_result r, const std::string& what) {
    const char* e = paloma_last_error();
    *why = what + ": " + (e && *e ? e : paloma_result_text(r));
    return r;
  };
  paloma_result r = PALOMA_OK;
  paloma_clear_error();
  if (!design.widthMm.empty()) {
    const std::string sensor = "0";
    r = paloma_setup(p, design.widthMm.c_str(), design.heightMm.c_str(), design.speed.c_str(),
                     design.density.c_str(), sensor.c_str(), design.gapMm.c_str(),
                     design.offsetMm.c_str());
    if (r != PALOMA_OK) return failed(r, "the label size");
  }
  if ((r = paloma_clearbuffer(p)) != PALOMA_OK) return failed(r, "clearing the image buffer");
  for (std::size_t i = 0; i < design.items.size(); ++i) {
    const LabelItem& it = design.items[i];
    std::string data;
    if (!fillPlaceholders(it.data, columns, row, counter, &data, why)) return PALOMA_ERROR_ARGUMENT;
    // The printer reads a double quote inside quoted text as its end: the
    // rest of the line would be misread, so such data is refused here.
    if (data.find('"') != std::string::npos && data[0] != '@') {
      *why = "item " + std::to_string(i + 1) + ": \"" + data +
             "\" holds a double quote, which would end the printer's text early";
      return PALOMA_ERROR_ARGUMENT;
    }
    const std::string what = "item " + std::to_string(i + 1) + " (" +
                             (it.kind == ItemKind::Text ? "text" : it.kind == ItemKind::Barcode ? "barcode" : "QR code") +
                             " \"" + data + "\")";
    paloma_clear_error();
    switch (it.kind) {
      case ItemKind::Text:
        r = paloma_printerfont(p, it.x.c_str(), it.y.c_str(), it.font.c_str(), it.rotation.c_str(),
                               it.xScale.c_str(), it.yScale.c_str(), data.c_str());
        break;
      case ItemKind::Barcode:
        r = paloma_barcode(p, it.x.c_str(), it.y.c_str(), it.type.c_str(), it.height.c_str(),
                           it.readable.c_str(), it.rotation.c_str(), it.narrow.c_str(),
                           it.wide.c_str(), data.c_str());
        break;
      case ItemKind::Qr: {
        const std::string mode = "A";
        r = paloma_qrcode(p, it.x.c_str(), it.y.c_str(), it.ecc.c_str(), it.cell.c_str(),
                          mode.c_str(), it.rotation.c_str(), "", "", data.c_str());
        break;
      }
    }
    if (r != PALOMA_OK) return failed(r, what);
  }
  paloma_clear_error();
  const std::string sets = std::to_string(copies);
  if ((r = paloma_printlabel(p, sets.c_str(), "1")) != PALOMA_OK) return failed(r, "the print command");
  return PALOMA_OK;
}

}  // namespace paloma_cli
