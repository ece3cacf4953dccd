// Many printers at once: printer handles beside the process-wide slots,
// against loopback printer stand-ins of this file.
//
//  - Round trips (a status query and its byte) from 32 threads on 32
//    handles, one printer silent; beside it one handle alone, and the
//    legacy equivalent: five slots from five threads, one silent.
//  - Throughput to printers that read slowly (64 KB every 50 ms), one and
//    eight at once, each sending 1 MB and closing (the close waits until the
//    printer holds everything).
//  - Status polling rate, one handle and sixteen from sixteen threads, with
//    printers that answer after 5 ms (a printer's own answer time) and at
//    once; beside it the legacy slots.
//  - 100,000 status and information queries on one handle, the resident
//    size before and after.
//  - Open, status, close on a handle and on the single connection; and the
//    whole `paloma status --to tcp://...` process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "paloma.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// A printer on 127.0.0.1 serving one connection at a time on its own thread:
// it answers every status request (ESC "!?") with 0x00 and every serial
// number query with "SN-0001" and STX, after `replyMs`; or stays silent; or
// reads 64 KB every 50 ms. It keeps nothing of what it reads. Every wait is
// bounded; the destructor stops and joins it.
class BenchPrinter {
 public:
  enum class Mode { Answer, Silent, SlowReader };

