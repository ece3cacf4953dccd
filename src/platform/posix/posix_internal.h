// What the files of the Linux backend share: the table of open resources,
// the monotonic clock and bounded waits, and the bounds themselves. Internal
// to the backend; nothing here is exported (the library hides its symbols).
#pragma once

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/posix/posix_os.h"

namespace paloma {
namespace posix_internal {

// ---- time (posix_os.cc) -----------------------------------------------------

// Milliseconds on the monotonic clock.
std::uint64_t monotonicMs();

// A point in time a bounded wait must not pass.
class Deadline {
 public:
  explicit Deadline(int ms) : end_(monotonicMs() + static_cast<std::uint64_t>(ms > 0 ? ms : 0)) {}
  int remainingMs() const {
    std::uint64_t now = monotonicMs();
    return now >= end_ ? 0 : static_cast<int>(end_ - now);
  }
  bool passed() const { return remainingMs() == 0; }

 private:
  std::uint64_t end_;
};

// Sleeps ms milliseconds, resumed after signals.
void sleepFor(int ms);

// poll() on one descriptor for `events`, restarted on EINTR until the
// deadline. >0 ready, 0 timed out, <0 error.
int pollFor(int fd, short events, int ms);

// ---- bulk writes (posix_files.cc) --------------------------------------------

// Every bulk write to a printer fails when no byte has moved for the stall
// bound, and goes on as long as bytes keep moving, however slowly (a slow
// printer is waited for; a printer that takes nothing is given up on).
// Whatever sets the bound (a socket's send time-out, a device's write bound,
// a per-printer setting) passes it in.
//
// Writes `n` bytes to a descriptor under the stall rule: with send(2) and
// `sendFlags` (MSG_DONTWAIT is added) for a socket, with write(2) when
// `sendFlags` is negative. Waits for room in short slices and tries again
// after each: a socket's sender is woken only once much of its queue has
// drained, so a blocking wait would miss a printer that takes bytes slowly.
// All n bytes written (ok); when nothing moved for `stallMs`, the bytes
// taken before (ok, with ETIMEDOUT and timedOut set) or the failure
// (ETIMEDOUT) when there were none; another error only when no byte was
// written (else ok with the bytes written).
IoResult writeUnderStallBound(int fd, const void* data, std::size_t n, int stallMs,
                              int sendFlags = -1);

// ---- bounds -----------------------------------------------------------------

inline constexpr int kSocketDefaultTimeoutMs = 30000;   // send/recv when none is set
inline constexpr int kDefaultReadBoundMs = 30000;       // a "Blocking" read with no bound given

// ---- the resource table -----------------------------------------------------

struct UsbDevice;   // posix_usb.cc
struct SpoolerJob;  // posix_spooler.cc

// A queue on a print server, named \\SERVER\QUEUE or //SERVER/QUEUE; SERVER
// may carry ":PORT" (631 when it does not). posix_spooler.cc.
struct ServerQueue {
  std::string host;
  int port = 631;
  std::string queue;
  std::string server() const { return host + ":" + std::to_string(port); }
};
bool parseServerQueue(std::string_view name, ServerQueue* out);

// Deletes a job where its type is complete (posix_spooler.cc), so that every
// file can hold a Resource without the spooler's headers.
struct SpoolerJobDeleter {
  void operator()(SpoolerJob* job) const;
};

struct Resource {
  enum Kind { File, Terminal, Device, Usb, Spooler, Socket };
  Kind kind = File;
  int fd = -1;
  bool regular = false;  // a regular file (reads and writes never wait)
  bool pipe = false;     // a pipe: a write without a reader raises SIGPIPE
  std::shared_ptr<UsbDevice> usb;
  std::unique_ptr<SpoolerJob, SpoolerJobDeleter> job;
  // Serial settings with no termios equivalent, kept for the caller.
  SerialTimeouts timeouts;
  bool timeoutsSet = false;
  unsigned eventMask = 0;
  bool dsrSensitivity = false;
  // A socket's send and receive time-outs as last set on it, so that a send
  // or receive knows its bound without asking the kernel each time.
  std::atomic<int> sendTimeoutMs{kSocketDefaultTimeoutMs};
  std::atomic<int> recvTimeoutMs{kSocketDefaultTimeoutMs};
  std::mutex lock;  // serialises use of one resource

  ~Resource() {
    if (fd >= 0) ::close(fd);
  }
};

class ResourceTable {
 public:
  std::intptr_t add(std::shared_ptr<Resource> r) {
    std::lock_guard<std::mutex> g(mu_);
    std::intptr_t id = next_++;
    table_[id] = std::move(r);
    return id;
  }
  std::shared_ptr<Resource> find(std::intptr_t id) {
    std::lock_guard<std::mutex> g(mu_);
    auto it = table_.find(id);
    return it == table_.end() ? nullptr : it->second;
  }
  // Takes the entry out of the table; the resource is released when the
  // last user lets go of it.
  std::shared_ptr<Resource> remove(std::intptr_t id) {
    std::lock_guard<std::mutex> g(mu_);
    auto it = table_.find(id);
    if (it == table_.end()) return nullptr;
    std::shared_ptr<Resource> r = std::move(it->second);
    table_.erase(it);
    return r;
  }
  std::intptr_t nextEvent() {
    std::lock_guard<std::mutex> g(mu_);
    return next_++;
  }

 private:
  std::mutex mu_;
  std::intptr_t next_ = 1;
  std::map<std::intptr_t, std::shared_ptr<Resource>> table_;
};

ResourceTable& resources();

// The resource behind a handle when it is of one of `kinds`, else null.
std::shared_ptr<Resource> findKind(std::intptr_t id, std::initializer_list<Resource::Kind> kinds);

inline IoResult failed(int error) { return {false, 0, error, false}; }

inline bool startsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// ---- terminals (posix_serial.cc) --------------------------------------------

// Raw bytes in and out: no echo, no line editing, no signals, no translation.
void makeRaw(termios* t);

// ---- USB (posix_usb.cc) -----------------------------------------------------

// Opens (or shares, when this process has it open already) the device at a
// USB interface path and claims its printer interface; null when it cannot.
std::shared_ptr<UsbDevice> openUsbDevice(std::string_view path);
IoResult usbWrite(UsbDevice& dev, const void* data, std::size_t n);
IoResult usbRead(UsbDevice& dev, void* buf, std::size_t cap, int waitMs, bool reportTimeout);

}  // namespace posix_internal
}  // namespace paloma
