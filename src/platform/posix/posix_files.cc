// The Linux backend's files and devices: regular files, printer ports,
// terminals and pipes as file descriptors (USB printers are handed to
// posix_usb.cc), and the mapping from port names to paths.
#include "platform/posix/posix_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace paloma {

using namespace posix_internal;

namespace {

constexpr int kUsbArrivedMs = 1;                        // a USB "what has arrived" read
constexpr std::size_t kFileCopyPieceBytes = 1u << 30;  // one sendfile call at most

// The stall rule of the bulk writes (see writeUnderStallBound): the time
// left before a write that moves nothing fails, renewed whenever bytes move.
class StallBound {
 public:
  explicit StallBound(int stallMs) : stallMs_(stallMs), left_(stallMs) {}
  void moved() { left_ = Deadline(stallMs_); }
  bool passed() const { return left_.passed(); }
  int remainingMs() const { return left_.remainingMs(); }
  int stallMs() const { return stallMs_; }

 private:
  int stallMs_;
  Deadline left_;
};

// ---- descriptor I/O ----------------------------------------------------------

// Keeps SIGPIPE from this thread while it lives: a write to a pipe whose
// reader has gone fails with EPIPE, and the signal it raised is taken back
// before the mask is restored, so it is never delivered (its default action
// ends the process).
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_) == 0;
  }
  ~SigpipeBlock() {
    if (!blocked_) return;
    int saved = errno;
    if (raised_ && !wasPending_) {
      timespec zero{0, 0};
      while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    errno = saved;
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;
  void failedWith(int error) {
    if (error == EPIPE) raised_ = true;
  }

 private:
  sigset_t pipeSet_;
  sigset_t old_;
  bool wasPending_ = false;
  bool blocked_ = false;
  bool raised_ = false;
};

// Writes all n bytes under the stall rule (the bound restarts whenever bytes
// move). Returns the count accepted; a failure after some bytes reports
// those bytes.
IoResult writeDescriptor(int fd, const void* data, std::size_t n, int boundMs, bool pipe = false) {
  std::optional<SigpipeBlock> sigpipe;
  if (pipe) sigpipe.emplace();
  IoResult r = writeUnderStallBound(fd, data, n, boundMs);
  if (!r.ok && sigpipe) sigpipe->failedWith(r.error);
  return r;
}

// True when the far side of a descriptor has hung up (a terminal whose line
// went away, a pipe without a writer).
bool hungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, 0);
  while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & POLLHUP);
}

// Reads from a descriptor that is no regular file. Nothing read although the
// descriptor was ready means the far side hung up: that read fails, so that
// no reader takes a dead line for a silent one.
IoResult readDescriptor(int fd, void* buf, std::size_t cap, int waitMs, bool reportTimeout) {
  if (cap == 0) return {true, 0, 0, false};
  int r = pollFor(fd, POLLIN, waitMs);
  if (r < 0) return failed(errno);
  if (r == 0) return {true, 0, 0, reportTimeout};
  for (;;) {
    ssize_t got = ::read(fd, buf, cap);
    if (got == 0 && hungUp(fd)) return failed(EIO);
    if (got >= 0) return {true, static_cast<std::size_t>(got), 0, false};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {true, 0, 0, false};
    return failed(errno);
  }
}

// A terminal's reads wait as the remembered time-outs say: "return at once"
// (an interval of 0xFFFFFFFF with no totals) makes every read take only what
// has arrived, as a serial port does with those settings.
bool terminalReturnsAtOnce(const Resource& r) {
  return r.timeoutsSet && r.timeouts.readInterval == 0xFFFFFFFFu &&
         r.timeouts.readTotalMultiplier == 0 && r.timeouts.readTotalConstant == 0;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// "COM<n>" with n >= 1: n, else 0.
unsigned comNumber(std::string_view name) {
  if (name.size() < 4 || !equalsIgnoreCase(name.substr(0, 3), "COM")) return 0;
  unsigned n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9' || n > 100000) return 0;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  return n;
}

// A file name whose directory is /dev or below it by another spelling
// ("//dev/lp0", "/tmp/../dev/lp0", "lp0" with /dev as the working
// directory, a link to it) names a device as well.
bool inDeviceDirectory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  char* real = realpath(dir.c_str(), nullptr);
  if (!real) return false;  // no such directory: nothing can be created there
  std::string_view r(real);
  bool inside = r == "/dev" || startsWith(r, "/dev/");
  std::free(real);
  return inside;
}

}  // namespace

// ---- helpers shared with the tests -------------------------------------------

