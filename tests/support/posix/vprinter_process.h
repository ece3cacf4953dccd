// The virtual printer as a child process of a test: started with an output
// folder of its own, its announce lines read as they come, stopped (by its
// process id) and its folder removed when this goes away.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace paloma::test {

class VPrinterProcess {
 public:
  // May put files into the output folder before the printer starts.
  using Prepare = std::function<void(const std::string& dir)>;

  // Runs the program `exe` with `--out FOLDER` and `args`. When the folder or
  // the pipe cannot be made, nothing runs (and port() is 0).
  VPrinterProcess(const std::string& exe, std::vector<std::string> args,
                  const Prepare& prepare = nullptr);
  ~VPrinterProcess();
  VPrinterProcess(const VPrinterProcess&) = delete;
  VPrinterProcess& operator=(const VPrinterProcess&) = delete;

  // Reads announce lines (at most `ms`) until one starts with `prefix`
  // (after the program's name); returns the rest of it, "" when none came.
  std::string waitFor(const std::string& prefix, int ms = 10000);
  // The TCP port it announced on 127.0.0.1 (0: none); read once, then kept.
  int port();
  std::string uri() { return "tcp://127.0.0.1:" + std::to_string(port()); }
  // Sends `sig` and returns how many milliseconds the program took to end
  // (-1: not within 5 s; it is then killed).
  long long stop(int sig);
  // The wait status of a program stopped by stop() (-1 before).
  int exitStatus() const { return exitStatus_; }
  std::string log() const { return dir_ + "/log.jsonl"; }
  std::string dir() const { return dir_; }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  int out_ = -1;
  int port_ = 0;
  std::string dir_;
  std::string buffered_;
};

}  // namespace paloma::test
