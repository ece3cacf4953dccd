// Where a command goes: the URI forms the tool accepts, parsed into the name
// or address the library's openers take.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace paloma_cli {

enum class TargetKind {
  Tcp,          // tcp://HOST[:PORT]
  Serial,       // serial:/dev/ttyUSB0[?baud=N]
  Usb,          // usb:
  Queue,        // queue:NAME, a printer of the local spooler
  ServerQueue,  // queue://SERVER[:PORT]/NAME, a printer on a print server
  Device,       // /dev/... as openport takes it
};

// How status and information queries reach the printer.
enum class QueryPath { Network, Serial, Usb, None };

struct Target {
  TargetKind kind = TargetKind::Tcp;
  std::string host;   // Tcp, ServerQueue
  int port = 0;       // Tcp (default 9100), ServerQueue (0: the server's default)
  std::string path;   // Serial, Device
  std::string baud;   // Serial: empty keeps the port's default (9600)
  std::string queue;  // Queue, ServerQueue
};

// The accepted forms, one a line, for messages and help.
extern const char* const kTargetForms;

// Parses a URI; on failure returns nothing and says why in `why`.
std::optional<Target> parseTarget(std::string_view uri, std::string* why);

// The name openport takes for a spooler, server or device target.
std::string openportName(const Target& t);

QueryPath queryPathOf(const Target& t);

// The URI written back in its canonical form (defaults filled in).
std::string describe(const Target& t);

}  // namespace paloma_cli
