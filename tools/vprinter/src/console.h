// Lines for a stream nobody may be reading (standard output on a pipe): a
// caller only queues its line, under a short lock, and a thread of the
// console's own writes them. No caller ever waits for the stream, so a full
// pipe cannot stop printing. At most `maxQueuedBytes` wait; a line beyond
// that is dropped and counted, and the count is written as a line of its own
// once the stream takes lines again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace vprinter {

class Console {
 public:
  explicit Console(FILE* out, std::size_t maxQueuedBytes = 1u << 20);
  // Stops the writer once the queue is written or `stopMs` have passed; a
  // writer still blocked on the stream then is left behind (the process is
  // ending), which is why a Console for standard output is never destroyed.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Queues `line` (a newline is added); never blocks on the stream.
  void say(const std::string& line);
  // Waits at most `ms` for every queued line to be written.
  bool flush(int ms);
  // Lines dropped so far because the queue was full.
  std::uint64_t dropped() const;

 private:
  void run();

  FILE* out_;
  std::size_t maxBytes_;
  mutable std::mutex m_;
  std::condition_variable wake_, drained_;
  std::deque<std::string> lines_;
  std::size_t queuedBytes_ = 0;
  std::uint64_t dropped_ = 0, droppedUntold_ = 0;
  bool writing_ = false, stop_ = false;
  std::thread writer_;
};

}  // namespace vprinter
