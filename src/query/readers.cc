// The readers: how a reply is received and recognised on each transport,
// into the reply record their caller gives (its link's).
//
// Query replies end with STX (0x02); in FrameMode the reply is an STX ... ETX
// frame; in LineMode a carriage return ends it; in StatusByteMode only the
// first byte counts. String replies end with the text "ENDLINE\r\n".
//
// Every loop here is bounded: a printer that is silent, closes the
// connection or never sends what ends its reply makes the reader give up
// within kReplyBoundMs. Appending readers never write past ReplyBuffer.
#include "query/readers.h"

#include <cstdio>
#include <cstring>

#include <string>

#include "connection/write_path.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "query/reply_state.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

// The marker that ends a string reply.
constexpr char kStringMarker[] = "ENDLINE\r\n";

// Why a reply did not come: silence for `waitedMs` ("no reply within 1 s"),
// a closed connection, or a receive that failed (with its OS error).
void noteSilence(int waitedMs);
void noteReceiveFailure(const NetResult& r, int waitedMs);

// Searches all of r's ReplyBuffer for "ENDLINE\r\n"; on success removes it,
// copies the text into a new 1024-byte block, stores it in StringResult and
// returns true.
bool takeStringResult(ReplyState& r);

constexpr unsigned char kStx = 0x02;
constexpr unsigned char kEtx = 0x03;
constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kLf = 0x0A;

constexpr std::size_t kSerialReadSize = 500;
constexpr std::size_t kUsbPacketSize = 64;
constexpr std::size_t kBufferSize = ReplyState::kBufferSize;
constexpr std::size_t kMarkerSize = sizeof kStringMarker - 1;

// A position as an index into ReplyBuffer; one outside the buffer starts
// over at 0.
std::size_t indexOf(std::int32_t pos) {
  return (pos < 0 || static_cast<std::size_t>(pos) >= kBufferSize) ? 0
                                                                    : static_cast<std::size_t>(pos);
}

// Appends one byte at `pos`, which returns to 0 when it reaches the end.
void appendWrap(ReplyState& r, std::int32_t& pos, unsigned char byte) {
  std::size_t i = indexOf(pos);
  r.ReplyBuffer[i] = byte;
  ++i;
  pos = static_cast<std::int32_t>(i == kBufferSize ? 0 : i);
}

// Appends bytes at `pos` without wrapping; what does not fit is dropped.
// Returns false when something was dropped.
bool appendBounded(ReplyState& r, std::int32_t& pos, const unsigned char* data, std::size_t n) {
  std::size_t i = pos < 0 ? 0 : static_cast<std::size_t>(pos);
  if (i > kBufferSize) i = kBufferSize;
  std::size_t room = kBufferSize - i;
  std::size_t take = n < room ? n : room;
  if (take) std::memcpy(r.ReplyBuffer + i, data, take);
  pos = static_cast<std::int32_t>(i + take);
  return take == n;
}

// The socket's receive time-out, as the network readers wait it.
constexpr int kReceiveTimeoutMs = 1000;

bool bufferFull(std::int32_t pos) { return pos >= 0 && static_cast<std::size_t>(pos) >= kBufferSize; }

// FrameMode: the block from its first byte into ReplyBuffer from index 0,
// every STX left out, up to an ETX (not copied; it ends the frame).
void copyFrame(ReplyState& r, const unsigned char* block, std::size_t n) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = block[i];
    if (b == kEtx) {
      r.FrameMode = 0;
      return;
    }
    if (b == kStx) continue;
    if (out < kBufferSize) r.ReplyBuffer[out++] = b;
  }
}

// The STX case shared by the query readers of every transport.
void onStx(ReplyState& r, const unsigned char* block, std::size_t n) {
  if (r.StatusByteMode) {
    r.ReplyBuffer[0] = block[0];
    r.StatusByteMode = 0;
  } else if (r.FrameMode) {
    copyFrame(r, block, n);
  }
}

// One serial read of what has arrived. 0 when the read failed or brought
// nothing; a failed read is reported through *failed (and the last error).
std::size_t serialRead(Handle h, unsigned char* area, bool* failed) {
  *failed = false;
  Event ev = os().createEvent();
  if (ev == kInvalidEvent) {
    setLastOsError("create an event for the serial read", os().lastOsError());
    *failed = true;
    return 0;
  }
  IoResult r = os().readFile(h, area, kSerialReadSize, ReadWait::Arrived, 0);
  os().closeEvent(ev);
  if (!r.ok) {
    setLastOsError("read from the serial port", r.error);
    *failed = true;
    return 0;
  }
  return r.count < kSerialReadSize ? r.count : kSerialReadSize;
}

