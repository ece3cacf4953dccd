// A photo to a label: a 1200 x 1800 JPEG decoded, scaled to 812 x 1218 dots
// (4 x 6 inches at 203 dpi), diffused to one bit and sent over loopback TCP,
// against the decoder's decode (as the library calls it) and the same scale
// by stb_image_resize alone. Then the peak memory of one conversion in a fresh child process,
// against the decoded picture's size.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/image.h"
#include "paloma.h"
#include "support/loopback_peer.h"
#include "support/picture_files.h"

#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

namespace {

constexpr int kPhotoW = 1200, kPhotoH = 1800, kDotsW = 812, kDotsH = 1218;

// A photo-like picture: smooth light, a few shapes and fine noise (which
// JPEG keeps as detail), encoded at quality 90.
const paloma::test::Bytes& photo() {
  static const paloma::test::Bytes jpeg = [] {
    paloma::test::Bytes rgb(static_cast<std::size_t>(kPhotoW) * kPhotoH * 3);
    std::uint32_t seed = 12345;
    for (int y = 0; y < kPhotoH; ++y)
      for (int x = 0; x < kPhotoW; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 28) - 8;
        const double r = std::hypot(x - 600.0, y - 700.0);
        int base = static_cast<int>(128 + 100 * std::sin(r / 60.0) * std::cos(x / 140.0));
        if (x > 200 && x < 500 && y > 1200 && y < 1500) base = 30;
        std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * kPhotoW + x) * 3];
        p[0] = static_cast<std::uint8_t>(std::clamp(base + noise + 20, 0, 255));
        p[1] = static_cast<std::uint8_t>(std::clamp(base + noise, 0, 255));
        p[2] = static_cast<std::uint8_t>(std::clamp(base + noise - y / 40, 0, 255));
      }
    return paloma::test::encodeJpeg(kPhotoW, kPhotoH, 3, rgb, 90);
  }();
  return jpeg;
}

paloma_image_options diffusion() {
  paloma_image_options o;
  paloma_image_options_init(&o);
  return o;
}

// The library: decode, convert and send over loopback TCP, all of it.
void BM_PhotoToLabelOverTcp(benchmark::State& state) {
  const auto& jpeg = photo();
  paloma::test::LoopbackPeer::Options po;
  po.keepBytes = false;
  po.lifeMs = 600000;
  paloma::test::LoopbackPeer peer(po);
  if (openethernet("127.0.0.1", peer.port()) != 1) {
    state.SkipWithError("no loopback connection");
    return;
  }
  const paloma_image_options o = diffusion();
  for (auto _ : state) {
    if (paloma_sendimage_memory(0, 0, jpeg.data(), jpeg.size(), kDotsW, kDotsH, &o) != 1) {
      state.SkipWithError(paloma_last_error());
      break;
    }
  }
  closeport();
}

// The conversion alone, nothing sent.
void BM_PhotoToCommand(benchmark::State& state) {
  const auto& jpeg = photo();
  paloma::image::Options o;
  for (auto _ : state) {
    std::string wire;
    if (!paloma::image::encodedPictureCommand(jpeg.data(), jpeg.size(), 0, 0, kDotsW, kDotsH, o,
                                              &wire).ok()) {
      state.SkipWithError("refused");
      break;
    }
    benchmark::DoNotOptimize(wire.data());
  }
}

// The decoder's decode as the library calls it (the header checks before it
// cost microseconds) and stb_image_resize to the same size: the floor the
// library is measured against.
void BM_StbDecodeAndResize(benchmark::State& state) {
  const auto& jpeg = photo();
  std::vector<unsigned char> out(static_cast<std::size_t>(kDotsW) * kDotsH * 3);
  for (auto _ : state) {
    paloma::image::DecodedPicture px;
    if (!paloma::image::decodePicture(jpeg.data(), jpeg.size(), &px).ok() ||
        px.format != paloma::image::PixelFormat::Rgb8) {
      state.SkipWithError("the photo did not decode as RGB");
      break;
    }
    stbir_resize_uint8(px.pixels.get(), px.width, px.height, px.width * 3, out.data(), kDotsW,
                       kDotsH, kDotsW * 3, 3);
    benchmark::DoNotOptimize(out.data());
  }
}

// The decode alone.
void BM_StbDecode(benchmark::State& state) {
  const auto& jpeg = photo();
  for (auto _ : state) {
    paloma::image::DecodedPicture px;
    benchmark::DoNotOptimize(paloma::image::decodePicture(jpeg.data(), jpeg.size(), &px).ok());
    benchmark::DoNotOptimize(px.pixels.get());
  }
}

BENCHMARK(BM_PhotoToLabelOverTcp)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_PhotoToCommand)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_StbDecodeAndResize)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_StbDecode)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

long statusKb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return -1;
}

// The peak resident memory one conversion adds, measured in a fresh process
// (this program run again with --peak): the JPEG made and the memory it took
// returned, the high-water mark reset, one conversion, the mark read again.
long peakKbInThisProcess() {
  const auto& jpeg = photo();
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark starts again here
  const long before = statusKb("VmHWM:");
  std::string wire;
  if (!paloma::image::encodedPictureCommand(jpeg.data(), jpeg.size(), 0, 0, kDotsW, kDotsH,
                                            paloma::image::Options(), &wire).ok())
    return -1;
  return statusKb("VmHWM:") - before;
}

long peakKbOfOneConversion() {
  // popen's shell is a process of its own, so this program's path is read
  // here first.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  self[n] = 0;
  FILE* p = popen((std::string("'") + self + "' --peak").c_str(), "r");
  if (!p) return -1;
  long kb = -1;
  if (std::fscanf(p, "%ld", &kb) != 1) kb = -1;
  pclose(p);
  return kb;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--peak") == 0) {
    std::printf("%ld\n", peakKbInThisProcess());
    return 0;
  }
  photo();  // made before any timing
  return paloma::bench::runBenchmarks(argc, argv, [](const paloma::bench::FiguresReporter& f) {
    const auto ours = f.get("BM_PhotoToLabelOverTcp"), floor = f.get("BM_StbDecodeAndResize");
    std::printf("\nJPEG %d x %d (%zu bytes) to %d x %d dots, medians:\n", kPhotoW, kPhotoH,
                photo().size(), kDotsW, kDotsH);
    if (ours.real > 0 && floor.real > 0)
      std::printf("library over TCP %.2f ms / stb decode + resize %.2f ms = %.2f (target at most "
                  "1.5; and under 25 ms)\n",
                  ours.real, floor.real, ours.real / floor.real);
    const long peak = peakKbOfOneConversion();
    const double decodedKb = kPhotoW * kPhotoH * 3 / 1024.0;
    if (peak >= 0)
      std::printf("peak memory of one conversion: %ld KiB = %.2f x the decoded picture's %.0f KiB "
                  "(target under 3)\n",
                  peak, peak / decodedKb, decodedKb);
  });
}
