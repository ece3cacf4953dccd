// windowsfont of a 24-character text at height 40, written to /dev/null
// through a file port, beside two baselines in the same run:
//   FullCanvas  the whole-canvas procedure: a 2400 x 12000 one-bit canvas,
//               the text drawn into it, the whole canvas read back, the
//               covered block sent to the same sink
//   BarePango   Pango drawing the same text into an A1 surface of its own
//               size (measure, surface, draw), nothing sent
//   RasteriseOnly  the library's measuring and drawing alone (the share of
//               windowsfont's time that is not the command and its writes)
// Two texts alternate so that every call lays its text out afresh.
//
// Counters:
//   items_per_second   calls per second
//   peak_heap_KB       the most heap any one call held at once beyond what
//                      was live before it (malloc counted in this process;
//                      -1 under AddressSanitizer, which owns malloc)
// At the end the ratios are printed, from wall-clock and from CPU time (the
// medians with --benchmark_repetitions): windowsfont's time per call over
// BarePango's, and windowsfont's rate over FullCanvas's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/os.h"

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
const char* const kTexts[2] = {"Batch 2041-A shelf 17 ok", "Lot 9 expiry 2027-03-31!"};
static_assert(sizeof("Batch 2041-A shelf 17 ok") == 25, "24 characters");
static_assert(sizeof("Lot 9 expiry 2027-03-31!") == 25, "24 characters");
constexpr int kHeight = 40;

// The sink: /dev/null opened as a file port of the current connection.
paloma::Handle g_sink = paloma::kInvalidHandle;
int g_sinkFd = -1;

void openSink() {
  if (g_sink != paloma::kInvalidHandle) return;
  paloma::OpenMode m;
  m.access = paloma::kAccessWrite;
  g_sink = paloma::platformOs().openFile("/dev/null", m);
  auto& c = paloma::connection();
  c.handle = g_sink;
  c.lptMode = 1;
  c.isOpen = 1;
  g_sinkFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
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
  openSink();
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    const int r = windowsfont(10, 20, kHeight, 0, 0, 0, kFace, kTexts[i++ & 1]);
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
    paloma::HostText text;
    text.bytes = kTexts[i++ & 1];
    int cx = 0, cy = 0;
    paloma::platformOs().textExtent(font, text, &cx, &cy);
    paloma::BitBlock block;
    paloma::platformOs().drawText(font, text, 0, 0, (cx + 7) / 8 * 8, cy, &block);
    benchmark::DoNotOptimize(block.bits.data());
    heap.end();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

void BM_FullCanvas(benchmark::State& state) {
  openSink();
  const Baseline& b = baseline();
  constexpr int kW = 2400, kH = 12000;
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    PangoLayout* l = b.layout(kTexts[i++ & 1]);
    int cx = 0, cy = 0;
    pango_layout_get_pixel_size(l, &cx, &cy);
    cairo_surface_t* canvas = cairo_image_surface_create(CAIRO_FORMAT_A1, kW, kH);
    cairo_t* cr = cairo_create(canvas);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);  // background over the block
    cairo_rectangle(cr, 0, 0, cx + 16, cy + 16);
    cairo_fill(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    pango_cairo_show_layout(cr, l);
    cairo_destroy(cr);
    cairo_surface_flush(canvas);
    // Read the whole canvas back into a working buffer.
    const int stride = cairo_image_surface_get_stride(canvas);
    std::vector<unsigned char> work(static_cast<std::size_t>(kW / 8) * kH);
    const unsigned char* src = cairo_image_surface_get_data(canvas);
    for (int y = 0; y < kH; ++y)
      std::memcpy(work.data() + static_cast<std::size_t>(y) * (kW / 8),
                  src + static_cast<std::size_t>(y) * stride, kW / 8);
    cairo_surface_destroy(canvas);
    g_object_unref(l);
    // Send the covered block: header, one write per row, line end.
    char header[50];
    const int wb = (cx + 7) / 8;
    const int n = std::snprintf(header, sizeof header, "BITMAP 10,20,%d,%d,1,", wb, cy);
    benchmark::DoNotOptimize(write(g_sinkFd, header, static_cast<std::size_t>(n)));
    for (int y = 0; y < cy; ++y)
      benchmark::DoNotOptimize(
          write(g_sinkFd, work.data() + static_cast<std::size_t>(y) * (kW / 8), static_cast<std::size_t>(wb)));
    benchmark::DoNotOptimize(write(g_sinkFd, "\r\n", 2));
    heap.end();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

void BM_BarePango(benchmark::State& state) {
  const Baseline& b = baseline();
  PeakHeap heap;
  std::size_t i = 0;
  for (auto _ : state) {
    heap.begin();
    PangoLayout* l = b.layout(kTexts[i++ & 1]);
    int cx = 0, cy = 0;
    pango_layout_get_pixel_size(l, &cx, &cy);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A1, std::max(cx, 1), std::max(cy, 1));
    cairo_t* cr = cairo_create(s);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    pango_cairo_show_layout(cr, l);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
    g_object_unref(l);
    heap.end();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["peak_heap_KB"] = heap.kilobytes();
}

BENCHMARK(BM_Windowsfont)->MinTime(2.0);
BENCHMARK(BM_RasteriseOnly)->MinTime(2.0);
BENCHMARK(BM_FullCanvas)->MinTime(2.0);
BENCHMARK(BM_BarePango)->MinTime(2.0);

// Prints the runs as usual and keeps each benchmark's real and CPU time per
// call (the median when the run is repeated).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Times { double real = 0, cpu = 0; bool median = false; };
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      Times& t = times[r.run_name.function_name];
      if (t.median && !median) continue;
      t = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime(), median};
    }
  }
  std::map<std::string, Times> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto get = [&](const char* name) {
    auto it = reporter.times.find(name);
    return it == reporter.times.end() ? RatioReporter::Times{} : it->second;
  };
  const auto ours = get("BM_Windowsfont"), full = get("BM_FullCanvas"), bare = get("BM_BarePango");
  if (ours.real > 0 && bare.real > 0)
    std::printf("windowsfont / bare Pango render, time per call: %.2f real, %.2f CPU "
                "(target at most 1.3)\n",
                ours.real / bare.real, ours.cpu / bare.cpu);
  if (ours.real > 0 && full.real > 0)
    std::printf("windowsfont / full-canvas procedure, calls per second: %.1f real, %.1f CPU "
                "(target at least 5)\n",
                full.real / ours.real, full.cpu / ours.cpu);
  benchmark::Shutdown();
  return 0;
}
