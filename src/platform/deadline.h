// One bound for a wait that would otherwise go on as long as a printer keeps
// it going. Every reader loop that waits for a printer holds one of these and
// stops when it has passed. Time comes from os().nowMs(), so on the recording
// fake a bound runs out in virtual time.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace paloma {

// The longest a single query or string read waits for its reply, from the
// moment it starts reading.
inline constexpr int kReplyBoundMs = 5000;

class Deadline {
 public:
  explicit Deadline(int boundMs = kReplyBoundMs)
      : end_(os().nowMs() + static_cast<std::uint64_t>(boundMs > 0 ? boundMs : 0)) {}

  bool passed() const { return os().nowMs() >= end_; }

  // Milliseconds left, at most `cap` (never negative).
  int remainingMs(int cap) const {
    std::uint64_t now = os().nowMs();
    if (now >= end_) return 0;
    std::uint64_t left = end_ - now;
    return left < static_cast<std::uint64_t>(cap) ? static_cast<int>(left) : cap;
  }

 private:
  std::uint64_t end_;
};

}  // namespace paloma
