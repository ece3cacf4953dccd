// The status byte the printer sends in answer to ESC "!?" and the texts the
// library maps it to.
#pragma once

#include <string_view>

#include "connection/printer_link.h"
#include "platform/os.h"

namespace paloma {

// What a byte outside the table reads as: "-2" on the serial port,
// "other error" on the network and USB (and on the slots' twins of those).
enum class StatusFamily { SerialPort, NetworkOrUsb };

// "00".."80" for the fifteen known bytes; otherwise the family's text.
// The result is a static text.
const char* statusText(unsigned char byte, StatusFamily family);

// The status request: ESC "!?" CR LF.
inline constexpr char kStatusRequest[] = "\x1b!?\r\n";
// Sends `request` on the socket as one 200-byte block, the request and then
// NUL bytes, as the network takes every status and information request; a
// short send is continued.
// True when the whole block was sent.
bool sendRequestBlock(Socket s, std::string_view request);

// The network status query on a link's socket: the 200-byte request block,
// the status read into the link's reply record, "-1" while its NetworkError
// is set, else the byte's text (outside the table: "other error").
const char* networkStatusOn(PrinterLink& link);

// The USB status query on an open device handle, read into `r`: the request
// by the USB request write, one status packet, the byte's text ("00" when
// nothing came).
const char* usbStatusOn(ReplyState& r, Handle device);

// Records that a network query answered "-1" for an error an earlier read
// left recorded, though its own read went well.
void noteEarlierNetworkError();

}  // namespace paloma
