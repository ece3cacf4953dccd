// Sending whole files to the printer: unchanged (sendfile) or wrapped in a
// DOWNLOAD command that stores them under a name (bitmap, PCX, any memory).
#include <string>

#include "connection/connection_state.h"
#include "connection/write_path.h"
#include "files/files.h"
#include "paloma.h"
#include "platform/api_lock.h"
#include "platform/last_error.h"

namespace paloma {

namespace {

// How the payload and its line end go out on the serial port. The image
// downloads use the overlapped write with an event of their own and end with
// ComportSendData; the memory download and sendfile write the port's handle
// like a file.
enum class SerialRow { Overlapped, PlainWrite };

// Payload and line end on the chosen transport. Each piece goes out only when
// the one before it was accepted whole, so a printer never takes the file's
// bytes for commands after a lost header, nor a line end for payload. Beyond
// its first block, a large file goes from the kernel straight to a socket or
// device where it can.
bool writePayloadAndEnd(const WriteTarget& t, FileSource& file, SerialRow row) {
  if (t.kind == TransportKind::Serial && row == SerialRow::Overlapped) {
    auto overlapped = [&t](const unsigned char* data, std::size_t n) {
      return serialWriteAll(t.handle, data, n, SerialEventUse::WithEvent);
    };
    if (!file.send(overlapped, std::nullopt)) return false;
    return ComportSendData("\r\n") == 1;
  }
  WriteTarget target = t;
  if (t.kind == TransportKind::Serial) target.kind = TransportKind::LptFile;  // a plain write
  const std::string_view end = t.kind == TransportKind::Network ? kCrlfNul : kCrlf;
  auto plain = [&target](const unsigned char* data, std::size_t n) {
    return writeAll(target, data, n, /*more=*/true);
  };
  if (!file.send(plain, copyTargetOf(target))) return false;
  return writeAll(target, end.data(), end.size());
}

// The common steps: the open test, the file opened and its first block read, the header (unless
// `withHeader` is false), the payload and the line end. `memory` is the
// memory operand of downloadmemory, null for the others.
int sendWholeFile(const char* path, bool withHeader, const char* memory, const char* name,
                  SerialRow row) {
  ConnectionState& c = connection();
  if (c.isOpen == 0) {
    noteNoTransport();
    return 0;
  }
  if (!path || (withHeader && !name)) {
    setLastError(path ? "the name argument is a null pointer" : "the path is a null pointer");
    return 0;
  }

  auto target = pickTarget(c, WriterFamily::Binary);
  FileSource file;
  if (!openFileSource(path, &file)) return 0;
  if (!target) return 0;

  if (withHeader) {
    std::string header;
    if (!formatDownloadHeader(memory, name, file.size(), &header)) return 0;
    if (binaryBufferWrite(header) != 1) return 0;
  }
  return writePayloadAndEnd(*target, file, row) ? 1 : 0;
}

}  // namespace

}  // namespace paloma

using paloma::SerialRow;
using paloma::sendWholeFile;

extern "C" {

int downloadbmp(const char* path, const char* name) {
  paloma::ApiLock lock;
  return sendWholeFile(path, true, nullptr, name, SerialRow::Overlapped);
}

int downloadpcx(const char* path, const char* name) {
  paloma::ApiLock lock;
  return sendWholeFile(path, true, nullptr, name, SerialRow::Overlapped);
}

int downloadmemory(const char* memory, const char* path, const char* name) {
  paloma::ApiLock lock;
  if (!memory) return 0;
  return sendWholeFile(path, true, memory, name, SerialRow::PlainWrite);
}

int sendfile(const char* path) {
  paloma::ApiLock lock;
  return sendWholeFile(path, false, nullptr, nullptr, SerialRow::PlainWrite);
}

}  // extern "C"