// One USB packet: waits at most `waitMs`. 0 on a time-out or a failed read
// (*failed tells which).
std::size_t usbPacket(Handle h, unsigned char* packet, int waitMs, bool* failed) {
  *failed = false;
  std::memset(packet, 0, kUsbPacketSize);
  IoResult r = os().readFile(h, packet, kUsbPacketSize, ReadWait::AtMostMs, waitMs);
  if (!r.ok) {
    setLastOsError("read from the USB printer", r.error);
    *failed = true;
    return 0;
  }
  if (r.timedOut) return 0;
  return r.count < kUsbPacketSize ? r.count : kUsbPacketSize;
}

// The receive loop of the network query readers: a pause, then recv into
// NetworkReceiveBuffer, until data comes. A receive error, a closed
// connection or the bound passing sets NetworkError. Returns the count.
long networkReceive(ReplyState& rs, Socket s, bool clearStatusFlag) {
  Deadline bound;
  for (;;) {
    os().sleepMs(50);
    if (clearStatusFlag) rs.StatusByteMode = 0;
    NetResult r = os().recv(s, rs.NetworkReceiveBuffer, kBufferSize);
    if (r.result > 0) return r.result;
    bool retry = r.result < 0 && (r.error == kNetWouldBlock || r.error == kNetOk);
    if (!retry || bound.passed()) {
      noteReceiveFailure(r, retry ? kReplyBoundMs : kReceiveTimeoutMs);
      rs.NetworkError = 1;
      return 0;
    }
  }
}

bool findMarker(const ReplyState& r, std::size_t* at) {
  const unsigned char* buf = r.ReplyBuffer;
  const unsigned char* end = buf + kBufferSize;
  const unsigned char* p = buf;
  while (static_cast<std::size_t>(end - p) >= kMarkerSize) {
    p = static_cast<const unsigned char*>(std::memchr(p, 'E', static_cast<std::size_t>(end - p) - kMarkerSize + 1));
    if (!p) return false;
    if (std::memcmp(p, kStringMarker, kMarkerSize) == 0) {
      *at = static_cast<std::size_t>(p - buf);
      return true;
    }
    ++p;
  }
  return false;
}

// One packet of a USB query read, with the pauses around it and the read's
// own event. False when the event cannot be made: nothing is read then.
bool usbQueryPacket(Handle h, int pauseBeforeMs, int pauseAfterMs, unsigned char* packet,
                    std::size_t* n) {
  os().sleepMs(pauseBeforeMs);
  Event ev = os().createEvent();
  if (ev == kInvalidEvent) return false;
  bool failed = false;
  *n = usbPacket(h, packet, kUsbReadTimeoutMs, &failed);
  if (pauseAfterMs > 0) os().sleepMs(pauseAfterMs);
  os().closeEvent(ev);
  return true;
}

std::string secondsText(int ms) {
  char text[32];
  if (ms % 1000 == 0)
    std::snprintf(text, sizeof text, "%d s", ms / 1000);
  else
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

void noteSilence(int waitedMs) { setLastError("no reply within " + secondsText(waitedMs)); }

void noteReceiveFailure(const NetResult& r, int waitedMs) {
  if (r.result == 0 && r.error == kNetOk)
    setLastError("the printer closed the connection");
  else if (r.error == kNetTimedOut || r.error == kNetWouldBlock || r.error == kNetOk)
    noteSilence(waitedMs);
  else
    noteNetworkFailure(r, "receive from the printer");
}

}  // namespace

void noteNoMarker(bool full) {
  if (full)
    setLastError("the reply filled " + std::to_string(ReplyState::kBufferSize) +
                 " bytes without the end marker ENDLINE");
  else
    setLastError("no reply ending in the marker ENDLINE within " + secondsText(kReplyBoundMs));
}

// ---- the USB request write ------------------------------------------------

int usbOverlappedWrite(ReplyState& r, Handle device, const void* data, int length) {
  r.clearReply();
  if (length < 0 || (!data && length > 0)) return 0;
  Event ev = os().createEvent();
  if (ev == kInvalidEvent) {
    setLastOsError("create an event for the USB write", os().lastOsError());
    return 0;
  }
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t n = static_cast<std::size_t>(length);
  std::size_t done = 0;
  // A write the device takes in part is continued until all is written.
  while (done < n) {
    IoResult r = os().writeOverlapped(device, p + done, n - done, ev);
    if (!r.ok || r.count == 0) {
      if (r.ok)
        setLastError("write to the USB printer: the printer took no bytes");
      else
        setLastOsError("write to the USB printer", r.error);
      break;
    }
    done += r.count;
  }
  os().closeEvent(ev);
  return done == n ? length : 0;
}

// ---- serial ---------------------------------------------------------------

void ReadSerialStatus(ReplyState& r, Handle h) {
  unsigned char area[kSerialReadSize];
  os().sleepMs(500);
  bool failed = false;
  std::size_t n = serialRead(h, area, &failed);
  if (failed) return;
  if (n == 0) {
    noteSilence(500);
    r.ReplyBuffer[0] = 0xFF;
    return;
  }
  r.ReplyBuffer[0] = area[0];
  r.StatusByteMode = 0;
}

