// libFuzzer target: a command stream through the parser and the interpreter,
// as a connection would deliver it. The first byte picks the resolution (bit
// 0), the size of the pieces the stream arrives in (bits 1-6, 0: whole) and
// whether the rest is the stream itself or (bit 7) a file downloaded and
// drawn with PUTBMP and PUTPCX, whose exact size a mutation rarely keeps.
#include <cstddef>
#include <cstdint>
#include <string>

#include "printer.h"

extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t shape = data[0];
  ++data;
  --size;
  vprinter::PrinterOptions options;
  options.dpi = (shape & 1) ? 300 : 203;
  // Small labels keep the runs fast; SIZE in the stream may change it.
  options.defaultWidthMm = 60;
  options.defaultHeightMm = 40;
  options.maxFileStore = 1u << 20;
  vprinter::JsonLog log;  // no file: the lines are formatted, then dropped
  vprinter::Printer printer(options, &log);
  vprinter::ParserLimits limits;
  limits.maxLine = 8192;
  limits.maxBitmap = 1u << 20;
  limits.maxDownload = 1u << 20;
  vprinter::Session session(printer, "fuzz", limits);
  std::string file;
  if (shape & 0x80) {
    file = "DOWNLOAD \"F\"," + std::to_string(size) + ",";
    file.append(reinterpret_cast<const char*>(data), size);
    file += "\r\nPUTBMP 10,10,\"F\"\r\nPUTPCX 20,20,\"F\"\r\n";
    data = reinterpret_cast<const uint8_t*>(file.data());
    size = file.size();
  }
  const size_t piece = (shape & 0x7E) == 0 ? size : ((shape & 0x7E) >> 1);
  for (size_t at = 0; at < size; at += piece) {
    size_t n = size - at < piece ? size - at : piece;
    session.feed(data + at, n);
    session.takeReply();
  }
  session.finish();
  session.takeReply();
  return 0;
}
