#include "console.h"

#include <chrono>
#include <vector>

namespace vprinter {

Console::Console(FILE* out, std::size_t maxQueuedBytes)
    : out_(out), maxBytes_(maxQueuedBytes), writer_([this] { run(); }) {}

Console::~Console() {
  flush(1000);
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  wake_.notify_all();
  bool blocked;
  {
    std::lock_guard<std::mutex> g(m_);
    blocked = writing_;
  }
  if (blocked) {
    writer_.detach();  // blocked on the stream: not waited for
  } else {
    writer_.join();
  }
}

void Console::say(const std::string& line) {
  {
    std::lock_guard<std::mutex> g(m_);
    if (queuedBytes_ + line.size() + 1 > maxBytes_) {
      ++dropped_;
      ++droppedUntold_;
      return;
    }
    lines_.push_back(line + "\n");
    queuedBytes_ += line.size() + 1;
  }
  wake_.notify_one();
}

bool Console::flush(int ms) {
  std::unique_lock<std::mutex> l(m_);
  return drained_.wait_for(l, std::chrono::milliseconds(ms),
                           [this] { return lines_.empty() && !writing_; });
}

std::uint64_t Console::dropped() const {
  std::lock_guard<std::mutex> g(m_);
  return dropped_;
}

void Console::run() {
  std::unique_lock<std::mutex> l(m_);
  for (;;) {
    wake_.wait(l, [this] { return stop_ || !lines_.empty() || droppedUntold_ > 0; });
    if (lines_.empty() && droppedUntold_ == 0) {
      if (stop_) return;
      continue;
    }
    std::vector<std::string> batch(lines_.begin(), lines_.end());
    lines_.clear();
    queuedBytes_ = 0;
    std::uint64_t untold = droppedUntold_;
    droppedUntold_ = 0;
    writing_ = true;
    l.unlock();
    // The stream is written with no lock held: callers keep queueing.
    for (const std::string& s : batch) std::fwrite(s.data(), 1, s.size(), out_);
    if (untold > 0)
      std::fprintf(out_, "paloma-vprinter: %llu console line(s) dropped: standard output was not read\n",
                   static_cast<unsigned long long>(untold));
    std::fflush(out_);
    l.lock();
    writing_ = false;
    if (lines_.empty()) drained_.notify_all();
  }
}

}  // namespace vprinter
