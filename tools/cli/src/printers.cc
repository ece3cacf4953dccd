#include "printers.h"

#include <algorithm>

namespace paloma_cli {

const char* const kDefaultPrinterHelp =
    "The printer is the --to value, an address (URI) or the name of a printer of\n"
    "the configuration file; without --to, the PALOMA_PRINTER environment variable\n"
    "(an address or a name); else the configuration's default printer. The file is\n"
    "$XDG_CONFIG_HOME/paloma/config (~/.config/paloma/config), one \"NAME = URI\"\n"
    "a line, \"default = NAME\" (or an address) for the printer used without --to,\n"
    "and '#' comment lines:\n"
    "  default = shipping\n"
    "  shipping = tcp://192.168.1.50\n"
    "  office = queue:Office_Labels\n"
    "A name is letters, digits, '-', '_' and '.'.\n";

std::string configPath(const char* xdgConfigHome, const char* home) {
  // An XDG directory that is not absolute is ignored, as the base directory
  // rules say.
  if (xdgConfigHome && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/paloma/config";
  if (home && *home) return std::string(home) + "/.config/paloma/config";
  return "";
}

bool isPrinterName(std::string_view text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.';
  });
}

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool parsePrinterBook(std::string_view text, PrinterBook* book, std::string* why) {
  PrinterBook out;
  bool haveDefault = false;
  int number = 0;
  while (!text.empty()) {
    ++number;
    std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    std::string where = "line " + std::to_string(number) + ": ";
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      *why = where + "expected NAME = URI";
      return false;
    }
    std::string name(trim(line.substr(0, eq)));
    std::string value(trim(line.substr(eq + 1)));
    if (!isPrinterName(name)) {
      *why = where + "\"" + name + "\" is not a printer name (letters, digits, '-', '_', '.')";
      return false;
    }
    if (value.empty()) {
      *why = where + name + " has no value";
      return false;
    }
    if (name == "default") {
      if (haveDefault) {
        *why = where + "a second default";
        return false;
      }
      haveDefault = true;
      out.defaultPrinter = value;
      continue;
    }
    if (isPrinterName(value)) {
      *why = where + name + " = " + value + ": a printer is an address such as tcp://HOST";
      return false;
    }
    for (const auto& p : out.printers)
      if (p.first == name) {
        *why = where + "a second printer named " + name;
        return false;
      }
    out.printers.emplace_back(name, value);
  }
  *book = std::move(out);
  return true;
}

std::optional<std::string> lookUpPrinter(const std::string& nameOrUri, const PrinterBook& book,
                                         std::string* why) {
  if (!isPrinterName(nameOrUri)) return nameOrUri;
  for (const auto& p : book.printers)
    if (p.first == nameOrUri) return p.second;
  std::string known;
  for (const auto& p : book.printers) known += (known.empty() ? "" : ", ") + p.first;
  *why = "no printer named \"" + nameOrUri + "\" in the configuration" +
         (known.empty() ? std::string(" (it names none)") : " (it names " + known + ")");
  return std::nullopt;
}

}  // namespace paloma_cli
