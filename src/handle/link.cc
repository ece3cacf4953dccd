// Opening, writing, asking and closing one printer's link. Nothing here
// touches the single connection, the slots or the process-wide lock: a link
// is reached only through its own handle.
#include "handle/link.h"

#include <cstring>
#include <string>
#include <vector>

#include "connection/usb_search.h"
#include "connection/write_path.h"
#include "platform/deadline.h"
#include "platform/last_error.h"

namespace paloma {
namespace {

constexpr unsigned char kStx = 0x02;
constexpr unsigned char kEtx = 0x03;
constexpr unsigned char kCr = 0x0D;
constexpr std::size_t kUsbPacket = 64;
constexpr std::size_t kSerialPiece = 512;
constexpr int kStaleDrainReads = 64;

// ---- failures --------------------------------------------------------------

paloma_result failOpen(const std::string& what, int osError) {
  setLastOsError(what, osError);
  return osError != 0 && os().isBusyError(osError) ? PALOMA_ERROR_BUSY : PALOMA_ERROR_OS;
}

// A failed send or receive on the network, its reason recorded.
paloma_result netFailure(const NetResult& r, std::string_view what) {
  if (r.error == kNetConnReset || (r.result == 0 && r.error == kNetOk)) {
    setLastError("the printer closed the connection", r.osError);
    return PALOMA_ERROR_CLOSED;
  }
  noteNetworkFailure(r, what);
  return r.error == kNetTimedOut ? PALOMA_ERROR_TIMEOUT : PALOMA_ERROR_OS;
}

paloma_result ioFailure(const IoResult& r, std::string_view what, int stallMs) {
  if (r.ok || r.timedOut) {
    setLastError(std::string(what) + ": the printer took no bytes within " +
                     std::to_string(stallMs) + " ms",
                 r.error);
    return PALOMA_ERROR_TIMEOUT;
  }
  setLastOsError(what, r.error);
  return PALOMA_ERROR_OS;
}

// ---- opening ---------------------------------------------------------------

paloma_result openTcp(Link& link, const PrinterUri& u) {
  os().netStartup();
  std::uint32_t addr = 0;
  if (!os().resolveIPv4(u.host, &addr)) {
    os().netCleanup();
    return PALOMA_ERROR_OS;  // the resolver recorded why
  }
  Socket s = os().tcpSocket();
  if (s == kInvalidSocket) {
    const int e = os().lastOsError();
    os().netCleanup();
    return failOpen("create a TCP socket", e);
  }
  NetResult c = os().tcpConnectWithin(s, addr, static_cast<std::uint16_t>(u.port),
                                      link.bounds.connectMs);
  if (c.result < 0) {
    os().closeSocket(s);
    os().netCleanup();
    const std::string where = "connect to " + u.host + ":" + std::to_string(u.port);
    if (c.error == kNetTimedOut)
      return fail(PALOMA_ERROR_TIMEOUT,
                  where + ": no answer within " + std::to_string(link.bounds.connectMs) + " ms",
                  c.osError);
    if (c.osError != 0) return failOpen(where, c.osError);
    return fail(PALOMA_ERROR_OS, where + ": refused or unreachable");
  }
  os().setSocketTimeouts(s, link.bounds.stallMs, link.bounds.replyMs);
  os().setNoDelay(s);
  link.socket = s;
  link.transport = TransportKind::Network;
  return PALOMA_OK;
}

// Opens an existing terminal for overlapped reads and writes, applies the
// settings the address asks for, and makes reads return what has arrived.
paloma_result openSerial(Link& link, const PrinterUri& u) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenTerminal, true};
  Handle h = os().openFile(u.path, mode);
  if (h == kInvalidHandle) return failOpen("open \"" + u.path + "\"", os().lastOsError());
  if (u.baud || u.parity >= 0 || u.dataBits || u.stopBits) {
    SerialSettings s;
    bool ok = os().serialGetState(h, &s);
    if (ok) {
      if (u.baud) s.baudRate = u.baud;
      if (u.parity >= 0) {
        s.parity = static_cast<std::uint8_t>(u.parity);
        s.parityCheck = u.parity != 0;
      }
      if (u.dataBits) s.byteSize = static_cast<std::uint8_t>(u.dataBits);
      if (u.stopBits) s.stopBits = u.stopBits == 2 ? 2 : 0;
      ok = os().serialSetState(h, s);
    }
    if (!ok) {
      const int e = os().lastOsError();
      os().closeHandle(h);
      return failOpen("set the line settings of \"" + u.path + "\"", e);
    }
  }
  os().serialPurge(h, kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
  link.handle = h;
  link.transport = TransportKind::Serial;
  applySerialTimeouts(link);
  return PALOMA_OK;
}

// Texts of the serial numbers seen, for a refusal: each quoted, at most a
// dozen, and how many printers had none to tell.
std::string serialsSeen(const std::vector<std::string>& serials, std::size_t without) {
  constexpr std::size_t kShown = 12;
  std::string list;
  for (std::size_t i = 0; i < serials.size() && i < kShown; ++i)
    list += (i ? ", \"" : "\"") + serials[i] + "\"";
  if (serials.size() > kShown) list += " and " + std::to_string(serials.size() - kShown) + " more";
  if (without > 0) {
    if (!list.empty()) list += "; ";
    list += std::to_string(without) + (without == 1 ? " printer" : " printers") +
            " without one that could be read";
  }
  return list;
}

// Equal but for the case of ASCII letters (whatever the process's locale).
bool sameIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// The bus places of interface paths that carry one ("1-1.4"), for a refusal.
std::string placesOf(const std::vector<std::string>& paths) {
  std::string list;
  for (const std::string& p : paths) {
    auto first = p.find('#');
    auto second = first == std::string::npos ? first : p.find('#', first + 1);
    auto third = second == std::string::npos ? second : p.find('#', second + 1);
    std::string location;
    if (third == std::string::npos ||
        !usbLocationFromText(std::string_view(p).substr(second + 1, third - second - 1),
                             &location))
      continue;
    list += (list.empty() ? "" : ", ") + usbPlaceText(location);
  }
  return list;
}

// Of the maker's printers, the one whose serial number is `serial`: an exact
// match, else one that differs only in the letters' case (a system may
// report the number in capitals). None or more than one is refused.
paloma_result pickBySerial(const std::vector<std::string>& paths, const std::string& serial,
                           std::string* chosen) {
  std::vector<std::string> exact, caseless, seen;
  std::size_t without = 0;
  for (const std::string& p : paths) {
    std::string reported;
    if (!os().usbSerialNumber(p, &reported)) {
      ++without;
      continue;
    }
    seen.push_back(reported);
    if (reported == serial) exact.push_back(p);
    else if (sameIgnoringCase(reported, serial)) caseless.push_back(p);
  }
  const std::vector<std::string>& matches = exact.empty() ? caseless : exact;
  if (matches.size() == 1) {
    *chosen = matches.front();
    return PALOMA_OK;
  }
  if (paths.empty())
    return fail(PALOMA_ERROR_OS, "no USB printer with serial number \"" + serial +
                                     "\": no USB printer of the maker is connected");
  if (matches.empty())
    return fail(PALOMA_ERROR_OS, "no USB printer of the maker has serial number \"" + serial +
                                     "\"; serial numbers seen: " + serialsSeen(seen, without));
  const std::string places = placesOf(matches);
  return fail(PALOMA_ERROR_OS,
              std::to_string(matches.size()) + " USB printers of the maker have serial number \"" +
                  serial + "\", so it names none of them" +
                  (places.empty() ? std::string()
                                  : ": pick one by its bus place instead (" + places + ")"));
}

// The maker's USB printer: the last one listed (as the single connection
// takes it), the one at the address's bus place, or the one with the
// address's serial number.
paloma_result openUsb(Link& link, const PrinterUri& u) {
  std::vector<std::string> paths;
  if (!os().usbInterfaces(&paths))
    return fail(PALOMA_ERROR_OS, "the list of USB devices cannot be had");
  std::vector<std::string> maker;
  for (const std::string& p : paths) {
    if (!usbPathMatches(p.c_str())) continue;
    if (!u.location.empty() && p.find("#" + u.location + "#") == std::string::npos) continue;
    maker.push_back(p);
  }
  std::string chosen;
  if (!u.serial.empty()) {
    paloma_result r = pickBySerial(maker, u.serial, &chosen);
    if (r != PALOMA_OK) return r;
  } else if (!maker.empty()) {
    chosen = maker.back();
  }
  if (chosen.empty()) {
    if (u.location.empty()) return fail(PALOMA_ERROR_OS, "no USB printer of the maker is connected");
    return fail(PALOMA_ERROR_OS, "no USB printer of the maker at " + usbPlaceText(u.location));
  }
  Handle h = os().openFile(chosen, kUsbQueryOpenMode);
  if (h == kInvalidHandle) return failOpen("open the USB printer", os().lastOsError());
  link.handle = h;
  link.transport = TransportKind::UsbDevice;
  return PALOMA_OK;
}

paloma_result openSpooler(Link& link, const PrinterUri& u) {
  const std::string name = spoolerNameOf(u);
  Handle h = kInvalidHandle;
  if (!os().spoolerOpen(name, &h)) {
    if (u.kind == UriKind::ServerQueue)
      return fail(PALOMA_ERROR_OS, "the print server has no printer \"" + u.queue +
                                       "\", or it does not answer");
    return fail(PALOMA_ERROR_OS, "no printer queue named \"" + name + "\"");
  }
  os().spoolerStartDoc(h, "Printing...");
  os().spoolerStartPage(h);
  link.handle = h;
  link.transport = TransportKind::Spooler;
  return PALOMA_OK;
}

paloma_result openFileLink(Link& link, const PrinterUri& u) {
  OpenMode mode{kAccessWrite, kShareWrite, Disposition::CreateAlways, false};
  Handle h = os().openFile(u.path, mode);
  if (h == kInvalidHandle) return failOpen("open \"" + u.path + "\"", os().lastOsError());
  link.handle = h;
  link.transport = TransportKind::LptFile;
  return PALOMA_OK;
}

// ---- reading ---------------------------------------------------------------

// One read of what the printer sent, waiting at most `waitMs` for the first
// byte. Returns the count (0 when nothing came in time), or a failure.
paloma_result readSome(Link& link, unsigned char* buf, std::size_t cap, int waitMs,
                       std::size_t* got) {
  *got = 0;
  if (link.transport == TransportKind::Network) {
    os().setSocketTimeouts(link.socket, link.bounds.stallMs, waitMs > 0 ? waitMs : 1);
    NetResult r = os().recv(link.socket, buf, cap);
    if (r.result > 0) {
      *got = static_cast<std::size_t>(r.result);
      return PALOMA_OK;
    }
    if (r.result < 0 && (r.error == kNetTimedOut || r.error == kNetWouldBlock)) return PALOMA_OK;
    return netFailure(r, "receive from the printer");
  }
  const bool usb = link.transport == TransportKind::UsbDevice;
  IoResult r = os().readFile(link.handle, buf, usb && cap > kUsbPacket ? kUsbPacket : cap,
                             ReadWait::AtMostMs, waitMs);
  if (!r.ok) {
    setLastOsError(usb ? "read from the USB printer" : "read from the serial port", r.error);
    return PALOMA_ERROR_OS;
  }
  *got = r.timedOut ? 0 : r.count;
  return PALOMA_OK;
}

// Drops what arrived after an unanswered query, so that the next answer is
// not taken from it.
void dropStale(Link& link) {
  if (!link.stale) return;
  link.stale = false;
  unsigned char scrap[kUsbPacket];
  for (int i = 0; i < kStaleDrainReads; ++i) {
    std::size_t got = 0;
    if (readSome(link, scrap, sizeof scrap, 1, &got) != PALOMA_OK || got == 0) return;
  }
}

bool queryable(const Link& link) {
  return link.transport == TransportKind::Network || link.transport == TransportKind::Serial ||
         link.transport == TransportKind::UsbDevice;
}

paloma_result refuseQuery(const Link& link) {
  const char* what = link.transport == TransportKind::Spooler ? "a print queue" : "a printer file";
  return fail(PALOMA_ERROR_UNSUPPORTED,
              std::string("the printer cannot answer over ") + what +
                  ": open it over the network, a serial port or USB to ask it");
}

paloma_result noReply(Link& link) {
  link.stale = true;
  return fail(PALOMA_ERROR_NO_REPLY,
              "no reply within " + std::to_string(link.bounds.replyMs) + " ms");
}

// Where the answer ends in reply[0..n), and where its text lies; false
// while it is not complete.
bool answerComplete(const unsigned char* b, std::size_t n, ReplyEnd end, std::size_t* from,
                    std::size_t* to) {
  switch (end) {
    case ReplyEnd::Stx: {
      const void* stx = std::memchr(b, kStx, n);
      if (!stx) return false;
      *from = 0;
      *to = static_cast<std::size_t>(static_cast<const unsigned char*>(stx) - b);
      return true;
    }
    case ReplyEnd::Frame: {
      const void* stx = std::memchr(b, kStx, n);
      if (!stx) return false;
      std::size_t start = static_cast<std::size_t>(static_cast<const unsigned char*>(stx) - b) + 1;
      const void* etx = std::memchr(b + start, kEtx, n - start);
      if (!etx) return false;
      *from = start;
      *to = static_cast<std::size_t>(static_cast<const unsigned char*>(etx) - b);
      return true;
    }
    case ReplyEnd::Cr: {
      // Line ends before the text are the end of an earlier line.
      std::size_t i = 0;
      while (i < n && (b[i] == kCr || b[i] == '\n')) ++i;
      const void* cr = std::memchr(b + i, kCr, n - i);
      if (!cr) return false;
      *from = i;
      *to = static_cast<std::size_t>(static_cast<const unsigned char*>(cr) - b);
      return true;
    }
  }
  return false;
}

bool isBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || c == kStx || c == kEtx;
}

}  // namespace