  explicit BenchPrinter(Mode mode, int replyMs = 0) : mode_(mode), replyMs_(replyMs) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return;
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (mode_ == Mode::SlowReader) {
      // A small window, as a printer's: the sender waits on the reader.
      int room = 64 * 1024;
      setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      close(listener_);
      listener_ = -1;
      return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~BenchPrinter() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  BenchPrinter(const BenchPrinter&) = delete;
  BenchPrinter& operator=(const BenchPrinter&) = delete;

  int port() const { return port_; }

 private:
  static constexpr int kSliceMs = 50;

  void run() {
    while (!stop_) {
      pollfd q{listener_, POLLIN, 0};
      if (poll(&q, 1, kSliceMs) <= 0) continue;
      int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      serve(c);
      close(c);
    }
  }

  // Waits at most one slice for bytes; false when the connection ended.
  bool readable(int c) {
    pollfd q{c, POLLIN, 0};
    return poll(&q, 1, kSliceMs) >= 0;
  }

  void serve(int c) {
    std::vector<char> buf(64 * 1024);
    std::string carry;
    static const std::string kStatus = "\x1b!?";
    static const std::string kSerial = "OUT \"\x02\"\r\n";
    while (!stop_) {
      if (!readable(c)) return;
      if (mode_ == Mode::SlowReader) {
        // Up to 64 KB, then a pause.
        std::size_t got = 0;
        while (got < buf.size()) {
          ssize_t n = recv(c, buf.data() + got, buf.size() - got, MSG_DONTWAIT);
          if (n == 0) return;
          if (n < 0) break;
          got += static_cast<std::size_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      ssize_t n = recv(c, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n == 0) return;
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return;
      }
      if (mode_ == Mode::Silent) continue;
      std::string text = carry + std::string(buf.data(), static_cast<std::size_t>(n));
      std::string answer;
      std::size_t from = 0;
      for (;;) {
        std::size_t s = text.find(kStatus, from), q = text.find(kSerial, from);
        if (s == std::string::npos && q == std::string::npos) break;
        if (s < q) {
          answer.push_back('\0');
          from = s + kStatus.size();
        } else {
          answer += "SN-0001\x02";
          from = q + kSerial.size();
        }
      }
      std::size_t keep = std::max(from, text.size() > 16 ? text.size() - 16 : 0);
      carry = text.substr(keep);
      if (answer.empty()) continue;
      if (replyMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(replyMs_));
      if (send(c, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size()))
        return;
    }
  }

  Mode mode_;
  int replyMs_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Many answering printers served by one thread (poll over every listener and
// connection), so that the callers do not share the cores with a thread per
// printer. Printer `silent` (or none, -1) reads and never answers.
class PrinterPool {
 public:
  PrinterPool(int count, int silent) : silent_(silent) {
    for (int i = 0; i < count; ++i) {
      int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof a;
      if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 4) != 0 ||
          getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (l >= 0) close(l);
        ports_.push_back(0);
        continue;
      }
      ports_.push_back(ntohs(a.sin_port));
      slots_.push_back({l, -1, i, {}});
    }
    thread_ = std::thread([this] { run(); });
  }
  ~PrinterPool() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (Slot& s : slots_) {
      if (s.conn >= 0) close(s.conn);
      close(s.listener);
    }
  }
  PrinterPool(const PrinterPool&) = delete;
  PrinterPool& operator=(const PrinterPool&) = delete;

  std::string uri(int i) const {
    return "tcp://127.0.0.1:" + std::to_string(ports_[static_cast<std::size_t>(i)]);
  }

 private:
  struct Slot {
    int listener;
    int conn;
    int index;
    std::string carry;
  };

  void run() {
    std::vector<pollfd> fds;
    std::vector<char> buf(64 * 1024);
    static const std::string kStatus = "\x1b!?";
    while (!stop_) {
      fds.clear();
      for (Slot& s : slots_) fds.push_back({s.conn >= 0 ? s.conn : s.listener, POLLIN, 0});
      if (poll(fds.data(), fds.size(), 50) <= 0) continue;
      for (std::size_t k = 0; k < slots_.size(); ++k) {
        if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Slot& s = slots_[k];
        if (s.conn < 0) {
          s.conn = accept4(s.listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
          continue;
        }
        ssize_t n = recv(s.conn, buf.data(), buf.size(), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
          close(s.conn);
          s.conn = -1;
          s.carry.clear();
          continue;
        }
        if (n < 0 || s.index == silent_) continue;
        std::string text = s.carry + std::string(buf.data(), static_cast<std::size_t>(n));
        std::string answer;
        std::size_t from = 0;
        for (std::size_t at; (at = text.find(kStatus, from)) != std::string::npos;
             from = at + kStatus.size())
          answer.push_back('\0');
        s.carry = text.substr(std::max(from, text.size() > 4 ? text.size() - 4 : 0));
        if (!answer.empty()) send(s.conn, answer.data(), answer.size(), MSG_NOSIGNAL);
      }
    }
  }

  int silent_;
  std::vector<int> ports_;
  std::vector<Slot> slots_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::string uriOf(const BenchPrinter& p) { return "tcp://127.0.0.1:" + std::to_string(p.port()); }

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

void reportLatencies(benchmark::State& state, const std::vector<double>& ms) {
  state.counters["p50_ms"] = percentile(ms, 0.50);
  state.counters["p99_ms"] = percentile(ms, 0.99);
  state.counters["max_ms"] = percentile(ms, 1.0);
  state.counters["rounds"] = static_cast<double>(ms.size());
}

// ---- round trips with one printer silent -----------------------------------------

constexpr int kRoundsPerThread = 100;
constexpr int kSilentBoundMs = 1000;

// Handles: `printers` printers from as many threads, the last silent when
// `silent` (its handle waits out a 1 s reply bound, again and again, until
// the others are done); the printers a thread each, or all on one thread
// when `pooled`.
void BM_HandleRoundTrip(benchmark::State& state) {
  const int printers = static_cast<int>(state.range(0));
  const bool silent = state.range(1) != 0;
  const bool pooled = state.range(2) != 0;
  std::vector<std::unique_ptr<BenchPrinter>> peers;
  std::unique_ptr<PrinterPool> pool;
  if (pooled) pool = std::make_unique<PrinterPool>(printers, silent ? printers - 1 : -1);
  std::vector<paloma_printer*> handles;
  for (int i = 0; i < printers; ++i) {
    std::string uri;
    if (pooled) {
      uri = pool->uri(i);
    } else {
      peers.push_back(std::make_unique<BenchPrinter>(silent && i == printers - 1
                                                         ? BenchPrinter::Mode::Silent
                                                         : BenchPrinter::Mode::Answer));
      uri = uriOf(*peers.back());
    }
    paloma_printer* p = nullptr;
    if (paloma_open(uri.c_str(), &p) != PALOMA_OK) {
      state.SkipWithError("a loopback printer did not open");
      for (paloma_printer* h : handles) paloma_close(h);
      return;
    }
    paloma_set_reply_timeout(p, kSilentBoundMs);
    handles.push_back(p);
  }
  std::vector<double> all;
  int silentWaits = 0;
  for (auto _ : state) {
    std::vector<std::vector<double>> ms(static_cast<std::size_t>(printers));
    std::atomic<int> healthyLeft{printers - (silent ? 1 : 0)};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < printers; ++i) {
      threads.emplace_back([&, i] {
        paloma_printer* p = handles[static_cast<std::size_t>(i)];
        std::uint8_t byte = 0;
        if (silent && i == printers - 1) {
          // At least one whole wait, and on while the others run.
          do {
            if (paloma_status(p, &byte) == PALOMA_ERROR_NO_REPLY) ++silentWaits;
          } while (healthyLeft.load() > 0);
          return;
        }
        for (int r = 0; r < kRoundsPerThread; ++r) {
          const auto t = Clock::now();
          if (paloma_status(p, &byte) != PALOMA_OK) ++failures;
          ms[static_cast<std::size_t>(i)].push_back(msSince(t));
        }
        --healthyLeft;
      });
    }
    for (std::thread& t : threads) t.join();
    state.SetIterationTime(msSince(start) / 1000.0);
    if (failures) state.SkipWithError("a healthy printer did not answer");
    for (auto& v : ms) all.insert(all.end(), v.begin(), v.end());
  }
  for (paloma_printer* p : handles) paloma_close(p);
  reportLatencies(state, all);
  state.counters["silent_waits"] = silentWaits;
}
BENCHMARK(BM_HandleRoundTrip)
    ->ArgNames({"printers", "silent", "pooled"})
    ->Args({1, 0, 0})
    ->Args({32, 0, 0})
    ->Args({32, 1, 0})
    ->Args({32, 0, 1})
    ->Args({32, 1, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The legacy equivalent: the five slots from five threads, slot 5 silent;
// every slot call takes the one process-wide lock (and a status query holds
// it across its 50 ms pause and the reply wait).
void BM_LegacySlotRoundTrip(benchmark::State& state) {
  const int slots = static_cast<int>(state.range(0));
  const bool silent = state.range(1) != 0;
  const int rounds = 10;
  std::vector<std::unique_ptr<BenchPrinter>> peers;
  for (int n = 1; n <= slots; ++n) {
    peers.push_back(std::make_unique<BenchPrinter>(silent && n == slots ? BenchPrinter::Mode::Silent
                                                                        : BenchPrinter::Mode::Answer));
    if (openethernetmult(n, "127.0.0.1", peers.back()->port()) != 1) {
      state.SkipWithError("a slot did not connect");
      for (int k = 1; k < n; ++k) closeethernetportmult(k, 0);
      return;
    }
  }
  std::vector<double> all;
  int silentWaits = 0;
  for (auto _ : state) {
    std::vector<std::vector<double>> ms(static_cast<std::size_t>(slots));
    std::atomic<int> healthyLeft{slots - (silent ? 1 : 0)};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int n = 1; n <= slots; ++n) {
      threads.emplace_back([&, n] {
        if (silent && n == slots) {
          do {
            if (std::strcmp(ethernetprinterstatusmult(n), "-1") == 0) ++silentWaits;
          } while (healthyLeft.load() > 0);
          return;
        }
        for (int r = 0; r < rounds; ++r) {
          const auto t = Clock::now();
          ethernetprinterstatusmult(n);
          ms[static_cast<std::size_t>(n - 1)].push_back(msSince(t));
        }
        --healthyLeft;
      });
    }
    for (std::thread& t : threads) t.join();
    state.SetIterationTime(msSince(start) / 1000.0);
    for (auto& v : ms) all.insert(all.end(), v.begin(), v.end());
  }
  for (int n = 1; n <= slots; ++n) closeethernetportmult(n, 0);
  reportLatencies(state, all);
  state.counters["silent_waits"] = silentWaits;
}
BENCHMARK(BM_LegacySlotRoundTrip)
    ->ArgNames({"slots", "silent"})
    ->Args({1, 0})
    ->Args({5, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- throughput to slowly reading printers -------------------------------------------

constexpr std::size_t kJobBytes = 1 << 20;

// Each of `printers` threads opens a handle, writes 1 MB in 64 KB pieces
// and closes it (the close returns once the printer holds every byte).
void BM_SlowReaders(benchmark::State& state) {
  const int printers = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<BenchPrinter>> peers;
  for (int i = 0; i < printers; ++i)
    peers.push_back(std::make_unique<BenchPrinter>(BenchPrinter::Mode::SlowReader));
  const std::vector<unsigned char> piece(64 * 1024, 'x');
  for (auto _ : state) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < printers; ++i) {
      threads.emplace_back([&, i] {
        paloma_printer* p = nullptr;
        if (paloma_open(uriOf(*peers[static_cast<std::size_t>(i)]).c_str(), &p) != PALOMA_OK) {
          ++failures;
          return;
        }
        for (std::size_t done = 0; done < kJobBytes; done += piece.size())
          if (paloma_write(p, piece.data(), piece.size()) != PALOMA_OK) {
            ++failures;
            break;
          }
        if (paloma_close(p) != PALOMA_OK) ++failures;
      });
    }
    for (std::thread& t : threads) t.join();
    state.SetIterationTime(msSince(start) / 1000.0);
    if (failures) {
      state.SkipWithError("a send failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * printers *
                          static_cast<std::int64_t>(kJobBytes));
}
BENCHMARK(BM_SlowReaders)
    ->ArgName("printers")
    ->Arg(1)
    ->Arg(8)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- status polling --------------------------------------------------------------------

constexpr int kPollMs = 2000;

// `threads` threads each poll their own handle for 2 s; the printers answer
// after `replyMs`.
void BM_StatusPoll(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const int replyMs = static_cast<int>(state.range(1));
  std::vector<std::unique_ptr<BenchPrinter>> peers;
  std::vector<paloma_printer*> handles;
  for (int i = 0; i < threads; ++i) {
    peers.push_back(std::make_unique<BenchPrinter>(BenchPrinter::Mode::Answer, replyMs));
    paloma_printer* p = nullptr;
    if (paloma_open(uriOf(*peers.back()).c_str(), &p) != PALOMA_OK) {
      state.SkipWithError("a loopback printer did not open");
      for (paloma_printer* h : handles) paloma_close(h);
      return;
    }
    handles.push_back(p);
  }
  double polls = 0, seconds = 0;
  for (auto _ : state) {
    std::atomic<long> count{0};
    std::vector<std::thread> pool;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(kPollMs);
    for (paloma_printer* p : handles)
      pool.emplace_back([&count, p, end] {
        std::uint8_t byte = 0;
        while (Clock::now() < end)
          if (paloma_status(p, &byte) == PALOMA_OK) ++count;
      });
    for (std::thread& t : pool) t.join();
    const double s = msSince(start) / 1000.0;
    state.SetIterationTime(s);
    polls += static_cast<double>(count.load());
    seconds += s;
  }
  for (paloma_printer* p : handles) paloma_close(p);
  state.counters["polls_per_s"] = seconds > 0 ? polls / seconds : 0;
}
BENCHMARK(BM_StatusPoll)
    ->ArgNames({"threads", "reply_ms"})
    ->Args({1, 5})
    ->Args({16, 5})
    ->Args({1, 0})
    ->Args({16, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The legacy slots, `threads` of them from as many threads, for 2 s.
void BM_LegacyStatusPoll(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const int replyMs = static_cast<int>(state.range(1));
  std::vector<std::unique_ptr<BenchPrinter>> peers;
  for (int n = 1; n <= threads; ++n) {
    peers.push_back(std::make_unique<BenchPrinter>(BenchPrinter::Mode::Answer, replyMs));
    if (openethernetmult(n, "127.0.0.1", peers.back()->port()) != 1) {
      state.SkipWithError("a slot did not connect");
      for (int k = 1; k < n; ++k) closeethernetportmult(k, 0);
      return;
    }
  }
  double polls = 0, seconds = 0;
  for (auto _ : state) {
    std::atomic<long> count{0};
    std::vector<std::thread> pool;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(kPollMs);
    for (int n = 1; n <= threads; ++n)
      pool.emplace_back([&count, n, end] {
        while (Clock::now() < end)
          if (std::strcmp(ethernetprinterstatusmult(n), "00") == 0) ++count;
      });
    for (std::thread& t : pool) t.join();
    const double s = msSince(start) / 1000.0;
    state.SetIterationTime(s);
    polls += static_cast<double>(count.load());
    seconds += s;
  }
  for (int n = 1; n <= threads; ++n) closeethernetportmult(n, 0);
  state.counters["polls_per_s"] = seconds > 0 ? polls / seconds : 0;
}
BENCHMARK(BM_LegacyStatusPoll)
    ->ArgNames({"threads", "reply_ms"})
    ->Args({1, 5})
    ->Args({5, 5})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- no growth ---------------------------------------------------------------------------

long residentKb() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  long pages = 0, resident = 0;
  const int got = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return got == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

constexpr int kQueries = 100000;
constexpr int kWarmQueries = 1000;

// 100,000 rounds of a status and an information query on one handle; the
// resident size after the first 1,000 and after the last.
void BM_QueriesResident(benchmark::State& state) {
  BenchPrinter printer(BenchPrinter::Mode::Answer);
  paloma_printer* p = nullptr;
  if (paloma_open(uriOf(printer).c_str(), &p) != PALOMA_OK) {
    state.SkipWithError("the loopback printer did not open");
    return;
  }
  long before = 0, after = 0;
  int failures = 0;
  char serial[64];
  for (auto _ : state) {
    for (int i = 0; i < kQueries; ++i) {
      if (i == kWarmQueries) before = residentKb();
      std::uint8_t byte = 0;
      if (paloma_status(p, &byte) != PALOMA_OK) ++failures;
      if (paloma_info(p, "serial", serial, sizeof serial) != PALOMA_OK ||
          std::strcmp(serial, "SN-0001") != 0)
        ++failures;
    }
    after = residentKb();
  }
  paloma_close(p);
  if (failures) state.SkipWithError("a query failed");
  state.counters["rss_after_1000_kb"] = static_cast<double>(before);
  state.counters["rss_after_100000_kb"] = static_cast<double>(after);
  state.counters["rss_growth_kb"] = static_cast<double>(after - before);
  state.counters["queries"] = 2.0 * kQueries;
}
BENCHMARK(BM_QueriesResident)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- open, status, close ---------------------------------------------------------------

void BM_HandleOpenStatusClose(benchmark::State& state) {
  BenchPrinter printer(BenchPrinter::Mode::Answer);
  const std::string uri = uriOf(printer);
  for (auto _ : state) {
    paloma_printer* p = nullptr;
    std::uint8_t byte = 0;
    if (paloma_open(uri.c_str(), &p) != PALOMA_OK || paloma_status(p, &byte) != PALOMA_OK) {
      paloma_close(p);
      state.SkipWithError("open or status failed");
      break;
    }
    paloma_close(p);
  }
}
BENCHMARK(BM_HandleOpenStatusClose)->Iterations(50)->Unit(benchmark::kMillisecond);

// The single connection's way: openethernet, ethernetprinterstatus, closeport
// (with its 1000 ms pause before the close).
void BM_LegacyOpenStatusClose(benchmark::State& state) {
  BenchPrinter printer(BenchPrinter::Mode::Answer);
  for (auto _ : state) {
    if (openethernet("127.0.0.1", printer.port()) != 1) {
      state.SkipWithError("openethernet failed");
      break;
    }
    ethernetprinterstatus();
    closeport();
  }
}
BENCHMARK(BM_LegacyOpenStatusClose)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

#ifdef PALOMA_CLI_EXE
// The whole process: `paloma status --to tcp://127.0.0.1:PORT`, from the
// start of the program to its exit.
void BM_CliStatus(benchmark::State& state) {
  BenchPrinter printer(BenchPrinter::Mode::Answer);
  std::string to = uriOf(printer);
  for (auto _ : state) {
    std::string exe = PALOMA_CLI_EXE;
    char arg0[] = "paloma", arg1[] = "status", arg2[] = "--to";
    char* argv[] = {arg0, arg1, arg2, to.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("paloma status failed");
      break;
    }
  }
}
BENCHMARK(BM_CliStatus)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
  return paloma::bench::runBenchmarks(argc, argv, [](const paloma::bench::FiguresReporter& f) {
    auto figure = [&f](const char* name, const char* counter) {
      return f.get(name).counter(counter);
    };
    std::printf("\nAgainst the targets:\n");
    const double one = figure("BM_HandleRoundTrip/printers:1/silent:0/pooled:0", "p99_ms");
    const double many =
        figure("BM_HandleRoundTrip/printers:32/silent:1/pooled:1", "p99_ms");
    const double legacy =
        figure("BM_LegacySlotRoundTrip/slots:5/silent:1", "p99_ms");
    std::printf("  round trip p99: one handle %.2f ms; 32 handles, one silent %.2f ms (target < 5); "
                "legacy 5 slots, one silent %.1f ms\n", one, many, legacy);
    const double slow1 = f.get("BM_SlowReaders/printers:1").counter("bytes_per_second");
    const double slow8 = f.get("BM_SlowReaders/printers:8").counter("bytes_per_second");
    std::printf("  slow readers: 8 printers %.2fx one (target >= 7)\n", slow1 > 0 ? slow8 / slow1 : 0);
    const double poll1 = figure("BM_StatusPoll/threads:1/reply_ms:5", "polls_per_s");
    const double poll16 = figure("BM_StatusPoll/threads:16/reply_ms:5", "polls_per_s");
    std::printf("  status polling, 5 ms printers: 16 handles %.1fx one (target >= 14); %.0f vs %.0f "
                "per second\n", poll1 > 0 ? poll16 / poll1 : 0, poll16, poll1);
    std::printf("  resident growth over 100,000 queries: %.0f KB\n",
                figure("BM_QueriesResident", "rss_growth_kb"));
  });
}