void ReadSerialReply(ReplyState& r, Handle h) {
  unsigned char area[kSerialReadSize];
  os().sleepMs(500);
  bool failed = false;
  std::size_t n = serialRead(h, area, &failed);
  if (n == 0) {
    if (!failed) noteSilence(500);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = area[i];
    if (b == kStx) {
      onStx(r, area, n);
      return;
    }
    if (b == kCr && r.LineMode) {
      r.LineMode = 0;
      return;
    }
    appendWrap(r, r.ReplyPosition, b);
  }
}

StringStep ReadSerialString(ReplyState& r, Handle h) {
  unsigned char area[kSerialReadSize];
  os().sleepMs(100);
  bool failed = false;
  std::size_t n = serialRead(h, area, &failed);
  // A failed read will not succeed by waiting: the port is not there.
  if (failed) return StringStep::Failed;
  // An empty read is a pause in the printer's output: the bytes gathered so
  // far are kept and the next read continues after them.
  if (n == 0) return StringStep::NotYet;
  appendBounded(r, r.SerialStringPosition, area, n);
  if (!takeStringResult(r)) return StringStep::NotYet;
  r.SerialStringPosition = 0;
  return StringStep::Found;
}

// ---- network --------------------------------------------------------------

bool ReadNetworkStatus(ReplyState& r, Socket s) {
  std::memset(r.NetworkReceiveBuffer, 0, kBufferSize - 1);
  if (networkReceive(r, s, /*clearStatusFlag=*/true) == 0) return false;
  r.ReplyBuffer[0] = r.NetworkReceiveBuffer[0];
  return true;
}

bool ReadNetworkReply(ReplyState& r, Socket s) {
  std::memset(r.NetworkReceiveBuffer, 0, kBufferSize);
  long n = networkReceive(r, s, false);
  if (n == 0) return false;
  const unsigned char* block = r.NetworkReceiveBuffer;
  unsigned char first = block[0];
  if (first == kStx) {
    onStx(r, block, static_cast<std::size_t>(n));
  } else if (first == kCr && r.LineMode) {
    r.LineMode = 0;
  } else {
    r.StatusByteMode = 0;
    appendWrap(r, r.NetworkPosition, first);
  }
  return true;
}

bool ReadNetworkSetting(ReplyState& r, Socket s) {
  r.NetworkPosition = 0;
  std::memset(r.NetworkReceiveBuffer, 0, kBufferSize);
  return networkReceive(r, s, false) > 0;
}

StringStep ReadNetworkString(ReplyState& rs, Socket s, const Deadline& bound) {
  rs.NetworkPosition = 0;
  int lastError = kNetOk;
  NetResult lastFailure;
  for (;;) {
    std::memset(rs.NetworkReceiveBuffer, 0, kBufferSize);
    os().sleepMs(100);
    if (lastError != kNetWouldBlock && lastError != kNetOk) {
      noteReceiveFailure(lastFailure, kReceiveTimeoutMs);
      rs.NetworkError = 1;
      return StringStep::Failed;
    }
    NetResult r = os().recv(s, rs.NetworkReceiveBuffer, kBufferSize);
    lastError = r.error;
    lastFailure = r;
    if (r.result == 0) {
      // The printer closed the connection: no marker can come any more.
      setLastError("the printer closed the connection before the end marker ENDLINE");
      rs.NetworkPosition = 0;
      rs.NetworkError = 1;
      return StringStep::Failed;
    }
    if (r.result > 0) {
      appendBounded(rs, rs.NetworkPosition, rs.NetworkReceiveBuffer,
                    static_cast<std::size_t>(r.result));
      if (takeStringResult(rs)) {
        rs.NetworkPosition = 0;
        return StringStep::Found;
      }
      // A reply that has filled ReplyBuffer without the marker cannot be taken.
      if (bufferFull(rs.NetworkPosition)) {
        noteNoMarker(/*full=*/true);
        return StringStep::Failed;
      }
    }
    if (bound.passed()) {
      // A receive error is recorded even when it comes as the bound runs out.
      if (r.result < 0 && lastError != kNetWouldBlock && lastError != kNetOk &&
          lastError != kNetTimedOut) {
        noteNetworkFailure(r, "receive from the printer");
        rs.NetworkError = 1;
      } else {
        if (r.result < 0 && lastError == kNetTimedOut) rs.NetworkError = 1;
        noteNoMarker(/*full=*/false);
      }
      return StringStep::Failed;
    }
  }
}

// ---- USB --------------------------------------------------------------------

