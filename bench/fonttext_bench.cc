// windowsfont at height 40, for texts of 8, 24 and 96 characters at each
// rotation (0, 90, 180, 270), sent through a file port to /dev/null (the
// sink) and over loopback TCP to a printer stand-in that discards, beside
// baselines measured in the same run:
//   BarePango     Pango drawing the same text, turned the same way, into a
//                 one-bit (A1) surface of the block's size (measure, surface,
//                 draw), nothing sent
//   BarePango8    the same into an 8-bit (A8) surface
//   FullCanvas    the whole-canvas procedure: a 2400 x 12000 one-bit canvas
//                 filled with background, the text drawn into it, the whole
//                 canvas read back into a working buffer, the covered block
//                 sent to the sink one row at a time. warm: both 3.6 MB
//                 buffers made and touched once before timing and reused;
//                 cold: both mapped afresh for every call (every page faulted
//                 in each time), so neither figure depends on what the
//                 allocator happens to reuse
//   RasteriseOnly the library's measuring and drawing alone
// Two texts of each length alternate so that every call lays its text out
// afresh.
//
// Arguments: windowsfont/<0 sink, 1 TCP>/<rotation>/<characters>;
// BarePango, BarePango8/<rotation>/<characters>; FullCanvas/<0 cold, 1 warm>.
//
// Counters:
//   items_per_second   calls per second
//   peak_heap_KB       the most heap any one call held at once beyond what
//                      was live before it (malloc counted in this process;
//                      -1 under AddressSanitizer, which owns malloc)
// At the end the ratios are printed from wall-clock and CPU time (the medians
// with --benchmark_repetitions): windowsfont's time per call over the bare
// one-bit and 8-bit renders for each case, and windowsfont's rate over the
// full-canvas procedure's, warm and cold.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/os.h"
#include "support/loopback_peer.h"

// ---- heap accounting --------------------------------------------------------
#if defined(__SANITIZE_ADDRESS__)
#define PALOMA_BENCH_COUNT_HEAP 0
#else
#define PALOMA_BENCH_COUNT_HEAP 1
#endif

namespace {
std::atomic<long> g_live{0};
std::atomic<long> g_peak{0};
}  // namespace

#if PALOMA_BENCH_COUNT_HEAP
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
void noteAlloc(void* p) {
  if (!p) return;
  const long v = g_live.fetch_add(static_cast<long>(malloc_usable_size(p))) +
                 static_cast<long>(malloc_usable_size(p));
  long peak = g_peak.load();
  while (v > peak && !g_peak.compare_exchange_weak(peak, v)) {
  }
}
void noteFree(void* p) {
  if (p) g_live.fetch_sub(static_cast<long>(malloc_usable_size(p)));
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  noteAlloc(p);
  return p;
}
void free(void* p) {
  noteFree(p);
  __libc_free(p);
}
void* calloc(size_t a, size_t b) {
  void* p = __libc_calloc(a, b);
  noteAlloc(p);
  return p;
}
void* realloc(void* p, size_t n) {
  const long old = p ? static_cast<long>(malloc_usable_size(p)) : 0;
  void* q = __libc_realloc(p, n);
  if (q || n == 0) {
    g_live.fetch_sub(old);
    noteAlloc(q);
  }
  return q;
}
void* memalign(size_t align, size_t n) {
  void* p = __libc_memalign(align, n);
  noteAlloc(p);
  return p;
}
void* aligned_alloc(size_t align, size_t n) { return memalign(align, n); }
int posix_memalign(void** out, size_t align, size_t n) {
  void* p = memalign(align, n);
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}
#endif

namespace {

// Heap held by one call beyond the level before it.
class PeakHeap {
 public:
  void begin() {
    base_ = g_live.load();
    g_peak.store(base_);
  }
  void end() { worst_ = std::max(worst_, g_peak.load() - base_); }
  double kilobytes() const { return PALOMA_BENCH_COUNT_HEAP ? worst_ / 1024.0 : -1; }

