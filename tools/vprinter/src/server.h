// The printer's endpoints: a TCP listener served one connection after
// another, a pseudo-terminal standing in for a serial port, and a responder to
// the discovery probe. One thread polls them all.
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
  int idleTimeoutMs = 10000;       // a connection silent this long is closed
  int sendTimeoutMs = 2000;        // a reply not taken within this is dropped
  ParserLimits limits;
};

// Runs until `stop` is set. `announce` receives one line per endpoint when it
// is ready ("listening on 127.0.0.1:9100", "serial port /dev/pts/3",
// "discovery on udp port 22368"). Returns 0, or 1 when an endpoint could not be
// set up (the reason goes to `announce` as "error: ...").
int runServer(Printer& printer, const ServerOptions& options, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& announce);

// The reply to a discovery probe: longer than the probe's 32 bytes.
std::string discoveryReply(const std::string& name, int tcpPort);

}  // namespace vprinter

#endif