bool usbReadStatus(ReplyState& r, Handle h) {
  unsigned char packet[kUsbPacketSize];
  std::size_t n = 0;
  if (!usbQueryPacket(h, 100, 100, packet, &n) || n == 0) return false;
  if (r.StatusByteMode) {
    r.ReplyBuffer[0] = packet[0];
    r.StatusByteMode = 0;
    return false;
  }
  // Each byte lands on the same slot; the packet's last byte stays.
  std::size_t at = indexOf(r.ReplyPosition);
  for (std::size_t i = 0; i < n; ++i) r.ReplyBuffer[at] = packet[i];
  return true;
}

bool usbReadDataToBuffer(ReplyState& r, Handle h) {
  unsigned char packet[kUsbPacketSize];
  std::size_t n = 0;
  if (!usbQueryPacket(h, 100, 0, packet, &n) || n == 0) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = packet[i];
    if (b == kStx) {
      onStx(r, packet, n);
      return true;
    }
    if (b == kCr && r.LineMode) {
      r.LineMode = 0;
      return true;
    }
    appendWrap(r, r.ReplyPosition, b);
    r.StatusByteMode = 0;
    if (b == kCr) return false;
  }
  return true;
}

bool usbReadData(ReplyState& r, Handle h) { return usbReadSettingPacket(r, h, 50, 0); }

bool usbReadSettingPacket(ReplyState& r, Handle h, int pauseBeforeMs, int pauseAfterMs) {
  unsigned char packet[kUsbPacketSize];
  std::size_t n = 0;
  if (!usbQueryPacket(h, pauseBeforeMs, pauseAfterMs, packet, &n)) return false;
  if (n == 0) {
    r.ReplyPosition = 0;
    return false;
  }
  // The bytes of earlier packets stay: a reply in several packets is joined.
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = packet[i];
    if (b == kStx) return false;
    if (b == kCr || b == kLf) continue;
    if (!appendBounded(r, r.ReplyPosition, &b, 1)) return false;
  }
  return true;
}

bool usbReadJudge(ReplyState& r, Handle h, const Deadline& bound) {
  r.clearReply();
  os().sleepMs(50);
  Event ev = os().createEvent();
  if (ev == kInvalidEvent) {
    setLastOsError("create an event for the USB read", os().lastOsError());
    return false;
  }
  unsigned char packet[kUsbPacketSize];
  bool taken = false;
  bool failed = false;
  while (!bound.passed()) {
    std::size_t n = usbPacket(h, packet, bound.remainingMs(kUsbReadTimeoutMs), &failed);
    if (failed) break;  // the device is gone: nothing more will come
    if (n == 0) continue;
    appendBounded(r, r.ReplyPosition, packet, n);
    if (takeStringResult(r)) {
      r.ReplyPosition = 0;
      taken = true;
      break;
    }
    if (bufferFull(r.ReplyPosition)) break;
  }
  if (!taken && !failed) noteNoMarker(bufferFull(r.ReplyPosition));
  os().closeEvent(ev);
  return taken;
}

void usbReadWhile(bool (*reader)(ReplyState&, Handle), ReplyState& r, Handle h) {
  Deadline bound;
  while (reader(r, h) && !bound.passed()) {
  }
}

// ---- the string result -----------------------------------------------------

namespace {

bool takeStringResult(ReplyState& r) {
  std::size_t at = 0;
  if (!findMarker(r, &at)) return false;
  unsigned char* buf = r.ReplyBuffer;
  std::memmove(buf + at, buf + at + kMarkerSize, kBufferSize - at - kMarkerSize);
  std::memset(buf + kBufferSize - kMarkerSize, 0, kMarkerSize);
  char* block = newStringBlock();
  const void* nul = std::memchr(buf, 0, kStringBlockSize - 1);
  std::size_t len = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - buf)
                        : kStringBlockSize - 1;
  std::memcpy(block, buf, len);
  block[len] = '\0';
  r.StringResult = block;
  return true;
}

}  // namespace

}  // namespace paloma

// ---- exported USB readers (C++ linkage); the pointer is the device handle --

namespace {
paloma::Handle handleOf(void* device) { return reinterpret_cast<paloma::Handle>(device); }
}  // namespace

bool UsbReadDataToBuffer(void* device, bool) {
  paloma::ApiLock lock;
  return paloma::usbReadDataToBuffer(paloma::replies(), handleOf(device));
}
bool UsbReadData(void* device, bool) {
  paloma::ApiLock lock;
  return paloma::usbReadData(paloma::replies(), handleOf(device));
}
bool UsbRead_judge(void* device) {
  paloma::ApiLock lock;
  return paloma::usbReadJudge(paloma::replies(), handleOf(device), paloma::Deadline());
}
bool UsbReadStatus(void* device, bool) {
  paloma::ApiLock lock;
  return paloma::usbReadStatus(paloma::replies(), handleOf(device));
}
