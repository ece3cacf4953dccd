// One printer's link as a handle keeps it: the connection every printer link
// has (its transport, handle or socket: the PrinterLink the legacy functions
// use too), and what only a handle holds (its line end, reply bytes, bounds
// and address), with no state shared with any other link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "connection/printer_link.h"
#include "handle/uri.h"
#include "paloma.h"
#include "platform/os.h"

namespace paloma {

struct LinkBounds {
  int replyMs = 2000;     // a query's wait for its answer
  int connectMs = 3000;   // a TCP connect
  int stallMs = 10000;    // a send with no byte taken; close's wait for the printer
};

// How an answer ends.
enum class ReplyEnd {
  Stx,    // the printer's STX (0x02) after the text
  Frame,  // STX, the text, ETX
  Cr,     // the first CR after some text
};

// A path opened as a file (file:PATH) is the LptFile transport, as a printer
// port is for the legacy functions: one handle written with plain writes.
//
// The PrinterLink parts the handle leaves unused, and why they cannot serve it
// without changing what a handle does:
// - networkLineEnd is what the legacy functions end a command with on the
//   network ("\r\n\0"); a handle ends every command with lineEnd below on
//   every transport, so one field would not say both;
// - replies points at the reply record the single connection and the slots
//   share; a handle's answers stay in its own `reply`, so that no handle sees
//   another's answer or error and none waits on the process-wide lock;
// - commandBuffer is the legacy shared command buffer; a handle formats each
//   command into memory of its own call.
// All three stay as PrinterLink's defaults (kCrlfNul, null, null).
struct Link : PrinterLink {
  std::string lineEnd = "\r\n";
  LinkBounds bounds;
  PrinterUri uri;
  // Set after a query went unanswered: bytes that arrive late belong to it
  // and are dropped before the next request.
  bool stale = false;
  // The answer of the current query; sized once when the link is made.
  std::vector<unsigned char> reply;
};

inline constexpr std::size_t kLinkReplyCapacity = 65536;

// Opens the printer `u` names into `link` (which must be unconnected).
paloma_result linkOpen(Link& link, const PrinterUri& u);

// Ends the connection: network links shut down their sending side and wait
// (at most the stall bound) until the printer has taken what was sent. The
// link is unconnected afterwards whatever the result.
paloma_result linkClose(Link& link);

// Writes every byte, or fails with the reason recorded.
paloma_result linkWrite(Link& link, const void* data, std::size_t n);

// The status request and its one-byte answer.
paloma_result linkStatus(Link& link, std::uint8_t* byte);

// Sends `request` and collects the answer up to its end into link.reply,
// waiting as it arrives at most the reply bound; `text` gets the answer
// without framing, line ends or blanks at either end.
paloma_result linkQuery(Link& link, std::string_view request, ReplyEnd end,
                        std::string_view* text);

// Gives a serial link its port's time-outs: reads return what has arrived,
// a write may take the stall bound (and 10 ms a byte).
void applySerialTimeouts(const Link& link);

// Records `text` as the calling thread's last error and gives `r`.
paloma_result fail(paloma_result r, std::string text, int osError = 0);

}  // namespace paloma

// A handle: one link and the lock that serialises the calls on it.
struct paloma_printer {
  std::mutex lock;
  paloma::Link link;
};
