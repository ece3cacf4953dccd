#include "connection/write_path.h"

#include <cstring>
#include <string>

#include "connection/text_convert.h"
#include "paloma.h"
#include "platform/api_lock.h"
#include "platform/last_error.h"

namespace paloma {

namespace {

const char* transportName(TransportKind kind) {
  switch (kind) {
    case TransportKind::Spooler: return "the spooler printer";
    case TransportKind::LptFile: return "the printer port";
    case TransportKind::UsbDevice: return "the USB printer";
    case TransportKind::Serial: return "the serial port";
    case TransportKind::Network: return "the network printer";
  }
  return "the printer";
}

// Why a write to a file, device or spooler target failed.
void noteIoFailure(TransportKind kind, const IoResult& r) {
  std::string what = std::string("write to ") + transportName(kind);
  if (r.ok)
    setLastError(what + ": the printer took no bytes", 0);
  else if (r.timedOut)
    setLastError(what + ": the printer took no bytes in time", r.error);
  else
    setLastOsError(what, r.error);
}

}  // namespace

void noteNetworkFailure(const NetResult& r, std::string_view what) {
  if (r.error == kNetConnReset || (r.result == 0 && r.error == kNetOk)) {
    setLastError("the printer closed the connection", r.osError);
  } else if (r.error == kNetTimedOut) {
    setLastError(std::string(what) + ": the printer did not answer in time", r.osError);
  } else if (r.osError != 0) {
    setLastOsError(what, r.osError);
  } else {
    setLastError(std::string(what) + " failed", 0);
  }
}

void noteNoTransport() {
  setLastError("no printer connection is open: open one first (openport, opencomport or "
               "openethernet)");
}

std::optional<WriteTarget> pickTarget(const ConnectionState& c, WriterFamily family) {
  auto make = [&](TransportKind k) {
    return WriteTarget{k, c.handle, c.socket};
  };
  if (c.spoolerMode == 1) return make(TransportKind::Spooler);
  if (c.lptMode == 1 || c.usbMode == 1)
    return make(c.lptMode == 1 ? TransportKind::LptFile : TransportKind::UsbDevice);
  if (family == WriterFamily::Command) {
    if (c.networkMode == 1) return make(TransportKind::Network);
    if (c.serialMode == 1) return make(TransportKind::Serial);
  } else {
    if (c.serialMode == 1) return make(TransportKind::Serial);
    if (c.networkMode == 1) return make(TransportKind::Network);
  }
  noteNoTransport();
  return std::nullopt;
}

bool serialWriteAll(Handle h, const void* data, std::size_t n, SerialEventUse use) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    Event ev = kInvalidEvent;
    if (use == SerialEventUse::WithEvent) {
      ev = os().createEvent();
      if (ev == kInvalidEvent) {
        setLastOsError("create an event for the serial write", os().lastOsError());
        return false;
      }
    }
    IoResult r = os().writeOverlapped(h, p + done, n - done, ev);
    if (ev != kInvalidEvent) os().closeEvent(ev);
    if (!r.ok || r.count == 0) {
      noteIoFailure(TransportKind::Serial, r);
      return false;
    }
    done += r.count;
  }
  return true;
}

bool writeAll(const WriteTarget& t, const void* data, std::size_t n, bool more,
              SerialEventUse serialEvent) {
  if (t.kind == TransportKind::Serial) return serialWriteAll(t.handle, data, n, serialEvent);
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    std::size_t got = 0;
    switch (t.kind) {
      case TransportKind::Spooler:
      case TransportKind::LptFile:
      case TransportKind::UsbDevice: {
        IoResult r = t.kind == TransportKind::Spooler
                         ? os().spoolerWrite(t.handle, p + done, n - done)
                         : os().writeFile(t.handle, p + done, n - done);
        if (!r.ok || r.count == 0) {
          noteIoFailure(t.kind, r);
          return false;
        }
        got = r.count;
        break;
      }
      case TransportKind::Network: {
        if (t.socket == kInvalidSocket) {
          setLastError("no network connection is open: call openethernet first");
          return false;
        }
        NetResult r = os().send(t.socket, p + done, n - done, more);
        if (r.result <= 0) {
          noteNetworkFailure(r, "send to the printer");
          return false;
        }
        got = static_cast<std::size_t>(r.result);
        break;
      }
      case TransportKind::Serial:
        return false;  // handled above
    }
    done += got;
  }
  return true;
}

bool writeWithEnd(const WriteTarget& t, const void* body, std::size_t n, std::string_view end,
                  SerialEventUse serialEvent) {
  bool ok = writeAll(t, body, n, /*more=*/true, serialEvent);
  return writeAll(t, end.data(), end.size(), /*more=*/false, serialEvent) && ok;
}

void noteNull(const char* what) { setLastError(std::string(what) + " is a null pointer"); }

int refuseText(const void* text) {
  if (!text)
    noteNull("the text");
  else
    noteNoTransport();
  return 0;
}

int refuseData(const void* data, int length) {
  if (connection().isOpen == 0)
    noteNoTransport();
  else if (length < 0)
    setLastError("the length " + std::to_string(length) + " is negative");
  else if (!data)
    noteNull("the data");
  return 0;
}

