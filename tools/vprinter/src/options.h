// The program's command line: every value is checked, and a malformed one is
// refused with a message naming the option and the form it takes.
#ifndef PALOMA_VPRINTER_OPTIONS_H
#define PALOMA_VPRINTER_OPTIONS_H

#include <cstdint>
#include <string>

#include "printer.h"
#include "server.h"

namespace vprinter {

struct Config {
  PrinterOptions printer;
  ServerOptions server;
  std::string outDir = "vprinter-out";
  std::string logPath;
  bool logGiven = false;
  uint64_t maxLogBytes = 64ull << 20;
  bool http = false;
  std::string httpHost = "127.0.0.1";
  int httpPort = 0;
  std::string renderFile;
};

enum class ParseResult { kRun, kHelp, kVersion, kError };

// Fills `config` from argv; on kError, `error` says what is wrong and how to
// write it.
ParseResult parseOptions(int argc, const char* const* argv, Config& config, std::string& error);

// The --help text; its first line says what the program is.
std::string usageText();

// "[HOST:]PORT" with an IPv4 HOST (default `host` unchanged) and PORT 0-65535.
bool parseEndpoint(const std::string& text, std::string& host, int& port);
// A whole number from `min` to `max`, digits only.
bool parseBounded(const std::string& text, long long min, long long max, long long& value);
// A status byte: 0-255, or 0x00-0xff.
bool parseStatusByte(const std::string& text, uint8_t& value);
// A size in bytes: digits with an optional K, M or G (powers of 1024).
bool parseSize(const std::string& text, uint64_t& bytes);

}  // namespace vprinter

#endif