 private:
  long base_ = 0;
  long worst_ = 0;
};

const char* const kFace = "DejaVu Sans";
constexpr int kHeight = 40;
// Far enough from the label's edges that no rotation clips the block.
constexpr int kX = 2000, kY = 2000;

// Two texts of each length.
const char* text(int chars, std::size_t i) {
  static const std::string k8[2] = {"Lot 9 ok", "Shelf 17"};
  static const std::string k24[2] = {"Batch 2041-A shelf 17 ok", "Lot 9 expiry 2027-03-31!"};
  static const std::string k96[2] = {k24[0] + " " + k24[1] + " " + k24[0] + " " + k24[1].substr(0, 21),
                                     k24[1] + " " + k24[0] + " " + k24[1] + " " + k24[0].substr(0, 21)};
  const std::string* set = chars <= 8 ? k8 : chars <= 24 ? k24 : k96;
  return set[i & 1].c_str();
}

// The sink: /dev/null opened as a file port of the current connection.
int g_sinkFd = -1;

bool openSink() {
  closeport();
  auto& c = paloma::connection();
  paloma::OpenMode m;
  m.access = paloma::kAccessWrite;
  c.handle = paloma::platformOs().openFile("/dev/null", m);
  if (c.handle == paloma::kInvalidHandle) return false;
  c.lptMode = 1;
  c.isOpen = 1;
  if (g_sinkFd < 0) g_sinkFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  return g_sinkFd >= 0;
}

// A printer stand-in on loopback that reads and drops everything.
paloma::test::LoopbackPeer* g_peer = nullptr;

bool openTcp() {
  closeport();
  if (!g_peer) {
    paloma::test::LoopbackPeer::Options o;
    o.keepBytes = false;
    o.lifeMs = 3600 * 1000;
    g_peer = new paloma::test::LoopbackPeer(o);
  }
  return g_peer->port() > 0 && openethernet("127.0.0.1", g_peer->port()) == 1;
}

// The baselines' Pango state: a font map and context of their own, with the
// same drawing options as the library's, and the em size of a 40-pixel cell.
struct Baseline {
  PangoFontMap* map = nullptr;
  PangoContext* ctx = nullptr;
  PangoFontDescription* desc = nullptr;

  Baseline() {
    map = pango_cairo_font_map_new();
    ctx = pango_font_map_create_context(map);
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_NONE);
    cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(ctx, o);
    cairo_font_options_destroy(o);
    desc = pango_font_description_from_string(kFace);
    pango_font_description_set_absolute_size(desc, 1000 * PANGO_SCALE);
    PangoFont* f = pango_font_map_load_font(map, ctx, desc);
    PangoFontMetrics* m = pango_font_get_metrics(f, nullptr);
    const double cell = pango_font_metrics_get_ascent(m) + pango_font_metrics_get_descent(m);
    pango_font_metrics_unref(m);
    g_object_unref(f);
    pango_font_description_set_absolute_size(desc, kHeight * 1000.0 * PANGO_SCALE * PANGO_SCALE / cell);
  }

  PangoLayout* layout(const char* text) const {
    PangoLayout* l = pango_layout_new(ctx);
    pango_layout_set_font_description(l, desc);
    pango_layout_set_text(l, text, -1);
    return l;
  }
};

const Baseline& baseline() {
  static Baseline* b = new Baseline();
  return *b;
}

