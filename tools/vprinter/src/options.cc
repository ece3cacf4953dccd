#include "options.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdlib>


namespace vprinter {

namespace {

std::string upperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string usageText() {
  return
      "paloma-vprinter: a virtual label printer that answers like a networked printer and "
      "renders every label to PNG.\n"
      "\n"
      "Usage: paloma-vprinter [OPTION]...\n"
      "  or:  paloma-vprinter --render FILE [--out DIR] [--log FILE] [--dpi N]\n"
      "\n"
      "It listens for label commands on TCP (and optionally a pseudo-terminal), answers\n"
      "status and information queries, writes each printed label to DIR/label-NNNNNN.png\n"
      "and prints one line per label. It runs until SIGINT or SIGTERM.\n"
      "\n"
      "Endpoints:\n"
      "  --listen [HOST:]PORT    TCP endpoint (default 127.0.0.1:9100; port 0 picks a free one)\n"
      "  --no-tcp                no TCP endpoint (then --serial or --discovery is needed)\n"
      "  --serial                also serve a pseudo-terminal; its path is printed\n"
      "  --discovery             answer the UDP discovery probe (needs a raw socket: root or\n"
      "                          CAP_NET_RAW; use it inside a network namespace of your own)\n"
      "  --http [HOST:]PORT      serve the live preview page (host 127.0.0.1 unless given;\n"
      "                          port 0 picks a free one); off unless asked\n"
      "  --max-connections N     TCP connections served at once, 1 to 1024 (default 64); the\n"
      "                          next is accepted, logged and closed\n"
      "  --idle-timeout SEC      close a TCP connection silent this long, 1 to 86400\n"
      "                          (default: connections stay open, as a printer's do)\n"
      "\n"
      "The printer:\n"
      "  --dpi N                 resolution, 100 to 1200 (default 203)\n"
      "  --status BYTE           status byte answered to ESC !? (0-255 or 0x00-0xff; default 0)\n"
      "  --name TEXT             model name answered to ~!T (default \"PALOMA VP-203\")\n"
      "  --serial-number TEXT    answered to OUT _SERIAL$\n"
      "  --setting A/S/K=V       a setting answered to OUT GETSETTING$(\"A\",\"S\",\"K\");\n"
      "                          SENSOR/NAME=V sets a sensor for OUT GETSENSOR(\"NAME\")\n"
      "\n"
      "Output and bounds:\n"
      "  --out DIR               where labels go (default vprinter-out); numbering continues\n"
      "                          after the highest label already there\n"
      "  --log FILE              command log, one JSON object a line (default DIR/log.jsonl;\n"
      "                          \"-\" is standard output)\n"
      "  --max-log SIZE          past this the log is renamed FILE.1 and a new one begun\n"
      "                          (default 64M; SIZE is bytes, or with K, M or G)\n"
      "  --max-disk SIZE         the label files may take this much; the oldest labels are\n"
      "                          removed to stay below it (default 1G)\n"
      "  --max-label-dots N      largest image buffer, width x height in dots (default: what\n"
      "                          a 216 mm x 1000 mm label needs at the dpi)\n"
      "  --max-sets N            label sets one PRINT draws, 1 to 1000 (default 10); the rest\n"
      "                          are counted in the log, not drawn\n"
      "\n"
      "Other:\n"
      "  --render FILE           render a saved command stream and exit: 0, or 2 when a\n"
      "                          command had an error\n"
      "  -v, --verbose           a line per connection opened and closed\n"
      "  -h, --help              this text\n"
      "      --version           the version\n"
      "\n"
      "Malformed options end the program with exit code 2.\n";
}

bool parseStatusByte(const std::string& text, uint8_t& value) {
  if (text.empty() || text.size() > 4) return false;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
  size_t from = hex ? 2 : 0;
  if (text.find_first_not_of(digits, from) != std::string::npos) return false;
  unsigned long v = std::strtoul(text.c_str() + from, nullptr, hex ? 16 : 10);
  if (v > 255) return false;
  value = static_cast<uint8_t>(v);
  return true;
}

namespace {

// A whole number from `min` to `max`, digits only.
bool parseBounded(const std::string& text, long long min, long long max, long long& value) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v < min || v > max) return false;
  value = v;
  return true;
}

// "[HOST:]PORT" with an IPv4 HOST (default `host` unchanged) and PORT 0-65535.
bool parseEndpoint(const std::string& text, std::string& host, int& port) {
  size_t colon = text.rfind(':');
  std::string h = colon == std::string::npos ? host : text.substr(0, colon);
  std::string p = colon == std::string::npos ? text : text.substr(colon + 1);
  long long v = 0;
  in_addr a{};
  if (!parseBounded(p, 0, 65535, v) || ::inet_pton(AF_INET, h.c_str(), &a) != 1) return false;
  host = h;
  port = static_cast<int>(v);
  return true;
}

// A size in bytes: digits with an optional K, M or G (powers of 1024).
bool parseSize(const std::string& text, uint64_t& bytes) {
  if (text.empty()) return false;
  std::string digits = text;
  uint64_t unit = 1;
  char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
  if (last == 'K' || last == 'M' || last == 'G') {
    unit = last == 'K' ? 1ull << 10 : last == 'M' ? 1ull << 20 : 1ull << 30;
    digits.pop_back();
  }
  long long v = 0;
  if (!parseBounded(digits, 1, (1ll << 50) / static_cast<long long>(unit), v)) return false;
  bytes = static_cast<uint64_t>(v) * unit;
  return true;
}

constexpr const char* kEndpointForm = "[HOST:]PORT, an IPv4 address and a port from 0 to 65535";
constexpr const char* kSizeForm = "a size in bytes, or with K, M or G (64M, 1G)";
constexpr const char* kTextForm = "a text of 1 to 200 bytes without control characters";

// What the options given so far make, beyond the Config itself.
struct Parsed {
  Config& cfg;
  bool noTcp = false;
  bool listenGiven = false;
};

// An option's effect. One with a value gets it in `v` and returns nullptr,
// or the form the value should take when it is wrong.
using Apply = const char* (*)(Parsed& p, const std::string& v);

struct OptionSpec {
  const char* name;
  const char* alias;      // another name, or nullptr
  const char* valueForm;  // nullptr: a flag without a value; else shown when it is missing
  Apply apply;
};

// `form` when `text` is no whole number from min to max; else stores it.
template <typename T>
const char* storeBounded(const std::string& text, long long min, long long max, const char* form,
                         T& to, long long scale = 1) {
  long long n = 0;
  if (!parseBounded(text, min, max, n)) return form;
  to = static_cast<T>(n * scale);
  return nullptr;
}

const char* storeText(const std::string& v, std::string& to) {
  bool ok = !v.empty() && v.size() <= 200;
  for (char c : v) ok = ok && static_cast<unsigned char>(c) >= 0x20;
  if (!ok) return kTextForm;
  to = v;
  return nullptr;
}

// "APP/SECTION/KEY=VALUE" or "SENSOR/NAME=VALUE".
const char* storeSetting(const std::string& v, Config& cfg) {
  size_t eq = v.find('=');
  std::string key = eq == std::string::npos ? v : v.substr(0, eq);
  size_t s1 = key.find('/');
  size_t s2 = s1 == std::string::npos ? s1 : key.find('/', s1 + 1);
  bool sensor = upperCase(key).rfind("SENSOR/", 0) == 0 && key.size() > 7 &&
                key.find('/', 7) == std::string::npos;
  bool full = s2 != std::string::npos && s1 > 0 && s2 > s1 + 1 && s2 + 1 < key.size() &&
              key.find('/', s2 + 1) == std::string::npos;
  if (eq == std::string::npos || !(full || sensor)) {
    return "APP/SECTION/KEY=VALUE or SENSOR/NAME=VALUE";
  }
  cfg.printer.settings[upperCase(key)] = v.substr(eq + 1);
  return nullptr;
}

const OptionSpec kOptions[] = {
    {"--listen", nullptr, kEndpointForm,
     [](Parsed& p, const std::string& v) -> const char* {
       if (!parseEndpoint(v, p.cfg.server.host, p.cfg.server.port)) return kEndpointForm;
       p.listenGiven = true;
       return nullptr;
     }},
    {"--no-tcp", nullptr, nullptr,
     [](Parsed& p, const std::string&) -> const char* {
       p.noTcp = true;
       return nullptr;
     }},
    {"--serial", nullptr, nullptr,
     [](Parsed& p, const std::string&) -> const char* {
       p.cfg.server.serial = true;
       return nullptr;
     }},
    {"--discovery", nullptr, nullptr,
     [](Parsed& p, const std::string&) -> const char* {
       p.cfg.server.discovery = true;
       return nullptr;
     }},
    {"--http", nullptr, kEndpointForm,
     [](Parsed& p, const std::string& v) -> const char* {
       if (!parseEndpoint(v, p.cfg.httpHost, p.cfg.httpPort)) return kEndpointForm;
       p.cfg.http = true;
       return nullptr;
     }},
    {"--max-connections", nullptr, "a whole number from 1 to 1024",
     [](Parsed& p, const std::string& v) {
       return storeBounded(v, 1, 1024, "a whole number from 1 to 1024",
                           p.cfg.server.maxConnections);
     }},
    {"--idle-timeout", nullptr, "seconds, a whole number from 1 to 86400",
     [](Parsed& p, const std::string& v) {
       return storeBounded(v, 1, 86400, "seconds, a whole number from 1 to 86400",
                           p.cfg.server.idleTimeoutMs, 1000);
     }},
    {"--out", nullptr, "DIR",
     [](Parsed& p, const std::string& v) -> const char* {
       if (v.empty()) return "a folder";
       p.cfg.outDir = v;
       return nullptr;
     }},
    {"--log", nullptr, "FILE",
     [](Parsed& p, const std::string& v) -> const char* {
       if (v.empty()) return "a file, or - for standard output";
       p.cfg.logPath = v;
       p.cfg.logGiven = true;
       return nullptr;
     }},
    {"--max-log", nullptr, kSizeForm,
     [](Parsed& p, const std::string& v) -> const char* {
       return parseSize(v, p.cfg.maxLogBytes) ? nullptr : kSizeForm;
     }},
    {"--max-disk", nullptr, kSizeForm,
     [](Parsed& p, const std::string& v) -> const char* {
       return parseSize(v, p.cfg.printer.maxDisk) ? nullptr : kSizeForm;
     }},
    {"--max-label-dots", nullptr, "a whole number of dots from 1 to 400000000 (width x height)",
     [](Parsed& p, const std::string& v) {
       return storeBounded(v, 1, 400000000,
                           "a whole number of dots from 1 to 400000000 (width x height)",
                           p.cfg.printer.maxLabelDots);
     }},
    {"--max-sets", nullptr, "a whole number from 1 to 1000",
     [](Parsed& p, const std::string& v) {
       return storeBounded(v, 1, 1000, "a whole number from 1 to 1000",
                           p.cfg.printer.maxSetsPerPrint);
     }},
    {"--dpi", nullptr, "a whole number from 100 to 1200",
     [](Parsed& p, const std::string& v) {
       return storeBounded(v, 100, 1200, "a whole number from 100 to 1200", p.cfg.printer.dpi);
     }},
    {"--status", nullptr, "a byte, 0 to 255 or 0x00 to 0xff",
     [](Parsed& p, const std::string& v) -> const char* {
       return parseStatusByte(v, p.cfg.printer.status) ? nullptr
                                                       : "a byte, 0 to 255 or 0x00 to 0xff";
     }},
    {"--name", nullptr, kTextForm,
     [](Parsed& p, const std::string& v) { return storeText(v, p.cfg.printer.name); }},
    {"--serial-number", nullptr, kTextForm,
     [](Parsed& p, const std::string& v) { return storeText(v, p.cfg.printer.serialNumber); }},
    {"--setting", nullptr, "APP/SECTION/KEY=VALUE",
     [](Parsed& p, const std::string& v) { return storeSetting(v, p.cfg); }},
    {"--render", nullptr, "FILE",
     [](Parsed& p, const std::string& v) -> const char* {
       p.cfg.renderFile = v;
       return nullptr;
     }},
    {"--verbose", "-v", nullptr,
     [](Parsed& p, const std::string&) -> const char* {
       p.cfg.server.verbose = true;
       return nullptr;
     }},
};

const OptionSpec* findOption(const std::string& arg) {
  for (const OptionSpec& o : kOptions) {
    if (arg == o.name || (o.alias && arg == o.alias)) return &o;
  }
  return nullptr;
}

// Reads the option at argv[i] (and its value, moving `i` past it) into `p`.
bool applyOption(int argc, const char* const* argv, int& i, Parsed& p, std::string& error) {
  const std::string a = argv[i];
  const OptionSpec* o = findOption(a);
  if (!o) {
    error = "unknown option " + a;
    return false;
  }
  std::string v;
  if (o->valueForm) {
    if (i + 1 >= argc) {
      error = a + " needs a value: " + a + " " + o->valueForm;
      return false;
    }
    v = argv[++i];
  }
  if (const char* form = o->apply(p, v)) {
    error = "bad value '" + v + "' for " + a + ": expected " + form;
    return false;
  }
  return true;
}

// The options that cannot go together, or leave the program nothing to do.
bool checkCombination(Parsed& p, std::string& error) {
  Config& cfg = p.cfg;
  if (p.noTcp && p.listenGiven) {
    error = "--no-tcp and --listen contradict each other: give one";
    return false;
  }
  cfg.server.tcp = !p.noTcp;
  if (!cfg.renderFile.empty()) {
    if (p.listenGiven || p.noTcp || cfg.server.serial || cfg.server.discovery || cfg.http) {
      error = "--render reads a file and serves nothing: leave out --listen, --no-tcp, --serial, "
              "--discovery and --http";
      return false;
    }
    return true;
  }
  if (p.noTcp && !cfg.server.serial && !cfg.server.discovery) {
    error = "--no-tcp leaves nothing to print to: add --serial or --discovery, or drop --no-tcp";
    return false;
  }
  if (cfg.http && cfg.server.tcp && cfg.httpHost == cfg.server.host &&
      cfg.httpPort == cfg.server.port && cfg.httpPort != 0) {
    error = "--http and --listen name the same port: give them different ones";
    return false;
  }
  return true;
}

}  // namespace

ParseResult parseOptions(int argc, const char* const* argv, Config& cfg, std::string& error) {
  Parsed p{cfg};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") return ParseResult::kHelp;
    if (a == "--version") return ParseResult::kVersion;
    if (!applyOption(argc, argv, i, p, error)) return ParseResult::kError;
  }
  return checkCombination(p, error) ? ParseResult::kRun : ParseResult::kError;
}

}  // namespace vprinter
