// The string reads: the caller's command, a line end and OUT "ENDLINE", then
// the reply read until the printer's "ENDLINE\r\n" comes. Each read gives up
// after kReplyBoundMs of reading, and then returns "-1".
#include <cstring>
#include <string_view>

#include "connection/connection_state.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "platform/deadline.h"
#include "query/readers.h"
#include "platform/api_lock.h"
#include "query/status.h"

namespace paloma {
namespace {

constexpr const char* kStringFailed = "-1";

ConnectionState& conn() { return connection(); }

// Only the bytes: each string read keeps a position of its own
// (SerialStringPosition, NetworkPosition, or the USB reads' ReplyPosition,
// which the USB request write resets).
void clearReplyBuffer(ReplyState& r) { std::memset(r.ReplyBuffer, 0, ReplyState::kBufferSize); }

void pause(int ms) { os().sleepMs(ms > 0 ? ms : 0); }

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

const char* comport_getstring(const char* command, int pause_ms) {
  paloma::ApiLock lock;
  if (!command) {
    noteNull("the command");
    return kStringFailed;
  }
  PrinterLink& port = conn().device;
  ReplyState& r = *port.replies;
  clearReplyBuffer(r);
  r.SerialStringPosition = 0;
  ComportSendData(command);
  ComportSendData("\r\n");
  ComportSendData(kMarkerRequest);
  pause(pause_ms);
  Deadline bound;
  for (;;) {
    StringStep step = ReadSerialString(r, port.handle);
    if (step == StringStep::Found) return r.StringResult;
    // A failed read ends the wait; so does a reply that fills the buffer
    // without the marker, which cannot be taken.
    const bool full =
        r.SerialStringPosition >= static_cast<std::int32_t>(ReplyState::kBufferSize);
    if (step == StringStep::Failed || full || bound.passed()) {
      if (step != StringStep::Failed) noteNoMarker(full);
      return kStringFailed;
    }
  }
}

const char* ethernet_getstring(const char* command, int pause_ms) {
  paloma::ApiLock lock;
  if (!command) {
    noteNull("the command");
    return kStringFailed;
  }
  PrinterLink& net = conn().network;
  ReplyState& r = *net.replies;
  clearReplyBuffer(r);
  WriteTarget t{TransportKind::Network, kInvalidHandle, net.socket};
  writeAll(t, command, std::strlen(command), /*more=*/true);
  writeAll(t, kCrlfNul.data(), kCrlfNul.size(), /*more=*/true);
  writeAll(t, kMarkerRequest, sizeof kMarkerRequest);  // with its NUL
  pause(pause_ms);
  Deadline bound;
  StringStep step = StringStep::NotYet;
  while (step == StringStep::NotYet) step = ReadNetworkString(r, net.socket, bound);
  if (step != StringStep::Failed && r.NetworkError) noteEarlierNetworkError();
  if (step == StringStep::Failed || r.NetworkError) return kStringFailed;
  return r.StringResult;
}

const char* usb_getstring(const char* command, int pause_ms) {
  paloma::ApiLock lock;
  if (!command) {
    noteNull("the command");
    return kStringFailed;
  }
  PrinterLink& device = conn().device;
  ReplyState& r = *device.replies;
  clearReplyBuffer(r);
  Handle h = device.handle;
  usbOverlappedWrite(r, h, command, static_cast<int>(std::strlen(command)));
  usbOverlappedWrite(r, h, kCrlf.data(), static_cast<int>(kCrlf.size()));
  usbOverlappedWrite(r, h, kMarkerRequest, static_cast<int>(sizeof kMarkerRequest - 1));
  pause(pause_ms);
  Deadline bound;
  return usbReadJudge(r, h, bound) ? r.StringResult : kStringFailed;
}

}  // extern "C"
