// The Linux backend of the OS seam: the clock, bounded waits, the table of
// open resources, messages and the backend instance. Each device family has
// a file of its own (posix_files.cc, posix_serial.cc, posix_usb.cc,
// posix_net.cc, posix_spooler.cc, posix_text.cc); see posix_os.h for the
// names openFile accepts.
#include "platform/posix/posix_internal.h"

#include <errno.h>
#include <poll.h>
#include <time.h>

#include "platform/message_handler.h"

namespace paloma {
namespace posix_internal {

// ---- time --------------------------------------------------------------------

std::uint64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void sleepFor(int ms) {
  if (ms <= 0) return;
  timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

// poll() on one descriptor for `events`, restarted on EINTR until the
// deadline. >0 ready, 0 timed out, <0 error.
int pollFor(int fd, short events, int ms) {
  Deadline d(ms);
  for (;;) {
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, d.remainingMs());
    if (r >= 0) return r;
    if (errno != EINTR) return -1;
  }
}

// ---- the resource table ----------------------------------------------------

ResourceTable& resources() {
  static ResourceTable table;
  return table;
}

std::shared_ptr<Resource> findKind(std::intptr_t id, std::initializer_list<Resource::Kind> kinds) {
  std::shared_ptr<Resource> r = resources().find(id);
  if (!r) return nullptr;
  for (Resource::Kind k : kinds)
    if (r->kind == k) return r;
  return nullptr;
}

}  // namespace posix_internal

using namespace posix_internal;

// ---- messages and time -------------------------------------------------------

void PosixOs::message(std::string_view text, std::string_view caption, MessageIcon icon) {
  deliverMessage(text, caption, icon);
}

void PosixOs::sleepMs(int ms) { sleepFor(ms); }

std::uint64_t PosixOs::nowMs() { return monotonicMs(); }

Os& platformOs() {
  static PosixOs instance;
  return instance;
}

}  // namespace paloma
