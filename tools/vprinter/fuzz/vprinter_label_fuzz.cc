// libFuzzer target of the printed-label path: a command stream drawn on a
// small label and printed, every label written as a PNG into a scratch
// folder. The first byte picks the resolution (bit 0) and how many label sets
// the closing PRINT asks for (bits 1-2, 1 to 4; at most 2 are written). The
// rest is the stream; "PRINT n" follows it, so every input writes a label.
// Streams that resize the label (SIZE) are left to vprinter_fuzz: here the
// label stays 20 x 10 mm so that every PNG is written and read back quickly.
// Each written PNG must read back with the label's size and the label's
// black dots (every fourth row compared, so that the check costs less than
// the drawing); nothing else may appear in the folder but the bytes each
// label was printed from.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "printer.h"

extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

// A scratch folder of the input's own, removed again when it is done (a
// folder kept for the whole run would stay behind when the fuzzer ends with
// _Exit).
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    char tmpl[] = "/tmp/vprinter-label-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    path = tmpl;
  }
  ~ScratchFolder() { rmdir(path.c_str()); }
};

bool mentionsSize(const uint8_t* data, size_t size) {
  static const char kWord[] = "SIZE";
  for (size_t i = 0; i + 4 <= size; ++i) {
    size_t k = 0;
    while (k < 4 && std::toupper(data[i + k]) == kWord[k]) ++k;
    if (k == 4) return true;
  }
  return false;
}

// The PNG at `path` has the canvas's size and, when `dots`, its black dots.
bool readsBack(const std::string& path, vprinter::Canvas& canvas, bool dots) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  bool same = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS &&
              cairo_image_surface_get_width(s) == canvas.width() &&
              cairo_image_surface_get_height(s) == canvas.height();
  if (same) {
    cairo_surface_flush(s);
    const int stride = cairo_image_surface_get_stride(s);
    const uint8_t* d = cairo_image_surface_get_data(s);
    const bool rgb = cairo_image_surface_get_format(s) == CAIRO_FORMAT_RGB24 ||
                     cairo_image_surface_get_format(s) == CAIRO_FORMAT_ARGB32;
    same = rgb;
    for (int y = 0; dots && same && y < canvas.height(); y += 4)
      for (int x = 0; same && x < canvas.width(); ++x)
        same = (d[y * stride + x * 4 + 1] < 128) == canvas.isBlack(x, y);
  }
  cairo_surface_destroy(s);
  return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t shape = data[0];
  ++data;
  --size;
  if (mentionsSize(data, size)) return 0;
  const int sets = 1 + ((shape >> 1) & 3);
  ScratchFolder scratch;
  const std::string& dir = scratch.path;
  vprinter::PrinterOptions options;
  options.dpi = (shape & 1) ? 300 : 203;
  options.defaultWidthMm = 20;
  options.defaultHeightMm = 10;
  options.maxFileStore = 256u << 10;
  options.maxSetsPerPrint = 2;
  options.outDir = dir;
  vprinter::JsonLog log;
  vprinter::Printer printer(options, &log);
  vprinter::ParserLimits limits;
  limits.maxLine = 4096;
  limits.maxBitmap = 64u << 10;
  limits.maxDownload = 64u << 10;
  {
    vprinter::Session session(printer, "fuzz", limits);
    session.feed(data, size);
    // A payload or line left open ends here, so the PRINT is a command.
    session.finish();
    const std::string print = "PRINT " + std::to_string(sets) + "\r\n";
    session.feed(reinterpret_cast<const uint8_t*>(print.data()), print.size());
    session.finish();
    session.takeReply();
  }
  // The closing PRINT's labels show the canvas as it is now; earlier ones
  // showed it as it was then, so only their size is known.
  const std::vector<std::string>& written = printer.written();
  const size_t last = static_cast<size_t>(sets < options.maxSetsPerPrint ? sets : options.maxSetsPerPrint);
  if (written.size() < last) std::abort();
  for (size_t i = 0; i < written.size(); ++i) {
    const bool closing = i >= written.size() - last;
    if (!readsBack(written[i], printer.canvas(), closing)) std::abort();
    if (unlink(written[i].c_str()) != 0) std::abort();
  }
  // Nothing else was left behind (no half-written file): only the bytes a
  // label was printed from, kept beside it as label-NNNNNN.prn.
  DIR* d = opendir(dir.c_str());
  if (!d) std::abort();
  std::vector<std::string> kept;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    // The printer's own index of the labels it wrote stays too.
    if (n == vprinter::Printer::kIndexName) {
      kept.push_back(dir + "/" + n);
      continue;
    }
    const std::string png = dir + "/" + n.substr(0, n.size() - 4) + ".png";
    bool beside = n.size() > 4 && n.compare(n.size() - 4, 4, ".prn") == 0 &&
                  std::find(written.begin(), written.end(), png) != written.end();
    if (!beside) std::abort();
    kept.push_back(dir + "/" + n);
  }
  closedir(d);
  for (const std::string& k : kept) unlink(k.c_str());
  return 0;
}
