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
#include "query/reply_state.h"
#include "platform/api_lock.h"
#include "query/status.h"

namespace paloma {
namespace {

constexpr const char* kStringFailed = "-1";

ReplyState& rs() { return replies(); }
ConnectionState& conn() { return connection(); }

// Only the bytes: each string read keeps a position of its own
// (SerialStringPosition, NetworkPosition, or the USB reads' ReplyPosition,
// which the USB request write resets).
void clearReplyBuffer() { std::memset(rs().ReplyBuffer, 0, ReplyState::kBufferSize); }

void pause(int ms) { os().sleepMs(ms > 0 ? ms : 0); }

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

const char* comport_getstring(const char* command, int pause_ms) {
  paloma::ApiLock lock;
  if (!command) return kStringFailed;
  clearReplyBuffer();
  rs().SerialStringPosition = 0;
  ComportSendData(command);
  ComportSendData("\r\n");
  ComportSendData(kMarkerRequest);
  pause(pause_ms);
  Deadline bound;
  for (;;) {
    StringStep step = ReadSerialString(conn().handle);
    if (step == StringStep::Found) return rs().StringResult;
    // A failed read ends the wait; so does a reply that fills the buffer
    // without the marker, which cannot be taken.
    const bool full =
        rs().SerialStringPosition >= static_cast<std::int32_t>(ReplyState::kBufferSize);
    if (step == StringStep::Failed || full || bound.passed()) {
      if (step != StringStep::Failed) noteNoMarker(full);
      return kStringFailed;
    }
  }
}

const char* ethernet_getstring(const char* command, int pause_ms) {
  paloma::ApiLock lock;
  if (!command) return kStringFailed;
  clearReplyBuffer();
  WriteTarget t{TransportKind::Network, kInvalidHandle, conn().socket};
  writeAll(t, command, std::strlen(command), /*more=*/true);
  writeAll(t, kCrlfNul.data(), kCrlfNul.size(), /*more=*/true);
  writeAll(t, kMarkerRequest, sizeof kMarkerRequest);  // with its NUL
  pause(pause_ms);
  Deadline bound;
  StringStep step = StringStep::NotYet;
  while (step == StringStep::NotYet) step = ReadNetworkString(conn().socket, bound);
  if (step != StringStep::Failed && rs().NetworkError) noteEarlierNetworkError();
  if (step == StringStep::Failed || rs().NetworkError) return kStringFailed;
  return rs().StringResult;
}

const char* usb_getstring(const char* command, int pause_ms) {
  paloma::ApiLock lock;
  if (!command) return kStringFailed;
  clearReplyBuffer();
  Handle h = conn().handle;
  usbOverlappedWrite(h, command, static_cast<int>(std::strlen(command)));
  usbOverlappedWrite(h, kCrlf.data(), static_cast<int>(kCrlf.size()));
  usbOverlappedWrite(h, kMarkerRequest, static_cast<int>(sizeof kMarkerRequest - 1));
  pause(pause_ms);
  Deadline bound;
  return usbReadJudge(h, bound) ? rs().StringResult : kStringFailed;
}

}  // extern "C"
