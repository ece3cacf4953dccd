// libFuzzer target of the connection handling: the same bytes reach two
// identical printers, one in a single read per connection, the other cut into
// reads of the sizes the input picks (1 to 255 bytes, a split anywhere: inside
// a command, its line end, an ESC sequence or a payload). The input is:
//   byte 0      how many read sizes follow (0 to 15)
//   bytes 1-2   where the first connection ends and a second one begins
//               (little endian, taken modulo the stream's length; 0: one
//               connection)
//   then        the read sizes (0 counts as 1), used in turn
//   the rest    the stream
// How a stream is cut into reads must not change what the printer does: the
// replies, the labels printed, the errors counted, the files kept and the
// dots on the label must be the same for both.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "printer.h"

extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

struct Outcome {
  std::string replies;
  uint64_t labels = 0, errors = 0;
  std::map<std::string, std::string> files;
  std::vector<bool> dots;
};

// One connection after another, each read of `reads` sizes (empty: whole).
Outcome serve(const uint8_t* stream, size_t size, size_t cut, const std::vector<size_t>& reads) {
  vprinter::PrinterOptions options;
  options.defaultWidthMm = 20;
  options.defaultHeightMm = 10;
  options.maxFileStore = 256u << 10;
  vprinter::JsonLog log;
  vprinter::Printer printer(options, &log);
  vprinter::ParserLimits limits;
  limits.maxLine = 2048;
  limits.maxBitmap = 64u << 10;
  limits.maxDownload = 64u << 10;
  Outcome out;
  size_t next = 0;
  const size_t bounds[][2] = {{0, cut}, {cut, size}};
  for (const auto& b : bounds) {
    if (b[0] == b[1]) continue;
    vprinter::Session session(printer, "tcp", limits);
    for (size_t at = b[0]; at < b[1];) {
      size_t n = b[1] - at;
      if (!reads.empty()) {
        size_t want = reads[next++ % reads.size()];
        if (want < n) n = want;
      }
      session.feed(stream + at, n);
      out.replies += session.takeReply();
      at += n;
    }
    session.finish();
    out.replies += session.takeReply();
    out.replies += '|';  // the connection's end
  }
  out.labels = printer.labelsPrinted();
  out.errors = printer.errors();
  out.files = printer.files();
  vprinter::Canvas& c = printer.canvas();
  for (int y = 0; y < c.height(); y += 4)  // every fourth row: enough to tell
    for (int x = 0; x < c.width(); ++x) out.dots.push_back(c.isBlack(x, y));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t count = data[0] & 15;
  if (size < 3 + count) return 0;
  std::vector<size_t> reads;
  for (size_t i = 0; i < count; ++i) reads.push_back(data[3 + i] ? data[3 + i] : 1);
  if (reads.empty()) reads.push_back(1);
  const uint8_t* stream = data + 3 + count;
  const size_t length = size - 3 - count;
  const size_t cut = length ? (data[1] | (data[2] << 8)) % length : 0;

  const Outcome whole = serve(stream, length, cut, {});
  const Outcome pieces = serve(stream, length, cut, reads);
  if (whole.replies != pieces.replies || whole.labels != pieces.labels ||
      whole.errors != pieces.errors || whole.files != pieces.files || whole.dots != pieces.dots)
    std::abort();
  return 0;
}
