// Render rate of the virtual printer: a 100 x 150 mm label at 203 dpi with a
// title, a Code 128 barcode, a QR code and a 300 x 100 dot bitmap, from the
// command stream to the PNG file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "printer.h"

namespace {

std::string labelStream() {
  std::string s =
      "SIZE 100 mm,150 mm\r\nGAP 3 mm,0 mm\r\nCLS\r\n"
      "TEXT 40,40,\"5\",0,1,1,\"PALOMA BENCH\"\r\n"
      "BARCODE 40,140,\"128\",120,2,0,3,6,\"PALOMA-0001\"\r\n"
      "QRCODE 40,340,M,8,A,0,\"https://paloma.invalid/label/0001\"\r\n";
  const int wb = 38, h = 100;  // 304 x 100 dots
  std::string rows;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < wb; ++x) rows.push_back(static_cast<char>(((x + y / 4) & 1) ? 0xF0 : 0x0F));
  }
  s += "BITMAP 400,400," + std::to_string(wb) + "," + std::to_string(h) + ",0," + rows + "\r\n";
  s += "PRINT 1,1\r\n";
  return s;
}

void BM_RenderLabel(benchmark::State& state) {
  char dir[] = "/tmp/vprinter-bench-XXXXXX";
  if (!mkdtemp(dir)) {
    state.SkipWithError("no temporary directory");
    return;
  }
  vprinter::PrinterOptions o;
  o.outDir = state.range(0) ? dir : "";
  vprinter::Printer printer(o, nullptr);
  const std::string stream = labelStream();
  for (auto _ : state) {
    vprinter::Session session(printer, "bench");
    session.feed(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
    session.finish();
  }
  state.SetItemsProcessed(state.iterations());
  for (const std::string& f : printer.written()) unlink(f.c_str());
  rmdir(dir);
}
// 0: drawing only; 1: drawing and writing the PNG.
BENCHMARK(BM_RenderLabel)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
