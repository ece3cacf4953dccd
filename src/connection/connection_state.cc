#include "connection/connection_state.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/last_error.h"

namespace paloma {

namespace {
ConnectionState g_connection;
}

std::int32_t& ConnectionState::flag(TransportKind kind) {
  switch (kind) {
    case TransportKind::Spooler: return spoolerMode;
    case TransportKind::LptFile: return lptMode;
    case TransportKind::UsbDevice: return usbMode;
    case TransportKind::Serial: return serialMode;
    case TransportKind::Network: return networkMode;
  }
  return networkMode;
}

bool ConnectionState::setPortName(std::string_view name) {
  if (name.size() >= kPortNameSize) return false;
  std::memset(portName, 0, sizeof portName);
  std::memcpy(portName, name.data(), name.size());
  return true;
}

void releaseHandle(ConnectionState& c) {
  if (c.handle == kInvalidHandle) return;
  if (c.spoolerMode == 1) {
    os().spoolerEndPage(c.handle);
    os().spoolerEndDoc(c.handle);
    os().spoolerClose(c.handle);
  } else if (c.lptMode == 1 || c.usbMode == 1 || c.serialMode == 1) {
    if (c.serialMode == 1) os().sleepMs(100);
    os().closeHandle(c.handle);
  } else {
    return;
  }
  c.spoolerMode = c.lptMode = c.usbMode = c.serialMode = 0;
  c.handle = kInvalidHandle;
}

ConnectionState& connection() { return g_connection; }

Handle openPath(std::string_view path, const OpenMode& mode) {
  Handle h = os().openFile(path, mode);
  if (h == kInvalidHandle) {
    const int error = os().lastOsError();
    // The device actually tried, beside the name it was given as.
    const std::string tried = os().deviceFor(path);
    setLastOsError("open \"" + tried + "\"" +
                       (tried != path ? " (for \"" + std::string(path) + "\")" : std::string()),
                   error);
  }
  return h;
}

void resetConnection() {
  g_connection.~ConnectionState();
  new (&g_connection) ConnectionState();
}

}  // namespace paloma
