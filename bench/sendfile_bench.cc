// sendfile of a 200 MB file over TCP to a loopback sink that discards, beside
// a raw read/send loop over the same file to the same kind of sink.
//
// Each iteration times the whole transfer: from the call until the sink has
// read the last byte and seen the connection close. The CPU column is the
// sending thread's own (the sink reads on a thread of its own). Counters:
//   bytes_per_second  throughput
//   peak_rss_MB       the process's peak resident memory during the run
//                     (the high-water mark is reset before each benchmark)
// At the end the ratios against the raw loop are printed (medians with
// --benchmark_repetitions).
// Two reference points without the library show what holding the whole file
// costs (the way files were sent before):
//   BM_whole_block_reference   the same steps by hand (read the file whole into
//                              a fresh block, one send)
//   BM_mapped_block_reference  the file mapped read-only instead of read into
//                              a block, then one send
// and one shows what the kernel's own copy costs without the library around it:
//   BM_kernel_sendfile_reference  sendfile(2) of the whole file on a plain socket
// The file is created in /tmp when first needed and deleted at exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/os.h"
#include "support/loopback_peer.h"

namespace {

constexpr std::size_t kFileBytes = 200u * 1000u * 1000u;
constexpr std::size_t kChunk = 1u << 20;  // the raw loop's buffer

// The 200 MB file, removed when the process ends.
class BenchFile {
 public:
  BenchFile() {
    char tmpl[] = "/tmp/paloma-sendfile-bench-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return;
    path_ = tmpl;
    std::vector<char> block(kChunk);
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::size_t left = kFileBytes;
    while (left > 0) {
      std::size_t n = left < block.size() ? left : block.size();
      if (write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
        path_.clear();
        break;
      }
      left -= n;
    }
    close(fd);
  }
  ~BenchFile() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const BenchFile& benchFile() {
  static BenchFile file;
  return file;
}

using paloma::test::LoopbackPeer;

// A sink on 127.0.0.1 that reads each connection to the end and only counts
// the bytes; nextClosed(30000).count waits until the sender has closed and
// every byte was read.
std::unique_ptr<LoopbackPeer> makeSink() {
  return std::make_unique<LoopbackPeer>(LoopbackPeer::Options{{}, false, 120000});
}

// The process's peak resident memory: reset it, and read it in megabytes.
void resetPeakRss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}
double peakRssMb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

// Connects the library's current connection to the sink through the backend
// (the network transport, as an opened TCP connection leaves it).
bool connectLibrary(int port) {
  using namespace paloma;
  Socket s = os().tcpSocket();
  if (s == kInvalidSocket) return false;
  if (os().tcpConnect(s, 0x7F000001u, static_cast<std::uint16_t>(port)).result != 0) {
    os().closeSocket(s);
    return false;
  }
  os().setSocketTimeouts(s, 1000, 1000);
  ConnectionState& c = connection();
  c.socket = s;
  c.networkMode = 1;
  c.isOpen = 1;
  return true;
}

void BM_sendfile(benchmark::State& state) {
  const std::string& path = benchFile().path();
  if (path.empty()) return state.SkipWithError("could not create the file in /tmp");
  resetPeakRss();
  for (auto _ : state) {
    state.PauseTiming();
    auto sink = makeSink();
    if (!connectLibrary(sink->port())) return state.SkipWithError("could not connect");
    state.ResumeTiming();
    int ok = sendfile(path.c_str());
    paloma::os().closeSocket(paloma::connection().socket);
    std::size_t got = sink->nextClosed(30000).count;
    state.PauseTiming();
    paloma::resetConnection();
    sink.reset();
    state.ResumeTiming();
    if (ok != 1 || got != kFileBytes + 3) return state.SkipWithError("transfer incomplete");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
  state.counters["peak_rss_MB"] = peakRssMb();
}

// How a reference run moves the file to the socket.
enum class Way { ChunkLoop, WholeBlock, Mapped, KernelCopy };

bool sendAll(int s, const char* p, std::size_t n) {
  for (std::size_t done = 0; done < n;) {
    ssize_t w = send(s, p + done, n - done, MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += static_cast<std::size_t>(w);
  }
  return true;
}

bool transfer(Way way, int fd, int s, std::vector<char>& buf) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  const auto size = static_cast<std::size_t>(st.st_size);
  switch (way) {
    case Way::ChunkLoop: {
      ssize_t n;
      while ((n = read(fd, buf.data(), buf.size())) > 0)
        if (!sendAll(s, buf.data(), static_cast<std::size_t>(n))) return false;
      return n == 0;
    }
    case Way::WholeBlock: {
      std::unique_ptr<char[]> block(new char[size]);
      for (std::size_t done = 0; done < size;) {
        ssize_t n = read(fd, block.get() + done, size - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
      }
      return sendAll(s, block.get(), size);
    }
    case Way::Mapped: {
      void* m = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (m == MAP_FAILED) return false;
      bool ok = sendAll(s, static_cast<const char*>(m), size);
      munmap(m, size);
      return ok;
    }
    case Way::KernelCopy: {
      // By its system call number: the name sendfile is the library's here.
      off_t at = 0;
      while (static_cast<std::size_t>(at) < size)
        if (::syscall(SYS_sendfile, s, fd, &at, size - static_cast<std::size_t>(at)) <= 0)
          return false;
      return true;
    }
  }
  return false;
}

// Reference runs on plain sockets: the raw chunk loop is the baseline.
void reference(benchmark::State& state, Way way) {
  const std::string& path = benchFile().path();
  if (path.empty()) return state.SkipWithError("could not create the file in /tmp");
  std::vector<char> buf(kChunk);
  resetPeakRss();
  for (auto _ : state) {
    state.PauseTiming();
    auto sink = makeSink();
    int s = paloma::bench::connectLoopback(sink->port());
    if (s < 0) return state.SkipWithError("could not connect");
    state.ResumeTiming();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && transfer(way, fd, s, buf);
    ok = ok && sendAll(s, "\r\n\0", 3);
    if (fd >= 0) close(fd);
    close(s);
    std::size_t got = sink->nextClosed(30000).count;
    state.PauseTiming();
    sink.reset();
    state.ResumeTiming();
    if (!ok || got != kFileBytes + 3) return state.SkipWithError("transfer incomplete");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
  state.counters["peak_rss_MB"] = peakRssMb();
}

void BM_raw_write_loop(benchmark::State& state) { reference(state, Way::ChunkLoop); }
void BM_whole_block_reference(benchmark::State& state) { reference(state, Way::WholeBlock); }
void BM_mapped_block_reference(benchmark::State& state) { reference(state, Way::Mapped); }
void BM_kernel_sendfile_reference(benchmark::State& state) { reference(state, Way::KernelCopy); }

BENCHMARK(BM_raw_write_loop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_sendfile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_whole_block_reference)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_mapped_block_reference)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_kernel_sendfile_reference)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  return paloma::bench::runBenchmarks(argc, argv, [](const paloma::bench::FiguresReporter& f) {
    const paloma::bench::Figures *ours = f.find("BM_sendfile"), *raw = f.find("BM_raw_write_loop");
    if (ours && raw && ours->real > 0 && ours->cpu > 0) {
      std::printf("\nsendfile / raw read-send loop: throughput %.2fx (target at least 0.95), "
                  "sender CPU %.2fx (target at most 0.8); peak RSS %.1f MB (target under 16) "
                  "against %.1f MB\n",
                  raw->real / ours->real, ours->cpu / raw->cpu, ours->counter("peak_rss_MB"),
                  raw->counter("peak_rss_MB"));
    }
    const paloma::bench::Figures* kernel = f.find("BM_kernel_sendfile_reference");
    if (kernel && raw && kernel->real > 0 && kernel->cpu > 0)
      std::printf("the kernel's sendfile(2) alone / raw loop: throughput %.2fx, sender CPU %.2fx\n",
                  raw->real / kernel->real, kernel->cpu / raw->cpu);
  });
}
