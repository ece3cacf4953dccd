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

ParseResult parseOptions(int argc, const char* const* argv, Config& cfg, std::string& error) {
  bool noTcp = false, listenGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string v;
    // The value of an option that takes one; false (and `error`) when it is missing.
    auto value = [&](const char* form) {
      if (i + 1 >= argc) {
        error = a + " needs a value: " + a + " " + form;
        return false;
      }
      v = argv[++i];
      return true;
    };
    auto bad = [&](const char* form) {
      error = "bad value '" + v + "' for " + a + ": expected " + form;
      return ParseResult::kError;
    };
    long long n = 0;
    if (a == "--help" || a == "-h") return ParseResult::kHelp;
    if (a == "--version") return ParseResult::kVersion;
    if (a == "--listen") {
      const char* form = "[HOST:]PORT, an IPv4 address and a port from 0 to 65535";
      if (!value(form)) return ParseResult::kError;
      if (!parseEndpoint(v, cfg.server.host, cfg.server.port)) return bad(form);
      listenGiven = true;
    } else if (a == "--no-tcp") {
      noTcp = true;
    } else if (a == "--serial") {
      cfg.server.serial = true;
    } else if (a == "--discovery") {
      cfg.server.discovery = true;
    } else if (a == "--http") {
      const char* form = "[HOST:]PORT, an IPv4 address and a port from 0 to 65535";
      if (!value(form)) return ParseResult::kError;
      if (!parseEndpoint(v, cfg.httpHost, cfg.httpPort)) return bad(form);
      cfg.http = true;
    } else if (a == "--max-connections") {
      const char* form = "a whole number from 1 to 1024";
      if (!value(form)) return ParseResult::kError;
      if (!parseBounded(v, 1, 1024, n)) return bad(form);
      cfg.server.maxConnections = static_cast<int>(n);
    } else if (a == "--idle-timeout") {
      const char* form = "seconds, a whole number from 1 to 86400";
      if (!value(form)) return ParseResult::kError;
      if (!parseBounded(v, 1, 86400, n)) return bad(form);
      cfg.server.idleTimeoutMs = static_cast<int>(n * 1000);
    } else if (a == "--out") {
      if (!value("DIR")) return ParseResult::kError;
      if (v.empty()) return bad("a folder");
      cfg.outDir = v;
    } else if (a == "--log") {
      if (!value("FILE")) return ParseResult::kError;
      if (v.empty()) return bad("a file, or - for standard output");
      cfg.logPath = v;
      cfg.logGiven = true;
    } else if (a == "--max-log" || a == "--max-disk") {
      const char* form = "a size in bytes, or with K, M or G (64M, 1G)";
      if (!value(form)) return ParseResult::kError;
      uint64_t bytes = 0;
      if (!parseSize(v, bytes)) return bad(form);
      (a == "--max-log" ? cfg.maxLogBytes : cfg.printer.maxDisk) = bytes;
    } else if (a == "--max-label-dots") {
      const char* form = "a whole number of dots from 1 to 400000000 (width x height)";
      if (!value(form)) return ParseResult::kError;
      if (!parseBounded(v, 1, 400000000, n)) return bad(form);
      cfg.printer.maxLabelDots = static_cast<uint64_t>(n);
    } else if (a == "--max-sets") {
      const char* form = "a whole number from 1 to 1000";
      if (!value(form)) return ParseResult::kError;
      if (!parseBounded(v, 1, 1000, n)) return bad(form);
      cfg.printer.maxSetsPerPrint = static_cast<int>(n);
    } else if (a == "--dpi") {
      const char* form = "a whole number from 100 to 1200";
      if (!value(form)) return ParseResult::kError;
      if (!parseBounded(v, 100, 1200, n)) return bad(form);
      cfg.printer.dpi = static_cast<int>(n);
    } else if (a == "--status") {
      const char* form = "a byte, 0 to 255 or 0x00 to 0xff";
      if (!value(form)) return ParseResult::kError;
      if (!parseStatusByte(v, cfg.printer.status)) return bad(form);
    } else if (a == "--name" || a == "--serial-number") {
      const char* form = "a text of 1 to 200 bytes without control characters";
      if (!value(form)) return ParseResult::kError;
      bool ok = !v.empty() && v.size() <= 200;
      for (char c : v) ok = ok && static_cast<unsigned char>(c) >= 0x20;
      if (!ok) return bad(form);
      (a == "--name" ? cfg.printer.name : cfg.printer.serialNumber) = v;
    } else if (a == "--setting") {
      const char* form = "APP/SECTION/KEY=VALUE";
      if (!value(form)) return ParseResult::kError;
      size_t eq = v.find('=');
      std::string key = eq == std::string::npos ? v : v.substr(0, eq);
      size_t s1 = key.find('/');
      size_t s2 = s1 == std::string::npos ? s1 : key.find('/', s1 + 1);
      bool sensor = upperCase(key).rfind("SENSOR/", 0) == 0 && key.size() > 7 &&
                    key.find('/', 7) == std::string::npos;
      bool full = s2 != std::string::npos && s1 > 0 && s2 > s1 + 1 && s2 + 1 < key.size() &&
                  key.find('/', s2 + 1) == std::string::npos;
      if (eq == std::string::npos || !(full || sensor)) {
        return bad("APP/SECTION/KEY=VALUE or SENSOR/NAME=VALUE");
      }
      cfg.printer.settings[upperCase(key)] = v.substr(eq + 1);
    } else if (a == "--render") {
      if (!value("FILE")) return ParseResult::kError;
      cfg.renderFile = v;
    } else if (a == "-v" || a == "--verbose") {
      cfg.server.verbose = true;
    } else {
      error = "unknown option " + a;
      return ParseResult::kError;
    }
  }
  if (noTcp && listenGiven) {
    error = "--no-tcp and --listen contradict each other: give one";
    return ParseResult::kError;
  }
  cfg.server.tcp = !noTcp;
  if (!cfg.renderFile.empty()) {
    if (listenGiven || noTcp || cfg.server.serial || cfg.server.discovery || cfg.http) {
      error = "--render reads a file and serves nothing: leave out --listen, --no-tcp, --serial, "
              "--discovery and --http";
      return ParseResult::kError;
    }
    return ParseResult::kRun;
  }
  if (noTcp && !cfg.server.serial && !cfg.server.discovery) {
    error = "--no-tcp leaves nothing to print to: add --serial or --discovery, or drop --no-tcp";
    return ParseResult::kError;
  }
  if (cfg.http && cfg.server.tcp && cfg.httpHost == cfg.server.host &&
      cfg.httpPort == cfg.server.port && cfg.httpPort != 0) {
    error = "--http and --listen name the same port: give them different ones";
    return ParseResult::kError;
  }
  return ParseResult::kRun;
}

}  // namespace vprinter
