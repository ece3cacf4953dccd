#include "connection/connection_state.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>

#include "platform/last_error.h"

namespace paloma {

// The end bytes sit directly behind their buffers.
static_assert(offsetof(ReplyState, ReplyBufferEnd) ==
              offsetof(ReplyState, ReplyBuffer) + ReplyState::kBufferSize);
static_assert(offsetof(ReplyState, NetworkReceiveBufferEnd) ==
              offsetof(ReplyState, NetworkReceiveBuffer) + ReplyState::kBufferSize);

namespace {
ReplyState g_replies;
ConnectionState g_connection;
}  // namespace

void ReplyState::clearReply() {
  std::memset(ReplyBuffer, 0, sizeof ReplyBuffer);
  ReplyPosition = 0;
}

ConnectionState::ConnectionState() {
  for (PrinterLink* link : {&device, &network}) {
    link->replies = &g_replies;
    link->commandBuffer = commandBuffer;
  }
}

ModeFlag ConnectionState::flag(TransportKind kind) {
  return ModeFlag(kind == TransportKind::Network ? network : device, kind);
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

ReplyState& sharedReplies() { return g_replies; }

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