namespace posix {

PortTarget mapPortName(std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};
  if (startsWith(name, "/dev/")) return {PortTarget::Device, std::string(name)};
  for (int i = 1; i <= 4; ++i) {
    char lpt[] = {'L', 'P', 'T', static_cast<char>('0' + i), '\0'};
    if (equalsIgnoreCase(name, lpt)) return {PortTarget::Device, "/dev/lp" + std::to_string(i - 1)};
  }
  std::string_view com = name;
  bool deviceNamespace = startsWith(name, "\\\\.\\");
  if (deviceNamespace) com = name.substr(4);
  if (unsigned n = comNumber(com)) return {PortTarget::Device, "/dev/ttyS" + std::to_string(n - 1)};
  if (startsWith(name, "\\\\?\\")) {
    std::uint16_t vid = 0, pid = 0;
    std::string location;
    if (parseUsbInterfacePath(name, &vid, &pid, &location)) return {PortTarget::Usb, std::string(name)};
    return {};
  }
  // Other device-namespace names are no files.
  if (deviceNamespace) return {};
  return {PortTarget::RegularFile, std::string(name)};
}

int deviceWriteTimeoutMs(std::size_t n) {
  std::size_t ms = n > 3000000 ? 30000 : 10 * n + 100;
  return static_cast<int>(std::clamp<std::size_t>(ms, 1000, 30000));
}

}  // namespace posix

namespace posix_internal {

IoResult writeUnderStallBound(int fd, const void* data, std::size_t n, int stallMs,
                              int sendFlags) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  StallBound stall(stallMs);
  bool readyButRefused = false;
  while (done < n) {
    ssize_t w = sendFlags >= 0 ? ::send(fd, p + done, n - done, sendFlags | MSG_DONTWAIT)
                               : ::write(fd, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      stall.moved();
      readyButRefused = false;
      continue;
    }
    if (w < 0 && errno == EINTR && !stall.passed()) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      int e = errno;
      return done > 0 ? IoResult{true, done, 0, false} : failed(e);
    }
    // Nothing taken: wait for room, a short slice at a time. A device
    // without poll support says "ready" at once; pause briefly then so the
    // loop does not spin.
    if (stall.passed()) break;
    if (readyButRefused) sleepFor(std::min(5, stall.remainingMs()));
    int r = pollFor(fd, POLLOUT, std::min(stall.remainingMs(), sendFlags >= 0 ? 20 : 100));
    if (r < 0) {
      int e = errno;
      return done > 0 ? IoResult{true, done, 0, false} : failed(e);
    }
    readyButRefused = r > 0;
  }
  if (done == n) return {true, done, 0, false};
  // Nothing moved for the whole bound: the bytes taken before, marked as
  // timed out, or the failure when there were none.
  if (done > 0) return {true, done, ETIMEDOUT, true};
  return {false, 0, ETIMEDOUT, true};
}

}  // namespace posix_internal

// ---- files and devices -------------------------------------------------------