void noteTooLong(std::size_t length) {
  setLastError("a command of " + std::to_string(length) + " bytes is too long for the " +
               std::to_string(ConnectionState::kCommandBufferSize) +
               "-byte command buffer; nothing was sent");
}

bool copyToCommandBuffer(std::string_view text, std::size_t reserve) {
  if (text.size() + reserve >= ConnectionState::kCommandBufferSize) {
    noteTooLong(text.size());
    return false;
  }
  std::memcpy(connection().commandBuffer, text.data(), text.size());
  connection().commandBuffer[text.size()] = '\0';
  return true;
}

namespace {

ConnectionState& conn() { return connection(); }

// Body then terminator, in the transport's way for the Command writers:
// serial gets both in one write from commandBuffer-like storage.
int writeCommandText(std::string_view body, std::string_view networkTerminator) {
  auto t = pickTarget(conn(), WriterFamily::Command);
  if (!t) return 0;
  if (t->kind == TransportKind::Serial) {
    // The text and its CR LF in one write.
    std::string line;
    line.reserve(body.size() + 2);
    line.append(body).append(kCrlf);
    return serialWriteAll(t->handle, line.data(), line.size(), SerialEventUse::WithEvent) ? 1 : 0;
  }
  std::string_view term = t->kind == TransportKind::Network ? networkTerminator : kCrlf;
  return writeWithEnd(*t, body.data(), body.size(), term) ? 1 : 0;
}

}  // namespace

int binaryBufferWrite(std::string_view text) {
  if (!copyToCommandBuffer(text)) return 0;
  auto t = pickTarget(conn(), WriterFamily::Binary);
  if (!t) return 0;
  return writeAll(*t, conn().commandBuffer, text.size(), /*more=*/true) ? 1 : 0;
}

}  // namespace paloma

using namespace paloma;

extern "C" {

int sendcommand(const char* text) {
  paloma::ApiLock lock;
  if (!text || conn().isOpen == 0) return 0;
  std::string_view body(text);
  // The line end is written from storage of its own, so the whole buffer
  // (less its NUL) is the limit.
  if (!copyToCommandBuffer(body)) return 0;
  return writeCommandText({conn().commandBuffer, body.size()}, kCrlf);
}

int sendcommandnocrlf(const char* text) {
  paloma::ApiLock lock;
  if (!text || conn().isOpen == 0) return 0;
  std::string_view body(text);
  if (!copyToCommandBuffer(body)) return 0;
  auto t = pickTarget(conn(), WriterFamily::Command);
  if (!t) return 0;
  return writeAll(*t, conn().commandBuffer, body.size(), false, SerialEventUse::NoEvent) ? 1 : 0;
}

int sendcommandW(const paloma_wchar* text) {
  paloma::ApiLock lock;
  if (!text || conn().isOpen == 0) return 0;
  std::string narrow;
  if (!narrowWide(text, kWideArgCapacity, &narrow)) return 0;
  // On the serial port the text and CR LF share the 256-byte working buffer.
  auto t = pickTarget(conn(), WriterFamily::Command);
  if (t && t->kind == TransportKind::Serial && narrow.size() + 2 >= kWideArgCapacity) return 0;
  if (!copyToCommandBuffer(narrow)) return 0;
  return writeCommandText({conn().commandBuffer, narrow.size()}, kCrlfNul);
}

int sendcommandutf8(const char* text) {
  paloma::ApiLock lock;
  if (!text) return 0;
  std::string utf8 = ansiToUtf8(text);
  if (conn().isOpen == 0) {
    noteNoTransport();
    return 0;
  }
  return writeCommandText(utf8, kCrlfNul);
}

int sendBinaryData(const unsigned char* data, int length) {
  paloma::ApiLock lock;
  if (conn().isOpen == 0 || length < 0 || (!data && length > 0)) return 0;
  auto t = pickTarget(conn(), WriterFamily::Binary);
  if (!t) return 0;
  std::string_view term = t->kind == TransportKind::Network ? kCrlfNul : kCrlf;
  bool ok = writeWithEnd(*t, data, static_cast<std::size_t>(length), term, SerialEventUse::NoEvent);
  return ok ? 1 : 0;
}

int sendBinaryDataNoCRLF(const unsigned char* data, int length) {
  paloma::ApiLock lock;
  if (conn().isOpen == 0 || length < 0 || (!data && length > 0)) return 0;
  auto t = pickTarget(conn(), WriterFamily::Binary);
  if (!t) return 0;
  return writeAll(*t, data, static_cast<std::size_t>(length), false, SerialEventUse::NoEvent) ? 1
                                                                                             : 0;
}

}  // extern "C"

// The raw serial write of a text without line end, on whatever port the
// connection's handle holds; 0 when no connection is open (even for an empty
// text), when its event cannot be created or the port refused bytes.
int ComportSendData(const char* text) {
  paloma::ApiLock lock;
  if (!text || conn().isOpen == 0 || conn().handle == kInvalidHandle) return 0;
  bool ok = serialWriteAll(conn().handle, text, std::strlen(text), SerialEventUse::WithEvent);
  return ok ? 1 : 0;
}
