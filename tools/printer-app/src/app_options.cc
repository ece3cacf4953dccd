#include "app_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace paloma::printapp {

namespace {

bool parseNumber(const char* text, long min, long max, long* value) {
  if (!text || !*text) return false;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  errno = 0;
  const long v = std::strtol(text, nullptr, 10);
  if (errno || v < min || v > max) return false;
  *value = v;
  return true;
}

struct NumberOption {
  const char* name;
  long min;
  long max;
  int AppSettings::*field;
  const char* form;
};

const NumberOption kNumbers[] = {
    {"status-interval", 1, 3600, &AppSettings::statusIntervalSeconds, "seconds, 1-3600"},
    {"fault-wait", 0, 7 * 24 * 3600, &AppSettings::faultWaitSeconds, "seconds, 0-604800"},
    {"max-pdf-pages", 1, 100000, &AppSettings::maxPdfPages, "pages, 1-100000"},
    {"pdf-page-seconds", 1, 3600, &AppSettings::pdfPageSeconds, "seconds, 1-3600"},
    {"reply-timeout", 100, 60000, &AppSettings::replyTimeoutMs, "milliseconds, 100-60000"},
};

}  // namespace

// Where the printers are kept between runs when -o state-file is not given.
static std::string defaultStateFile() {
  if (getuid() == 0) return "/var/lib/paloma-printer-app/paloma-printer-app.state";
  std::string dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    dir = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    dir = std::string(home) + "/.config";
  else
    return {};
  return dir + "/paloma-printer-app.state";
}

bool parseServerOptions(int n, cups_option_t* options, ServerConfig* config, std::string* error) {
  if (const char* v = cupsGetOption("server-port", n, options)) {
    long port;
    if (!parseNumber(v, 1, 65535, &port)) {
      *error = "-o server-port=" + std::string(v) + ": give a port number, 1-65535";
      return false;
    }
    config->port = static_cast<int>(port);
  }
  if (const char* v = cupsGetOption("listen-hostname", n, options)) {
    if (!*v || std::strpbrk(v, " /\t\r\n")) {
      *error = "-o listen-hostname=" + std::string(v) +
               ": give a host name or address (localhost, 127.0.0.1) or * for every address";
      return false;
    }
    config->listenHost = v;
  }
  if (const char* v = cupsGetOption("spool-directory", n, options)) config->spoolDirectory = v;
  if (const char* v = cupsGetOption("log-file", n, options)) config->logFile = v;
  if (const char* v = cupsGetOption("log-level", n, options)) {
    static const struct {
      const char* name;
      pappl_loglevel_t level;
    } kLevels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO},
                   {"warn", PAPPL_LOGLEVEL_WARN},   {"error", PAPPL_LOGLEVEL_ERROR},
                   {"fatal", PAPPL_LOGLEVEL_FATAL}};
    bool found = false;
    for (const auto& l : kLevels)
      if (!std::strcmp(v, l.name)) {
        config->logLevel = l.level;
        found = true;
      }
    if (!found) {
      *error = "-o log-level=" + std::string(v) + ": give debug, info, warn, error or fatal";
      return false;
    }
  }
  if (const char* v = cupsGetOption("state-file", n, options))
    config->stateFile = v;
  else
    config->stateFile = defaultStateFile();
  for (const NumberOption& o : kNumbers) {
    const char* v = cupsGetOption(o.name, n, options);
    if (!v) continue;
    long value;
    if (!parseNumber(v, o.min, o.max, &value)) {
      *error = std::string("-o ") + o.name + "=" + v + ": give " + o.form;
      return false;
    }
    config->app.*o.field = static_cast<int>(value);
  }
  return true;
}

