#include "connection/write_path.h"

#include <cstring>
#include <string>

#include "connection/text_convert.h"
#include "paloma.h"
#include "platform/api_lock.h"

namespace paloma {

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
  return std::nullopt;
}

bool serialWriteAll(Handle h, const void* data, std::size_t n, SerialEventUse use) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    Event ev = kInvalidEvent;
    if (use == SerialEventUse::WithEvent) {
      ev = os().createEvent();
      if (ev == kInvalidEvent) return false;
    }
    IoResult r = os().writeOverlapped(h, p + done, n - done, ev);
    if (ev != kInvalidEvent) os().closeEvent(ev);
    if (!r.ok || r.count == 0) return false;
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
      case TransportKind::Spooler: {
        IoResult r = os().spoolerWrite(t.handle, p + done, n - done);
        if (!r.ok) return false;
        got = r.count;
        break;
      }
      case TransportKind::LptFile:
      case TransportKind::UsbDevice: {
        IoResult r = os().writeFile(t.handle, p + done, n - done);
        if (!r.ok) return false;
        got = r.count;
        break;
      }
      case TransportKind::Network: {
        NetResult r = os().send(t.socket, p + done, n - done, more);
        if (r.result < 0) return false;
        got = static_cast<std::size_t>(r.result);
        break;
      }
      case TransportKind::Serial:
        return false;  // handled above
    }
    if (got == 0) return false;
    done += got;
  }
  return true;
}

bool writeWithEnd(const WriteTarget& t, const void* body, std::size_t n, std::string_view end,
                  SerialEventUse serialEvent) {
  bool ok = writeAll(t, body, n, /*more=*/true, serialEvent);
  return writeAll(t, end.data(), end.size(), /*more=*/false, serialEvent) && ok;
}

bool copyToCommandBuffer(std::string_view text, std::size_t reserve) {
  if (text.size() + reserve >= ConnectionState::kCommandBufferSize) return false;
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
  if (conn().isOpen == 0) return 0;
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
