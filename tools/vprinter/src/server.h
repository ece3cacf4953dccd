// The printer's endpoints: a TCP listener whose connections are served at the
// same time, each on a thread of its own; a pseudo-terminal standing in for a
// serial port; and a responder to the discovery probe.
#ifndef PALOMA_VPRINTER_SERVER_H
#define PALOMA_VPRINTER_SERVER_H

#include <atomic>
#include <functional>
#include <string>

#include "printer.h"

namespace vprinter {

struct ServerOptions {
  bool tcp = true;
  std::string host = "127.0.0.1";
  int port = 9100;                 // 0: any free port
  bool serial = false;
  bool discovery = false;
  int discoveryPort = 22368;
  int idleTimeoutMs = 0;           // a connection silent this long is closed; 0: never
  int sendTimeoutMs = 2000;        // a reply not taken within this closes the connection
  int maxConnections = 64;         // connections served at once; the next is closed
  bool verbose = false;            // announce each connection opened and closed
  int httpPort = 0;                // told in the discovery answer when not 0
  ParserLimits limits;
};

// Runs until `stop` is set. `announce` receives one line per endpoint when it
// is ready ("listening on 127.0.0.1:9100", "serial port /dev/pts/3",
// "discovery on udp port 22368"), and with `verbose` one per connection. It is
// called from several threads, one call at a time. Returns 0, 1 when an
// endpoint could not be set up (the reason goes to `announce` as "error: ..."),
// or 3 when a connection was still busy (rendering) `stopWithinMs` after the
// stop: its thread still uses the printer, so the caller must end the process
// without destroying it.
int runServer(Printer& printer, const ServerOptions& options, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& announce, int stopWithinMs = 700);

// The answer to a discovery probe, at least 64 bytes and at most 512:
// "paloma-vprinter;name=NAME;tcp=PORT;" then "http=PORT;" when there is a
// page, padded with NUL bytes. In NAME the bytes ';', '=', '%' and those
// below 0x20 are written %XX; the written name is cut to 200 bytes.
std::string discoveryReply(const std::string& name, int tcpPort, int httpPort = 0);

}  // namespace vprinter

#endif
