// The slot twins of the command builders and of the file functions: the same
// formatting and file loading as the single connection, sent to a slot.
#include <string>

#include "commands/builders.h"
#include "files/files.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "slots/slot_table.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

using commands::CommandLines;

// The gate of the slot builders: a slot number 1 to 5 whose USB device or
// spooler job is open. A slot open only on the network is refused.
bool slotOpenOnDevice(int n) { return slotTarget(n, /*allowNetwork=*/false).has_value(); }

// Sends every line to the slot; 1 when there is a line and all were accepted.
int sendToSlot(int n, const CommandLines& lines) {
  bool ok = !lines.empty();
  for (const std::string& line : lines) ok = slotCommandWrite(n, line) == 1 && ok;
  return ok ? 1 : 0;
}

// Formats with `format` when the slot passes the gate, then sends.
template <typename Format>
int gatedBuilder(int n, Format format) {
  if (!slotOpenOnDevice(n)) return 0;
  CommandLines lines;
  if (!format(&lines)) return 0;
  return sendToSlot(n, lines);
}

// The payload of a file function: the file opened and its first block read
// (its failures shown whatever the slot), then the header (downloads only) by the slot
// binary-buffer write, then the payload and "\r\n" to the slot's USB device
// or spooler job.
int sendFileToSlot(int n, const char* memory, const char* path, const char* name,
                   bool download) {
  if (!path || (download && !name)) {
    setLastError(path ? "the name argument is a null pointer" : "the path is a null pointer");
    return 0;
  }
  auto target = slotTarget(n, /*allowNetwork=*/false);
  FileSource file;
  if (!openFileSource(path, &file)) return 0;
  if (!target) return 0;
  if (download) {
    std::string header;
    if (!formatDownloadHeader(memory, name, file.size(), &header)) return 0;
    if (slotBinaryWrite(n, header) != 1) return 0;
  }
  // The line end follows only a payload that went out whole.
  const WriteTarget& t = *target;
  auto plain = [&t](const unsigned char* data, std::size_t size) {
    return writeAll(t, data, size, /*more=*/true);
  };
  if (!file.send(plain, copyTargetOf(t))) return 0;
  return writeAll(t, kCrlf.data(), kCrlf.size()) ? 1 : 0;
}

}  // namespace
}  // namespace paloma

using namespace paloma;
using namespace paloma::commands;

extern "C" {

int setupmult(int n, const char* width, const char* height, const char* speed,
              const char* density, const char* sensor, const char* gap, const char* offset) {
  paloma::ApiLock lock;
  return gatedBuilder(n, [&](CommandLines* l) {
    return formatSetup(width, height, speed, density, sensor, gap, offset, l);
  });
}

int clearbuffermult(int n) { paloma::ApiLock lock; return gatedBuilder(n, formatClearBuffer); }
int formfeedmult(int n) { paloma::ApiLock lock; return gatedBuilder(n, formatFormFeed); }
int nobackfeedmult(int n) { paloma::ApiLock lock; return gatedBuilder(n, formatNoBackFeed); }

int printlabelmult(int n, const char* sets, const char* copies) {
  paloma::ApiLock lock;
  return gatedBuilder(n, [&](CommandLines* l) { return formatPrintLabel(sets, copies, l); });
}

int barcodemult(int n, const char* x, const char* y, const char* type, const char* height,
                const char* readable, const char* rotation, const char* narrow, const char* wide,
                const char* content) {
  paloma::ApiLock lock;
  return gatedBuilder(n, [&](CommandLines* l) {
    return formatBarcode(x, y, type, height, readable, rotation, narrow, wide, content, l);
  });
}

int printerfontmult(int n, const char* x, const char* y, const char* font, const char* rotation,
                    const char* xmul, const char* ymul, const char* content) {
  paloma::ApiLock lock;
  // No gate beyond the number: the command also reaches a network slot, and
  // goes nowhere (result 0) for a closed one.
  if (!validSlot(n)) {
    noteBadSlot(n);
    return 0;
  }
  CommandLines lines;
  if (!formatPrinterFont(x, y, font, rotation, xmul, ymul, content, &lines)) return 0;
  return sendToSlot(n, lines);
}

int sendfilemult(int n, const char* path) {
  paloma::ApiLock lock;
  if (connection().isOpen == 0) return 0;
  return sendFileToSlot(n, nullptr, path, nullptr, false);
}

int downloadbmpmult(int n, const char* path, const char* name) {
  paloma::ApiLock lock;
  return sendFileToSlot(n, nullptr, path, name, true);
}

int downloadpcxmult(int n, const char* path, const char* name) {
  paloma::ApiLock lock;
  return sendFileToSlot(n, nullptr, path, name, true);
}

int downloadmemorymult(int n, const char* memory, const char* path, const char* name) {
  paloma::ApiLock lock;
  if (connection().isOpen == 0 || !memory) return 0;
  return sendFileToSlot(n, memory, path, name, true);
}

}  // extern "C"