// A serial opener's open: only a character device that is a terminal. The
// path is looked at before it is opened, so a regular file is never opened
// at all (nor created, nor truncated), and any other device is closed again
// untouched.
namespace {
Handle openTerminal(const posix::PortTarget& target, const OpenMode& mode) {
  if (target.kind == posix::PortTarget::Invalid || target.kind == posix::PortTarget::Usb) {
    errno = ENOTTY;
    return kInvalidHandle;
  }
  struct stat before {};
  if (::stat(target.path.c_str(), &before) != 0) return kInvalidHandle;
  if (!S_ISCHR(before.st_mode)) {
    errno = ENOTTY;
    return kInvalidHandle;
  }
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (mode.noFollow ? O_NOFOLLOW : 0);
  bool read = mode.access & kAccessRead, write = mode.access & kAccessWrite;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  int fd;
  do fd = ::open(target.path.c_str(), flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidHandle;
  if (!isatty(fd)) {
    ::close(fd);
    errno = ENOTTY;
    return kInvalidHandle;
  }
  auto r = std::make_shared<Resource>();
  r->fd = fd;
  r->kind = Resource::Terminal;
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    makeRaw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  return resources().add(std::move(r));
}
}  // namespace

std::string PosixOs::deviceFor(std::string_view path) {
  posix::PortTarget target = posix::mapPortName(path);
  return target.kind == posix::PortTarget::Invalid ? std::string(path) : target.path;
}

bool PosixOs::isSymbolicLink(std::string_view path) {
  struct stat st {};
  std::string p(path);
  return p.find('\0') == std::string::npos && lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Handle PosixOs::openFile(std::string_view path, const OpenMode& mode) {
  posix::PortTarget target = posix::mapPortName(path);
  // Failures that come from no system call leave the errno that says why.
  if (target.kind == posix::PortTarget::Invalid) {
    errno = ENOENT;
    return kInvalidHandle;
  }
  if (target.kind == posix::PortTarget::Usb) {
    auto dev = openUsbDevice(target.path);
    if (!dev) {
      errno = ENODEV;
      return kInvalidHandle;
    }
    auto r = std::make_shared<Resource>();
    r->kind = Resource::Usb;
    r->usb = std::move(dev);
    return resources().add(std::move(r));
  }
  if (mode.disposition == Disposition::OpenTerminal) return openTerminal(target, mode);
  // Waits are ours (poll with a bound), so no descriptor ever blocks; this
  // also keeps open() itself from waiting (a FIFO without a reader, a
  // printer port that is offline).
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (mode.noFollow ? O_NOFOLLOW : 0);
  bool read = mode.access & kAccessRead, write = mode.access & kAccessWrite;
  if (read && write) flags |= O_RDWR;
  else if (write) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  bool device = target.kind == posix::PortTarget::Device || inDeviceDirectory(target.path);
  // Devices open as they are: never created, never truncated.
  if (!device && mode.disposition != Disposition::OpenExisting) flags |= O_CREAT;
  int fd;
  do fd = ::open(target.path.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidHandle;
  auto r = std::make_shared<Resource>();
  r->fd = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) return kInvalidHandle;  // r closes fd
  // A directory is no file to read or write: its open fails, as a file
  // open of a directory does on Windows.
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return kInvalidHandle;
  }
  r->regular = S_ISREG(st.st_mode);
  r->pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  if (isatty(fd)) {
    r->kind = Resource::Terminal;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
      makeRaw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
  } else {
    r->kind = r->regular ? Resource::File : Resource::Device;
  }
  if (r->regular && !device) {
    // No sharing: a second exclusive open of the same file fails, as it
    // would where files carry share modes.
    if (mode.share == kShareNone && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      errno = EBUSY;  // another handle holds the file
      return kInvalidHandle;
    }
    if (mode.disposition == Disposition::CreateAlways && write && ftruncate(fd, 0) != 0)
      return kInvalidHandle;
  }
  return resources().add(std::move(r));
}

namespace {
// How long a write of n bytes to a descriptor may wait while nothing is taken:
// a terminal's own write time-outs when set, else the device bound.
int writeBoundMs(const Resource& r, std::size_t n) {
  if (r.kind == Resource::Terminal && r.timeoutsSet &&
      (r.timeouts.writeTotalMultiplier || r.timeouts.writeTotalConstant)) {
    std::uint64_t ms = static_cast<std::uint64_t>(r.timeouts.writeTotalMultiplier) * n +
                       r.timeouts.writeTotalConstant;
    return static_cast<int>(std::clamp<std::uint64_t>(ms, 1000, 30000));
  }
  return posix::deviceWriteTimeoutMs(n);
}

IoResult writeResource(Resource& r, const void* data, std::size_t n) {
  if (!data && n) return failed(EFAULT);
  switch (r.kind) {
    case Resource::File:
      return writeDescriptor(r.fd, data, n, posix::deviceWriteTimeoutMs(n));
    case Resource::Terminal:
      return writeDescriptor(r.fd, data, n, writeBoundMs(r, n));
    case Resource::Device:
      return writeDescriptor(r.fd, data, n, posix::deviceWriteTimeoutMs(n), r.pipe);
    case Resource::Usb:
      return usbWrite(*r.usb, data, n);
    default:
      return failed(EBADF);
  }
}
}  // namespace

IoResult PosixOs::writeFile(Handle h, const void* data, std::size_t n) {
  auto r = findKind(h, {Resource::File, Resource::Terminal, Resource::Device, Resource::Usb});
  if (!r) return failed(EBADF);
  std::lock_guard<std::mutex> g(r->lock);
  return writeResource(*r, data, n);
}

// Writes here complete before returning, so the overlapped form is the plain
// write; the event has nothing to signal.
IoResult PosixOs::writeOverlapped(Handle h, const void* data, std::size_t n, Event) {
  return writeFile(h, data, n);
}

IoResult PosixOs::readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) {
  auto r = findKind(h, {Resource::File, Resource::Terminal, Resource::Device, Resource::Usb});
  if (!r || (!buf && cap)) return failed(EBADF);
  std::lock_guard<std::mutex> g(r->lock);
  int waitMs = 0;
  if (wait == ReadWait::AtMostMs) waitMs = std::max(0, timeoutMs);
  if (wait == ReadWait::Blocking) waitMs = timeoutMs > 0 ? timeoutMs : kDefaultReadBoundMs;
  if (wait == ReadWait::Blocking && r->kind == Resource::Terminal && terminalReturnsAtOnce(*r)) {
    wait = ReadWait::Arrived;
    waitMs = 0;
  }
  bool reportTimeout = wait != ReadWait::Arrived;
  if (r->kind == Resource::Usb)
    return usbRead(*r->usb, buf, cap, wait == ReadWait::Arrived ? kUsbArrivedMs : waitMs,
                   reportTimeout);
  if (r->regular) {
    for (;;) {
      ssize_t got = ::read(r->fd, buf, cap);
      if (got >= 0) return {true, static_cast<std::size_t>(got), 0, false};
      if (errno != EINTR) return failed(errno);
    }
  }
  return readDescriptor(r->fd, buf, cap, waitMs, reportTimeout);
}