void applySerialTimeouts(const Link& link) {
  SerialTimeouts t;
  t.readInterval = 0xFFFFFFFFu;  // reads return what has arrived; queries bound their own waits
  t.writeTotalMultiplier = 10;
  t.writeTotalConstant = static_cast<std::uint32_t>(link.bounds.stallMs);
  os().serialSetTimeouts(link.handle, t);
}

paloma_result fail(paloma_result r, std::string text, int osError) {
  setLastError(std::move(text), osError);
  return r;
}

paloma_result linkOpen(Link& link, const PrinterUri& u) {
  link.uri = u;
  link.stale = false;
  if (link.reply.size() != kLinkReplyCapacity) link.reply.assign(kLinkReplyCapacity, 0);
  switch (u.kind) {
    case UriKind::Tcp: return openTcp(link, u);
    case UriKind::Serial: return openSerial(link, u);
    case UriKind::Usb: return openUsb(link, u);
    case UriKind::Queue:
    case UriKind::ServerQueue: return openSpooler(link, u);
    case UriKind::File: return openFileLink(link, u);
  }
  return fail(PALOMA_ERROR_ARGUMENT, "unknown printer address");
}

paloma_result linkClose(Link& link) {
  paloma_result result = PALOMA_OK;
  if (link.transport) switch (*link.transport) {
    case TransportKind::Network: {
      // The end of the stream follows the last byte; the printer has taken
      // everything once the system holds nothing unacknowledged.
      Deadline bound(link.bounds.stallMs);
      if (os().shutdownSend(link.socket)) {
        // Where the system cannot count what is unacknowledged, it delivers
        // the rest after the close by itself (a graceful close).
        long left = os().unsentBytes(link.socket);
        while (left > 0 && !bound.passed()) {
          os().sleepMs(2);
          left = os().unsentBytes(link.socket);
        }
        if (left > 0)
          result = fail(PALOMA_ERROR_TIMEOUT,
                        "the printer had not taken " + std::to_string(left) +
                            " bytes sent when the connection was closed");
      }
      os().closeSocket(link.socket);
      os().netCleanup();
      break;
    }
    case TransportKind::Spooler:
      os().spoolerEndPage(link.handle);
      os().spoolerEndDoc(link.handle);
      os().spoolerClose(link.handle);
      break;
    case TransportKind::Serial:
    case TransportKind::UsbDevice:
    case TransportKind::LptFile:
      os().closeHandle(link.handle);
      break;
  }
  link.transport.reset();
  link.handle = kInvalidHandle;
  link.socket = kInvalidSocket;
  return result;
}

