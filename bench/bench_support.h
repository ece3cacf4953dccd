// Pieces the benchmark executables share: a plain loopback connection for the
// reference runs, and a main that keeps each run's figures for the summary a
// benchmark prints after its table.
#pragma once

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace paloma::bench {

// A plain TCP socket connected to 127.0.0.1:port, or -1 with nothing left
// open.
inline int connectLoopback(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// One benchmark's time per iteration (in the unit it reports) and its
// counters.
struct Figures {
  double real = 0, cpu = 0;
  std::map<std::string, double> counters;
  bool median = false;  // taken from the median of repetitions

  // The counter's value, or 0 where the benchmark did not set it.
  double counter(const std::string& name) const {
    auto it = counters.find(name);
    return it == counters.end() ? 0 : it->second;
  }
};

// Prints the runs as usual and keeps each benchmark's figures by its name
// and arguments ("BM_Windowsfont/0/90/24"): the median when the run is
// repeated, else the run itself. Runs that failed are left out.
class FiguresReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      std::string name = r.run_name.function_name;
      if (!r.run_name.args.empty()) name += "/" + r.run_name.args;
      Figures& f = figures_[name];
      if (f.median && !median) continue;
      f = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime(), {}, median};
      for (const auto& [counter, value] : r.counters) f.counters[counter] = static_cast<double>(value);
    }
  }

  // The figures of `name`, or nullptr where it did not run or failed.
  const Figures* find(const std::string& name) const {
    auto it = figures_.find(name);
    return it == figures_.end() ? nullptr : &it->second;
  }
  // The same, all zero where it did not run or failed.
  Figures get(const std::string& name) const {
    const Figures* f = find(name);
    return f ? *f : Figures{};
  }

 private:
  std::map<std::string, Figures> figures_;
};

// The body of a benchmark's main: runs the benchmarks the command line
// selects, then summarise(const FiguresReporter&) for the lines printed
// after the table. Returns main's exit status.
template <class Summarise>
int runBenchmarks(int argc, char** argv, Summarise summarise) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FiguresReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  summarise(static_cast<const FiguresReporter&>(reporter));
  benchmark::Shutdown();
  return 0;
}

}  // namespace paloma::bench
