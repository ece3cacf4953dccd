// Sending whole files to the printer: unchanged (sendfile) or wrapped in a
// DOWNLOAD command that stores them under a name (bitmap, PCX, any memory).
#include <string>

#include "connection/connection_state.h"
#include "connection/write_path.h"
#include "files/files.h"
#include "paloma.h"
#include "platform/api_lock.h"

namespace paloma {

namespace {

// How the payload and its line end go out on the serial port. The image
// downloads use the overlapped write with an event of their own and end with
// ComportSendData; the memory download and sendfile write the port's handle
// like a file.
enum class SerialRow { Overlapped, PlainWrite };

// Payload and line end on the chosen transport. Each piece goes out only when
// the one before it was accepted whole, so a printer never takes the file's
// bytes for commands after a lost header, nor a line end for payload.
bool writePayloadAndEnd(const WriteTarget& t, const FileBlock& file, SerialRow row) {
  if (t.kind == TransportKind::Serial && row == SerialRow::Overlapped) {
    if (!serialWriteAll(t.handle, file.data(), file.size(), SerialEventUse::WithEvent))
      return false;
    return ComportSendData("\r\n") == 1;
  }
  WriteTarget target = t;
  if (t.kind == TransportKind::Serial) target.kind = TransportKind::LptFile;  // a plain write
  const std::string_view end = t.kind == TransportKind::Network ? kCrlfNul : kCrlf;
  if (!writeAll(target, file.data(), file.size(), /*more=*/true)) return false;
  return writeAll(target, end.data(), end.size());
}

// The common steps: the open test, the file read whole, the header (unless
// `withHeader` is false), the payload and the line end. `memory` is the
// memory operand of downloadmemory, null for the others.
int sendWholeFile(const char* path, bool withHeader, const char* memory, const char* name,
                  SerialRow row) {
  ConnectionState& c = connection();
  if (c.isOpen == 0) return 0;
  if (!path || (withHeader && !name)) return 0;

  auto target = pickTarget(c, WriterFamily::Binary);
  FileBlock file;
  if (!loadWholeFile(path, &file, targetTakesMappedFiles(target))) return 0;
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
