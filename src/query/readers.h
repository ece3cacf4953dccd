// The readers that collect printer replies into a reply record, one family
// per transport, and the USB request write. Each reader fills the record its
// caller gives: the one of the link it reads for. Every wait here is bounded.
#pragma once

#include <cstddef>

#include "connection/printer_link.h"
#include "platform/deadline.h"
#include "platform/os.h"

namespace paloma {

// Longest wait for one USB packet.
inline constexpr int kUsbReadTimeoutMs = 2000;

// The USB request write: clears r's ReplyBuffer and ReplyPosition, then
// writes the request with an event of its own. `length` if all was written,
// else 0.
int usbOverlappedWrite(ReplyState& r, Handle device, const void* data, int length);

// Serial readers on a port's handle.
void ReadSerialStatus(ReplyState& r, Handle h);
void ReadSerialReply(ReplyState& r, Handle h);
// How one step of a string read ended.
enum class StringStep { Found, NotYet, Failed };
// One step of comport_getstring: Found when the marker was found, Failed
// when the read itself failed (no port, a port gone), else NotYet.
StringStep ReadSerialString(ReplyState& r, Handle h);

// Network readers. Return true on success; on a receive error they set
// NetworkError and return false.
bool ReadNetworkStatus(ReplyState& r, Socket s);
bool ReadNetworkReply(ReplyState& r, Socket s);
bool ReadNetworkSetting(ReplyState& r, Socket s);
// One step of ethernet_getstring, ending (Failed) when `bound` has passed.
StringStep ReadNetworkString(ReplyState& r, Socket s, const Deadline& bound);

// USB readers on a device handle: true means call again.
bool usbReadStatus(ReplyState& r, Handle h);
bool usbReadDataToBuffer(ReplyState& r, Handle h);
bool usbReadData(ReplyState& r, Handle h);
// One packet of a setting reply with the given pauses before and after the
// read: CR and LF dropped, STX ends the reply (false), other bytes appended
// at ReplyPosition (every packet's bytes are kept). usbReadData pauses 50 ms
// before; a slot's reader 100 ms before and after.
bool usbReadSettingPacket(ReplyState& r, Handle h, int pauseBeforeMs, int pauseAfterMs);
// The USB string read: packets joined until the marker comes (true, the text
// in StringResult) or `bound` passes (false).
bool usbReadJudge(ReplyState& r, Handle h, const Deadline& bound);

// Calls a USB reader on `h` while it returns true, but no longer than
// kReplyBoundMs in all: the loop every USB query runs after its request.
void usbReadWhile(bool (*reader)(ReplyState&, Handle), ReplyState& r, Handle h);

// Records that a string reply did not end in its marker within the bound, or
// (`full`) filled ReplyBuffer without it.
void noteNoMarker(bool full);

// The line that asks the printer to end a string reply with its marker.
inline constexpr char kMarkerRequest[] = "OUT \"ENDLINE\"\r\n";

}  // namespace paloma
