// Which printer a command goes to when --to is not given, and the printers a
// user has named: PALOMA_PRINTER and the configuration file
// $XDG_CONFIG_HOME/paloma/config (~/.config/paloma/config), e.g.
//
//   # the printer used when no --to is given
//   default = shipping
//   shipping = tcp://192.168.1.50
//   office = queue:Office_Labels
//
// A name is letters, digits, '-', '_' and '.'; it has no ':' or '/', so it is
// never taken for an address.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace paloma_cli {

struct PrinterBook {
  std::vector<std::pair<std::string, std::string>> printers;  // name, URI; in file order
  std::string defaultPrinter;  // a name or a URI; empty when none is named
};

// The configuration file's path from the environment's values (either may
// be null); empty when neither is set.
std::string configPath(const char* xdgConfigHome, const char* home);

// Reads the configuration's text; false with the line and the reason in `why`.
bool parsePrinterBook(std::string_view text, PrinterBook* book, std::string* why);

// True when `text` has the form of a printer name rather than an address.
bool isPrinterName(std::string_view text);

// The URI a named printer or an address stands for; nothing, with the reason
// in `why`, for a name the book does not have.
std::optional<std::string> lookUpPrinter(const std::string& nameOrUri, const PrinterBook& book,
                                         std::string* why);

// Where a command goes and why: the --to value, else PALOMA_PRINTER (`env`,
// may be null), else the book's default. `loadBook` reads the book when it
// is needed (an address given outright does not need it); it returns false
// with the reason in `why`.
struct ChosenPrinter {
  std::string uri;
  std::string source;  // "--to", "PALOMA_PRINTER", "the configuration's default"
};
template <typename LoadBook>
std::optional<ChosenPrinter> choosePrinter(const std::string& to, const char* env,
                                           LoadBook&& loadBook, std::string* why);

// How each way of naming the printer reads, for help and messages.
extern const char* const kDefaultPrinterHelp;

// ---- template body ----

template <typename LoadBook>
std::optional<ChosenPrinter> choosePrinter(const std::string& to, const char* env,
                                           LoadBook&& loadBook, std::string* why) {
  std::string value, source;
  if (!to.empty()) {
    value = to;
    source = "--to";
  } else if (env && *env) {
    value = env;
    source = "PALOMA_PRINTER";
  }
  if (!value.empty() && !isPrinterName(value)) return ChosenPrinter{value, source};
  PrinterBook book;
  if (!loadBook(&book, why)) return std::nullopt;
  if (value.empty()) {
    if (book.defaultPrinter.empty()) {
      *why = "no printer given: say which with --to URI or --to NAME, set PALOMA_PRINTER, or "
             "name a default printer in the configuration (see 'paloma printers --help')";
      return std::nullopt;
    }
    value = book.defaultPrinter;
    source = "the configuration's default";
  }
  auto uri = lookUpPrinter(value, book, why);
  if (!uri) {
    *why = source + ": " + *why;
    return std::nullopt;
  }
  return ChosenPrinter{*uri, source};
}

}  // namespace paloma_cli