paloma_result linkWrite(Link& link, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    if (!link.transport) return fail(PALOMA_ERROR_NOT_CONNECTED, "the printer is not connected");
    switch (*link.transport) {
      case TransportKind::Network: {
        NetResult r = os().send(link.socket, p + done, n - done, false);
        if (r.result <= 0) return netFailure(r, "send to the printer");
        done += static_cast<std::size_t>(r.result);
        break;
      }
      case TransportKind::Serial:
      case TransportKind::UsbDevice: {
        Event ev = os().createEvent();
        if (ev == kInvalidEvent) {
          setLastOsError("create an event for the write", os().lastOsError());
          return PALOMA_ERROR_OS;
        }
        IoResult r = os().writeOverlapped(link.handle, p + done, n - done, ev);
        os().closeEvent(ev);
        if (!r.ok || r.count == 0)
          return ioFailure(r,
                           link.transport == TransportKind::UsbDevice ? "write to the USB printer"
                                                                      : "write to the serial port",
                           link.bounds.stallMs);
        done += r.count;
        break;
      }
      case TransportKind::Spooler:
      case TransportKind::LptFile: {
        IoResult r = link.transport == TransportKind::Spooler
                         ? os().spoolerWrite(link.handle, p + done, n - done)
                         : os().writeFile(link.handle, p + done, n - done);
        if (!r.ok || r.count == 0)
          return ioFailure(r,
                           link.transport == TransportKind::Spooler ? "write to the print queue"
                                                                    : "write to the printer file",
                           link.bounds.stallMs);
        done += r.count;
        break;
      }
    }
  }
  return PALOMA_OK;
}