bool translateArguments(int argc, char* argv[], std::vector<std::string>* out,
                        std::string* error) {
  out->clear();
  for (int i = 0; i < argc; ++i) out->push_back(argv[i] ? argv[i] : "");
  if (out->size() < 2) return true;
  std::vector<std::string> result{(*out)[0], (*out)[1]};
  const bool add = (*out)[1] == "add";
  bool named = false;
  static const struct {
    const char* longName;
    const char* shortName;
  } kLong[] = {{"--device-uri", "-v"}, {"--driver", "-m"}, {"--printer", "-d"}};
  for (size_t i = 2; i < out->size(); ++i) {
    const std::string& a = (*out)[i];
    bool matched = false;
    for (const auto& l : kLong) {
      const size_t len = std::strlen(l.longName);
      if (a.compare(0, len, l.longName) != 0) continue;
      if (a.size() == len) {
        if (i + 1 >= out->size()) {
          *error = a + " needs a value";
          return false;
        }
        result.push_back(l.shortName);
        result.push_back((*out)[++i]);
        matched = true;
      } else if (a[len] == '=') {
        result.push_back(l.shortName);
        result.push_back(a.substr(len + 1));
        matched = true;
      }
      if (matched) break;
    }
    if (matched) continue;
    // "add NAME ...": the printer's name comes first.
    if (add && !named && !a.empty() && a[0] != '-' &&
        (result.size() < 3 || result.back()[0] != '-' || result.back().size() != 2)) {
      result.push_back("-d");
      result.push_back(a);
      named = true;
      continue;
    }
    result.push_back(a);
  }
  *out = std::move(result);
  return true;
}

std::string usageText() {
  return R"(Usage: paloma-printer-app SUB-COMMAND [OPTIONS] [FILENAME]
An IPP Everywhere printer application for PALOMA label printers: any program
that prints through IPP or CUPS can print labels.

Sub-commands:
  server           Run the server (on localhost unless -o listen-hostname=).
  add NAME         Add a printer (--device-uri URI --driver DRIVER).
  delete           Delete a printer (-d NAME).
  modify           Modify a printer.
  printers         List printers.
  drivers          List drivers.
  devices          List devices.
  submit FILE      Submit a file for printing (-d NAME).
  jobs             List jobs.
  cancel           Cancel one or more jobs.
  status           Show server, printer or job status.
  options          List a printer's options.
  default          Set the default printer.
  pause, resume    Pause or resume a printer.
  autoadd          Add printers that say they take PALOMA's commands.
  shutdown         Shut a running server down.

Options:
  -d NAME, --printer NAME        The printer.
  -v URI, --device-uri URI       The printer's device: socket://HOST:PORT, or
                                 paloma: and a PALOMA URI (paloma:tcp://HOST:9100,
                                 paloma:serial:/dev/ttyUSB0?baud=9600, paloma:usb:,
                                 paloma:usb:SERIAL, paloma:queue:NAME).
  -m DRIVER, --driver DRIVER     paloma (asks the printer its resolution),
                                 paloma_203dpi, paloma_300dpi or paloma_600dpi.
  -o NAME=VALUE                  An option (add, modify, server, submit).
  -n COPIES                      Copies (submit).
  -u URI                         The server (ipp://HOST:PORT/ipp/print/NAME).
  --help                         Show this text.
  --version                      Show the version.

Server options (-o NAME=VALUE):
  server-port=N          IPP and web port (8631).
  listen-hostname=HOST   The address to listen on (localhost); * for every address.
  state-file=FILE        Where printers are kept between runs.
  spool-directory=DIR    Where jobs are kept while printing.
  log-file=FILE          The log (- for standard error, the default).
  log-level=LEVEL        debug, info (the default), warn, error, fatal.
  status-interval=SEC    How often an idle printer's status is asked (5).
  fault-wait=SEC         How long a job waits for a printer fault to clear (3600).
  max-pdf-pages=N        Pages of one PDF job; a longer one stops there (1000).
  pdf-page-seconds=SEC   The PDF converter's time for one page (60).
  reply-timeout=MS       How long a status or dpi query waits (2000).
)";
}

}  // namespace paloma::printapp
