// The network transport: one TCP connection to the printer's address and
// port, and a diagnostic exchange that shows what the printer sends back.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "connection/connection_state.h"
#include "connection/network.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "platform/deadline.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

constexpr int kSocketTimeoutMs = 1000;
constexpr std::size_t kDiagnosticReceive = 500;
constexpr const char* kCaption = "Error Message";

ConnectionState& conn() { return connection(); }

}  // namespace

Socket connectPrinterSocket(const char* address, int port) {
  if (!address) {
    setLastError("the address is a null pointer");
    return kInvalidSocket;
  }
  os().netStartup();
  std::uint32_t addr = 0;
  if (!ipv4FromText(address, &addr)) {
    setLastError("\"" + std::string(address) +
                 "\" is not an IPv4 address such as 192.168.1.20 (host names are not looked up)");
    os().netCleanup();
    return kInvalidSocket;
  }
  Socket s = os().tcpSocket();
  if (s == kInvalidSocket) {
    setLastOsError("create a TCP socket", os().lastOsError());
    os().netCleanup();
    return kInvalidSocket;
  }
  auto port16 = static_cast<std::uint16_t>(static_cast<unsigned>(port) & 0xFFFFu);
  NetResult connected = os().tcpConnect(s, addr, port16);
  if (connected.result < 0) {
    const std::string where = "connect to " + std::string(address) + ":" + std::to_string(port16);
    if (connected.osError != 0)
      setLastOsError(where, connected.osError);
    else if (connected.error == kNetTimedOut)
      setLastError(where + ": no answer in time", 0);
    else
      setLastError(where + ": refused or unreachable", 0);
    os().closeSocket(s);
    os().netCleanup();
    return kInvalidSocket;
  }
  os().setSocketTimeouts(s, kSocketTimeoutMs, kSocketTimeoutMs);
  os().setNoDelay(s);
  return s;
}

namespace {

void showDiagnostic(const char* text) { os().message(text, kCaption, MessageIcon::Warning); }

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

int openethernet(const char* address, int port) {
  paloma::ApiLock lock;
  conn().network.replies->NetworkError = 0;
  Socket s = connectPrinterSocket(address, port);
  if (s == kInvalidSocket) return 0;
  ConnectionState& c = conn();
  // The new connection replaces the one held before, which is let go.
  if (c.socket != kInvalidSocket && c.socket != s) os().closeSocket(c.socket);
  c.socket = s;
  os().sleepMs(kNetworkSettlePauseMs);
  c.networkMode = 1;
  c.isOpen = 1;
  return 1;
}

int closeethernetport(int delay) {
  paloma::ApiLock lock;
  os().sleepMs(delay > 0 ? delay : 0);
  ConnectionState& c = conn();
  if (c.socket != kInvalidSocket) os().closeSocket(c.socket);
  c.socket = kInvalidSocket;
  c.networkMode = 0;
  return 1;
}

int Ethernetsend(const char* text) {
  paloma::ApiLock lock;
  if (!text) {
    noteNull("the text");
    return 0;
  }
  ReplyState& r = *conn().network.replies;
  r.clearReply();
  Socket s = conn().socket;
  writeAll(WriteTarget{TransportKind::Network, kInvalidHandle, s}, text, std::strlen(text));
  std::memset(r.NetworkReceiveBuffer, 0, ReplyState::kBufferSize);
  Deadline bound;
  NetResult got = os().recv(s, r.NetworkReceiveBuffer, kDiagnosticReceive);
  while (got.result > 0) {
    showDiagnostic(reinterpret_cast<const char*>(r.NetworkReceiveBuffer));
    std::memset(r.NetworkReceiveBuffer, 0, ReplyState::kBufferSize);
    if (bound.passed()) {
      // A printer that keeps talking is cut off after the bound.
      showDiagnostic("end");
      return 1;
    }
    got = os().recv(s, r.NetworkReceiveBuffer, kDiagnosticReceive);
  }
  if (got.result == 0) {
    showDiagnostic("Hi");
    // A console line: standard output unless the application's handler
    // routes it elsewhere.
    os().message("Connection Closed.", "Console", static_cast<MessageIcon>(PALOMA_ICON_CONSOLE));
    return 1;
  }
  char number[16];
  std::snprintf(number, sizeof number, "%d", static_cast<int>(got.result));
  showDiagnostic(number);
  showDiagnostic("end");
  return 1;
}

}  // extern "C"