paloma_result linkStatus(Link& link, std::uint8_t* byte) {
  if (!queryable(link)) return refuseQuery(link);
  dropStale(link);
  static constexpr char kRequest[] = "\x1b!?\r\n";
  paloma_result r = linkWrite(link, kRequest, sizeof kRequest - 1);
  if (r != PALOMA_OK) return r;
  Deadline bound(link.bounds.replyMs);
  for (;;) {
    int wait = bound.remainingMs(link.bounds.replyMs);
    if (wait <= 0) return noReply(link);
    std::size_t got = 0;
    r = readSome(link, link.reply.data(), link.reply.size(), wait, &got);
    if (r != PALOMA_OK) return r;
    if (got > 0) {
      *byte = link.reply[0];
      return PALOMA_OK;
    }
  }
}

paloma_result linkQuery(Link& link, std::string_view request, ReplyEnd end,
                        std::string_view* text) {
  if (!queryable(link)) return refuseQuery(link);
  dropStale(link);
  paloma_result r = linkWrite(link, request.data(), request.size());
  if (r != PALOMA_OK) return r;
  Deadline bound(link.bounds.replyMs);
  unsigned char* buf = link.reply.data();
  const std::size_t cap = link.reply.size();
  std::size_t n = 0, from = 0, to = 0;
  while (!answerComplete(buf, n, end, &from, &to)) {
    if (n == cap) {
      link.stale = true;
      return fail(PALOMA_ERROR_NO_REPLY, "the reply filled " + std::to_string(cap) +
                                             " bytes without its end");
    }
    int wait = bound.remainingMs(link.bounds.replyMs);
    if (wait <= 0) return noReply(link);
    std::size_t got = 0;
    r = readSome(link, buf + n, cap - n, wait, &got);
    if (r != PALOMA_OK) return r;
    n += got;
  }
  while (from < to && isBlank(buf[from])) ++from;
  while (to > from && isBlank(buf[to - 1])) --to;
  *text = std::string_view(reinterpret_cast<const char*>(buf) + from, to - from);
  return PALOMA_OK;
}

}  // namespace paloma
