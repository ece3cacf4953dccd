// Latency of a network round: four commands and one status query against a
// loopback printer stand-in that answers the status request at once.
//
// The status read pauses 50 ms before its first receive, so a round can take
// no less than that; the figure of interest is the counter
// `above_pause_ms`, the time per round minus the 50 ms pause. Beside the
// library's round (TCP_NODELAY, the text sent with MSG_MORE and its line end
// flushing it) stands the same pattern on a plain socket: Nagle on, text and
// line end as two ordinary sends.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "bench_support.h"
#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPauseMs = 50;
constexpr std::size_t kStatusBlock = 200;
constexpr int kPeerLifeMs = 120000;
const char* const kCommands[4] = {"SIZE 100 mm,50 mm", "CLS", "TEXT 10,10,\"3\",0,1,1,\"PALOMA\"",
                                  "PRINT 1,1"};

using paloma::bench::connectLoopback;
using paloma::test::LoopbackPeer;

// A stand-in that answers every complete status request block (ESC "!?" and
// the rest of its block) with the byte 0x00 as soon as its last byte arrives.
LoopbackPeer::Options answeringPeer() {
  auto answer = [from = std::size_t{0}](const std::string& got) mutable {
    LoopbackPeer::Reply r;
    for (std::size_t at; (at = got.find("\x1b!?", from)) != std::string::npos &&
                         got.size() - at >= kStatusBlock;
         from = at + kStatusBlock)
      r.bytes.push_back('\0');
    return r;
  };
  return {answer, true, kPeerLifeMs};
}

void reportAbovePause(benchmark::State& state, Clock::duration total) {
  double perRoundMs =
      std::chrono::duration<double, std::milli>(total).count() / static_cast<double>(state.iterations());
  state.counters["above_pause_ms"] = perRoundMs - kPauseMs;
}

void BM_LibraryRound(benchmark::State& state) {
  LoopbackPeer peer(answeringPeer());
  if (openethernet("127.0.0.1", peer.port()) != 1) {
    state.SkipWithError("no connection to the stand-in");
    return;
  }
  Clock::duration total{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (const char* cmd : kCommands) benchmark::DoNotOptimize(sendcommand(cmd));
    const char* status = ethernetprinterstatus();
    total += Clock::now() - t0;
    if (std::strcmp(status, "00") != 0) {
      state.SkipWithError("the status query failed");
      break;
    }
  }
  reportAbovePause(state, total);
  closeethernetport(0);
}

// The same round on a plain socket: Nagle left on (argument 1: off, as the
// library has it), each command as two ordinary sends, the status block, the
// 50 ms pause, then the receive.
void BM_PlainSocketRound(benchmark::State& state) {
  LoopbackPeer peer(answeringPeer());
  int s = connectLoopback(peer.port());
  if (s < 0) {
    state.SkipWithError("no connection to the stand-in");
    return;
  }
  if (state.range(0) == 1) {
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  timeval tv{1, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  char block[kStatusBlock] = "\x1b!?\r\n";
  Clock::duration total{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (const char* cmd : kCommands) {
      send(s, cmd, std::strlen(cmd), MSG_NOSIGNAL);
      send(s, "\r\n", 2, MSG_NOSIGNAL);
    }
    send(s, block, sizeof block, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
    char reply[16];
    ssize_t n = recv(s, reply, sizeof reply, 0);
    total += Clock::now() - t0;
    if (n != 1) {
      state.SkipWithError("the status reply did not come");
      break;
    }
  }
  reportAbovePause(state, total);
  close(s);
}

BENCHMARK(BM_LibraryRound)->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_PlainSocketRound)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace

int main(int argc, char** argv) {
  return paloma::bench::runBenchmarks(argc, argv, [](const paloma::bench::FiguresReporter& f) {
    const paloma::bench::Figures* ours = f.find("BM_LibraryRound");
    for (const char* plainName : {"BM_PlainSocketRound/0", "BM_PlainSocketRound/1"}) {
      const paloma::bench::Figures* plain = f.find(plainName);
      if (!ours || !plain || plain->cpu <= 0) continue;
      std::printf("library / plain-socket round (%s), CPU per round: %.3f ms / %.3f ms = %.2fx "
                  "(target at most 1.15)\n",
                  plainName[sizeof "BM_PlainSocketRound/" - 1] == '1' ? "Nagle off" : "Nagle on",
                  ours->cpu, plain->cpu, ours->cpu / plain->cpu);
    }
    if (ours)
      std::printf("library above the pause %.3f ms (target at most 0.25)\n",
                  ours->counter("above_pause_ms"));
  });
}