std::int64_t PosixOs::fileSize(Handle h) {
  auto r = findKind(h, {Resource::File, Resource::Terminal, Resource::Device});
  if (!r) return -1;
  struct stat st {};
  if (fstat(r->fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

namespace {

// The kernel's sendfile(2), called by its number: the library exports a
// function of that name itself, which must never stand in for it.
ssize_t kernelSendfile(int out, int in, off_t* offset, std::size_t n) {
  return static_cast<ssize_t>(::syscall(SYS_sendfile, out, in, offset, n));
}

}  // namespace

FileCopyResult PosixOs::copyFile(Handle file, std::uint64_t offset, std::size_t n, Handle to,
                                 Socket sock) {
  FileCopyResult result;  // Unsupported, nothing moved
  auto src = findKind(file, {Resource::File});
  if (!src || !src->regular || offset > static_cast<std::uint64_t>(INT64_MAX) - n) return result;
  // USB printers and spooler jobs are not descriptors: they are read and
  // written by the caller.
  std::shared_ptr<Resource> dst =
      to != kInvalidHandle ? findKind(to, {Resource::File, Resource::Terminal, Resource::Device})
                           : findKind(sock, {Resource::Socket});
  if (!dst || dst == src) return result;
  std::lock_guard<std::mutex> g(dst->lock);
  const bool socket = dst->kind == Resource::Socket;
  // A peer or reader that has gone raises SIGPIPE (no MSG_NOSIGNAL here).
  std::optional<SigpipeBlock> sigpipe;
  if (socket || dst->pipe) sigpipe.emplace();
  // The stall rule: the wait while the target takes nothing, renewed
  // whenever bytes move: a socket's send time-out, a device's write bound.
  const int boundMs = socket ? dst->sendTimeoutMs.load(std::memory_order_relaxed)
                             : writeBoundMs(*dst, std::min<std::size_t>(n, kFileCopyPieceBytes));
  StallBound stall(boundMs);
  // A socket is made non-blocking for the copy: a blocked sender is woken
  // only once much of its queue has drained, so a blocking copy would miss a
  // printer that takes bytes slowly. Its mode is restored on every path.
  struct NonBlocking {
    int fd = -1, flags = 0;
    ~NonBlocking() {
      if (fd >= 0) fcntl(fd, F_SETFL, flags);
    }
  } nonBlocking;
  if (socket) {
    int flags = fcntl(dst->fd, F_GETFL);
    if (flags >= 0 && fcntl(dst->fd, F_SETFL, flags | O_NONBLOCK) == 0) {
      nonBlocking.fd = dst->fd;
      nonBlocking.flags = flags;
    }
  }
  bool readyButRefused = false;
  off_t at = static_cast<off_t>(offset);
  while (result.count < n) {
    const std::size_t piece = std::min(n - result.count, kFileCopyPieceBytes);
    ssize_t moved = kernelSendfile(dst->fd, src->fd, &at, piece);
    if (moved > 0) {
      result.count += static_cast<std::size_t>(moved);
      stall.moved();
      readyButRefused = false;
      continue;
    }
    if (moved == 0) {
      result.status = FileCopyResult::FileEnded;
      return result;
    }
    const int e = errno;
    if (e == EINTR && !stall.passed()) continue;
    if ((e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) && result.count == 0) return result;
    if (e == EAGAIN || e == EWOULDBLOCK) {
      // No room: wait for some, a short slice at a time, while the stall
      // bound lasts.
      if (!stall.passed()) {
        if (readyButRefused && !socket) sleepFor(std::min(5, stall.remainingMs()));
        int r = pollFor(dst->fd, POLLOUT, std::min(stall.remainingMs(), socket ? 20 : 100));
        if (r >= 0) {
          readyButRefused = r > 0;
          continue;
        }
      }
      result.status = FileCopyResult::Failed;
      result.error = ETIMEDOUT;
      result.timedOut = true;
      return result;
    }
    if (sigpipe) sigpipe->failedWith(e);
    result.status = FileCopyResult::Failed;
    result.error = e == EINTR ? ETIMEDOUT : e;
    result.timedOut = e == EINTR;
    return result;
  }
  result.status = FileCopyResult::Done;
  return result;
}

bool PosixOs::closeHandle(Handle h) {
  auto r = findKind(h, {Resource::File, Resource::Terminal, Resource::Device, Resource::Usb});
  if (!r) return false;
  return resources().remove(h) != nullptr;
}

Event PosixOs::createEvent() { return resources().nextEvent(); }
void PosixOs::closeEvent(Event) {}

}  // namespace paloma
