// A raw queue of the local print scheduler, made for one test and removed
// after it. Whether one can be made depends on the machine (a scheduler
// running, lpadmin installed, the right to add printers), so a queue that
// cannot be made says why, for the test to skip with that reason.
#pragma once

#include <string>

namespace paloma::test {

class SpoolerQueue {
 public:
  // Makes the queue `name` that sends its jobs, unchanged, to `deviceUri`
  // (socket://127.0.0.1:PORT). Waits at most 30 s for lpadmin.
  SpoolerQueue(std::string name, const std::string& deviceUri);
  ~SpoolerQueue();
  SpoolerQueue(const SpoolerQueue&) = delete;
  SpoolerQueue& operator=(const SpoolerQueue&) = delete;

  // Empty when the queue exists; otherwise why it could not be made.
  const std::string& unavailable() const { return why_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::string why_;
  bool made_ = false;
};

// Runs a shell command (ended after `seconds`) and returns its exit status
// (-1 when it did not exit), with its output, stdout and stderr together, in
// `*output` (the first 4 kB).
int runCommandOutput(const std::string& cmd, std::string* output, int seconds = 30);

}  // namespace paloma::test