void BM_Windowsfont(benchmark::State& state) {
  const bool tcp = state.range(0) == 1;
  const int rotation = static_cast<int>(state.range(1));
  const int chars = static_cast<int>(state.range(2));
  if (!(tcp ? openTcp() : openSink())) {
    state.SkipWithError(tcp ? "no connection to the stand-in" : "no sink");
    return;
  }
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    const int r = windowsfont(kX, kY, kHeight, rotation, 0, 0, kFace, text(chars, i++));
    heap.end();
    if (r != 1) {
      state.SkipWithError("windowsfont failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

// The rasteriser alone, as windowsfont calls it (measure, then draw the block
// that is sent), without the command or the writes: the split of the cost.
void BM_RasteriseOnly(benchmark::State& state) {
  paloma::FontSpec font;
  font.height = kHeight;
  font.faceName = kFace;
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    paloma::HostText t;
    t.bytes = text(24, i++);
    int cx = 0, cy = 0;
    paloma::platformOs().textExtent(font, t, &cx, &cy);
    paloma::BitBlock block;
    paloma::platformOs().drawText(font, t, 0, 0, (cx + 7) / 8 * 8, cy, &block);
    benchmark::DoNotOptimize(block.bits.data());
    heap.end();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

// Measure, make a surface of the turned block's size, draw: the least a
// renderer of its own must do.
void barePango(benchmark::State& state, cairo_format_t format) {
  const Baseline& b = baseline();
  const int rotation = static_cast<int>(state.range(0));
  const int chars = static_cast<int>(state.range(1));
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    PangoLayout* l = b.layout(text(chars, i++));
    int cx = 0, cy = 0;
    pango_layout_get_pixel_size(l, &cx, &cy);
    // The block and the text's origin in it, turned counter-clockwise.
    const bool upright = rotation == 90 || rotation == 270;
    const int w = upright ? cy : cx, h = upright ? cx : cy;
    const double c = rotation == 0 ? 1 : rotation == 180 ? -1 : 0;
    const double s = rotation == 90 ? 1 : rotation == 270 ? -1 : 0;
    const double x0 = rotation == 180 ? cx : rotation == 270 ? cy : 0;
    const double y0 = rotation == 90 ? cx : rotation == 180 ? cy : 0;
    cairo_surface_t* surface = cairo_image_surface_create(format, std::max(w, 1), std::max(h, 1));
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_matrix_t m;
    cairo_matrix_init(&m, c, -s, s, c, x0, y0);
    cairo_set_matrix(cr, &m);
    pango_cairo_show_layout(cr, l);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    cairo_surface_destroy(surface);
    g_object_unref(l);
    heap.end();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

void BM_BarePango(benchmark::State& state) { barePango(state, CAIRO_FORMAT_A1); }
void BM_BarePango8(benchmark::State& state) { barePango(state, CAIRO_FORMAT_A8); }

// The full-canvas procedure's two buffers: the one-bit canvas and the working
// copy it is read back into, 3.6 MB each.
constexpr int kCanvasW = 2400, kCanvasH = 12000;
constexpr std::size_t kCanvasStride = kCanvasW / 8;
constexpr std::size_t kCanvasBytes = kCanvasStride * kCanvasH;

unsigned char* mapBuffer() {
  void* p = mmap(nullptr, kCanvasBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

void BM_FullCanvas(benchmark::State& state) {
  const bool warm = state.range(0) == 1;
  if (!openSink()) {
    state.SkipWithError("no sink");
    return;
  }
  const Baseline& b = baseline();
  unsigned char* canvas = nullptr;
  unsigned char* work = nullptr;
  if (warm) {
    canvas = mapBuffer();
    work = mapBuffer();
    if (!canvas || !work) {
      state.SkipWithError("no memory for the canvas");
      return;
    }
    std::memset(canvas, 0, kCanvasBytes);  // fault every page in before timing
    std::memset(work, 0, kCanvasBytes);
  }
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    if (!warm) {
      canvas = mapBuffer();
      work = mapBuffer();
      if (!canvas || !work) {
        state.SkipWithError("no memory for the canvas");
        break;
      }
    }
    PangoLayout* l = b.layout(text(24, i++));
    int cx = 0, cy = 0;
    pango_layout_get_pixel_size(l, &cx, &cy);
    // The whole canvas filled with background, the text drawn into it.
    std::memset(canvas, 0, kCanvasBytes);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        canvas, CAIRO_FORMAT_A1, kCanvasW, kCanvasH, static_cast<int>(kCanvasStride));
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    pango_cairo_show_layout(cr, l);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    g_object_unref(l);
    // The whole canvas read back into the working buffer.
    std::memcpy(work, canvas, kCanvasBytes);
    // The covered block sent: header, one write per row, line end.
    char header[50];
    const int wb = (cx + 7) / 8;
    const int n = std::snprintf(header, sizeof header, "BITMAP %d,%d,%d,%d,1,", kX, kY, wb, cy);
    benchmark::DoNotOptimize(write(g_sinkFd, header, static_cast<std::size_t>(n)));
    for (int y = 0; y < cy; ++y)
      benchmark::DoNotOptimize(
          write(g_sinkFd, work + static_cast<std::size_t>(y) * kCanvasStride, static_cast<std::size_t>(wb)));
    benchmark::DoNotOptimize(write(g_sinkFd, "\r\n", 2));
    if (!warm) {
      munmap(canvas, kCanvasBytes);
      munmap(work, kCanvasBytes);
    }
    heap.end();
  }
  if (warm) {
    munmap(canvas, kCanvasBytes);
    munmap(work, kCanvasBytes);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

constexpr int kRotations[] = {0, 90, 180, 270};
constexpr int kLengths[] = {8, 24, 96};

void windowsfontCases(benchmark::internal::Benchmark* b) {
  for (int transport : {0, 1})
    for (int r : kRotations)
      for (int n : kLengths) b->Args({transport, r, n});
}
void bareCases(benchmark::internal::Benchmark* b) {
  for (int r : kRotations)
    for (int n : kLengths) b->Args({r, n});
}

BENCHMARK(BM_Windowsfont)->Apply(windowsfontCases)->MinTime(0.5);
BENCHMARK(BM_BarePango)->Apply(bareCases)->MinTime(0.5);
BENCHMARK(BM_BarePango8)->Apply(bareCases)->MinTime(0.5);
BENCHMARK(BM_RasteriseOnly)->MinTime(0.5);
BENCHMARK(BM_FullCanvas)->Arg(0)->Arg(1)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  using paloma::bench::Figures;
  return paloma::bench::runBenchmarks(argc, argv, [](const paloma::bench::FiguresReporter& f) {
    closeport();
    std::printf("\nwindowsfont time per call over the bare render's (real / CPU); target at most 0.9 "
                "against the one-bit render\n");
    std::printf("%-9s %-6s  %-21s %-21s %-21s %-21s\n", "rotation", "chars", "sink/one-bit",
                "sink/8-bit", "TCP/one-bit", "TCP/8-bit");
    for (int r : kRotations)
      for (int n : kLengths) {
        const std::string args = std::to_string(r) + "/" + std::to_string(n);
        const auto sink = f.get("BM_Windowsfont/0/" + args), tcp = f.get("BM_Windowsfont/1/" + args);
        const auto a1 = f.get("BM_BarePango/" + args), a8 = f.get("BM_BarePango8/" + args);
        auto cell = [](const Figures& ours, const Figures& base) {
          char buf[32] = "-";
          if (ours.real > 0 && base.real > 0)
            std::snprintf(buf, sizeof buf, "%.2f / %.2f", ours.real / base.real, ours.cpu / base.cpu);
          return std::string(buf);
        };
        std::printf("%-9d %-6d  %-21s %-21s %-21s %-21s\n", r, n, cell(sink, a1).c_str(),
                    cell(sink, a8).c_str(), cell(tcp, a1).c_str(), cell(tcp, a8).c_str());
      }
    const auto ours = f.get("BM_Windowsfont/0/0/24");
    for (int warm : {1, 0}) {
      const auto full = f.get("BM_FullCanvas/" + std::to_string(warm));
      if (ours.real > 0 && full.real > 0)
        std::printf("windowsfont (sink, 24 characters) / full-canvas procedure (%s), calls per "
                    "second: %.1f real, %.1f CPU (target at least 5)\n",
                    warm ? "warm" : "cold", full.real / ours.real, full.cpu / ours.cpu);
    }
  });
}
