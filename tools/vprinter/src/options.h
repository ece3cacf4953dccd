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

// A status byte: 0-255, or 0x00-0xff.
bool parseStatusByte(const std::string& text, uint8_t& value);

}  // namespace vprinter

#endif
