// The Linux backend of the OS seam: CUPS, file descriptors, termios, libusb,
// BSD sockets. See posix_os.h for the names openFile accepts.
#include "platform/posix/posix_os.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <errno.h>
#include <fcntl.h>
#include <libusb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/message_handler.h"

namespace paloma {
namespace {

// ---- time --------------------------------------------------------------------

std::uint64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

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

// ---- bounds ----------------------------------------------------------------

constexpr int kConnectTimeoutMs = 5000;       // TCP connect
constexpr int kSocketDefaultTimeoutMs = 30000; // send/recv when none is set
constexpr int kDefaultReadBoundMs = 30000;    // a "Blocking" read with no bound given
constexpr int kCupsConnectTimeoutMs = 5000;   // reaching the CUPS server
constexpr double kCupsLookupTimeoutSec = 5.0; // a question about its queues
constexpr double kCupsIoTimeoutSec = 15.0;    // any one exchange of a job with it
constexpr int kUsbArrivedMs = 1;              // a USB "what has arrived" read

// ---- the resource table ----------------------------------------------------

struct UsbDevice {
  libusb_device_handle* handle = nullptr;
  int interfaceNumber = -1;
  bool claimed = false;
  bool reattach = false;
  std::uint8_t endpointOut = 0;
  std::uint8_t endpointIn = 0;
  int inPacketSize = 64;
  std::string location;
  // The part of the last IN packet that did not fit the caller's buffer,
  // handed out by the next reads; a write (a new exchange) drops it.
  std::vector<unsigned char> pending;
  std::size_t pendingAt = 0;

  ~UsbDevice() {
    if (!handle) return;
    if (claimed) libusb_release_interface(handle, interfaceNumber);
    if (reattach) libusb_attach_kernel_driver(handle, interfaceNumber);
    libusb_close(handle);
  }
};

struct SpoolerJob {
  http_t* http = nullptr;
  std::string destination;
  std::string docName;
  int jobId = 0;
  bool documentOpen = false;
  bool documentSent = false;

  ~SpoolerJob() {
    if (http) httpClose(http);
  }
};

struct Resource {
  enum Kind { File, Terminal, Device, Usb, Spooler, Socket };
  Kind kind = File;
  int fd = -1;
  bool regular = false;  // a regular file (reads and writes never wait)
  bool pipe = false;     // a pipe: a write without a reader raises SIGPIPE
  std::shared_ptr<UsbDevice> usb;
  std::unique_ptr<SpoolerJob> job;
  // Serial settings with no termios equivalent, kept for the caller.
  SerialTimeouts timeouts;
  bool timeoutsSet = false;
  unsigned eventMask = 0;
  bool dsrSensitivity = false;
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

IoResult failed(int error) { return {false, 0, error, false}; }

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

// Writes all n bytes, waiting for writability up to the deadline. Returns the
// count accepted; a failure after some bytes reports those bytes.
IoResult writeDescriptor(int fd, const void* data, std::size_t n, int boundMs, bool pipe = false) {
  std::optional<SigpipeBlock> sigpipe;
  if (pipe) sigpipe.emplace();
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  Deadline deadline(boundMs);
  bool readyButRefused = false;
  while (done < n) {
    ssize_t w = ::write(fd, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      readyButRefused = false;
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      int e = errno;
      if (sigpipe) sigpipe->failedWith(e);
      return done > 0 ? IoResult{true, done, 0, false} : failed(e);
    }
    // Nothing taken: wait for room. A device without poll support says
    // "ready" at once; pause briefly then so the loop does not spin.
    if (deadline.passed()) break;
    if (readyButRefused) sleepFor(std::min(5, deadline.remainingMs()));
    int r = pollFor(fd, POLLOUT, std::min(deadline.remainingMs(), 100));
    if (r < 0) {
      int e = errno;
      return done > 0 ? IoResult{true, done, 0, false} : failed(e);
    }
    readyButRefused = r > 0;
  }
  if (done > 0) return {true, done, 0, false};
  if (n == 0) return {true, 0, 0, false};
  return {false, 0, ETIMEDOUT, true};
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

// ---- terminals ---------------------------------------------------------------

struct BaudEntry {
  std::uint32_t rate;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
    {230400, B230400},
};

// Raw bytes in and out: no echo, no line editing, no signals, no translation.
void makeRaw(termios* t) {
  t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                       IXON | IXOFF | IXANY);
  t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag |= CREAD | CLOCAL;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

// ---- CUPS --------------------------------------------------------------------

// A connection of our own to the CUPS server, with a bounded connect and
// bounded exchanges (no time-out callback: a stalled exchange fails). Every
// question is asked on it: the library's lookups (cupsGetNamedDest,
// cupsGetDests) fall back to a connection of their own without these bounds
// when the server does not answer, and wait minutes on a hung server.
http_t* connectCups(double timeoutSec) {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              kCupsConnectTimeoutMs, nullptr);
  if (http) httpSetTimeout(http, timeoutSec, nullptr, nullptr);
  return http;
}

bool ippSucceeded(ipp_status_t s) { return s < IPP_STATUS_REDIRECTION_OTHER_SITE; }

bool startDocument(SpoolerJob& job) {
  if (job.jobId == 0 || job.documentOpen || job.documentSent) return job.documentOpen;
  http_status_t st = cupsStartDocument(job.http, job.destination.c_str(), job.jobId,
                                       job.docName.c_str(), CUPS_FORMAT_RAW, 1);
  job.documentOpen = st == HTTP_STATUS_CONTINUE;
  return job.documentOpen;
}

bool finishDocument(SpoolerJob& job) {
  if (!job.documentOpen) return false;
  job.documentOpen = false;
  job.documentSent = true;
  return ippSucceeded(cupsFinishDocument(job.http, job.destination.c_str()));
}

// Ends the job: the open document is finished; a job that never got a
// document is cancelled rather than left waiting in the queue.
bool endJob(SpoolerJob& job) {
  if (job.jobId == 0) return false;
  bool ok = true;
  if (job.documentOpen) {
    ok = finishDocument(job);
  } else if (!job.documentSent) {
    cupsCancelJob2(job.http, job.destination.c_str(), job.jobId, 0);
  }
  job.jobId = 0;
  job.documentSent = false;
  return ok;
}

// One attribute of a queue, asked of the server: its first value, or "" when
// the server has no such queue or gave no answer.
std::string askPrinterAttribute(http_t* http, const char* name, const char* attribute,
                                ipp_tag_t valueTag) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                       "/printers/%s", name) != HTTP_URI_STATUS_OK)
    return {};
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               attribute);
  ipp_t* response = cupsDoRequest(http, request, "/");  // frees the request
  std::string result;
  if (response) {
    ipp_attribute_t* a = ippFindAttribute(response, attribute, valueTag);
    if (ippSucceeded(ippGetStatusCode(response)) && a && ippGetString(a, 0, nullptr))
      result = ippGetString(a, 0, nullptr);
    ippDelete(response);
  }
  return result;
}

// ---- USB ---------------------------------------------------------------------

constexpr const char* kUsbPathHead = "\\\\?\\usb#vid_";
constexpr const char* kUsbInterfaceClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

struct UsbState {
  std::mutex mu;
  libusb_context* ctx = nullptr;
  bool tried = false;
  std::map<std::string, std::weak_ptr<UsbDevice>> open;  // by location
};

UsbState& usbState() {
  static UsbState s;
  return s;
}

// The process's libusb context, made on first use; null if libusb cannot
// start (no USB file system, for instance). Caller holds usbState().mu.
libusb_context* usbContextLocked() {
  UsbState& s = usbState();
  if (!s.tried) {
    s.tried = true;
    if (libusb_init(&s.ctx) != 0) s.ctx = nullptr;
  }
  return s.ctx;
}

std::string locationOf(libusb_device* dev) {
  std::uint8_t ports[8];
  int n = libusb_get_port_numbers(dev, ports, static_cast<int>(sizeof ports));
  return posix::usbLocation(libusb_get_bus_number(dev), ports, n < 0 ? 0 : n);
}

// Finds the printer-class interface with a bulk OUT endpoint (and a bulk IN
// one if it has it) in the active configuration.
bool findPrinterInterface(libusb_device* dev, UsbDevice* out, int* altSetting) {
  libusb_config_descriptor* cfg = nullptr;
  if (libusb_get_active_config_descriptor(dev, &cfg) != 0 || !cfg) return false;
  bool found = false;
  for (int i = 0; i < cfg->bNumInterfaces && !found; ++i) {
    const libusb_interface& itf = cfg->interface[i];
    for (int a = 0; a < itf.num_altsetting && !found; ++a) {
      const libusb_interface_descriptor& d = itf.altsetting[a];
      if (d.bInterfaceClass != LIBUSB_CLASS_PRINTER) continue;
      std::uint8_t epOut = 0, epIn = 0;
      int inSize = 64;
      for (int e = 0; e < d.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& ep = d.endpoint[e];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
          if (!epIn) {
            epIn = ep.bEndpointAddress;
            inSize = ep.wMaxPacketSize > 0 ? ep.wMaxPacketSize : 64;
          }
        } else if (!epOut) {
          epOut = ep.bEndpointAddress;
        }
      }
      if (!epOut) continue;
      out->interfaceNumber = d.bInterfaceNumber;
      out->endpointOut = epOut;
      out->endpointIn = epIn;
      out->inPacketSize = inSize;
      *altSetting = d.bAlternateSetting;
      found = true;
    }
  }
  libusb_free_config_descriptor(cfg);
  return found;
}

// Opens (or shares, when this process has it open already) the device at a
// USB interface path and claims its printer interface. A device this process
// holds is shared only while it is still the one at that location: a printer
// unplugged and plugged in again is opened anew, not handed out dead.
std::shared_ptr<UsbDevice> openUsbDevice(std::string_view path) {
  std::uint16_t vid = 0, pid = 0;
  std::string location;
  if (!posix::parseUsbInterfacePath(path, &vid, &pid, &location)) return nullptr;
  UsbState& s = usbState();
  std::lock_guard<std::mutex> g(s.mu);
  std::shared_ptr<UsbDevice> held;
  auto shared = s.open.find(location);
  if (shared != s.open.end()) {
    held = shared->second.lock();
    if (!held) s.open.erase(shared);
  }
  libusb_context* ctx = usbContextLocked();
  if (!ctx) return nullptr;
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(ctx, &list);
  if (count < 0) return held;
  std::shared_ptr<UsbDevice> result;
  for (ssize_t i = 0; i < count && !result; ++i) {
    libusb_device* dev = list[i];
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != 0) continue;
    if (desc.idVendor != vid || desc.idProduct != pid || locationOf(dev) != location) continue;
    if (held && libusb_get_device(held->handle) == dev) {
      result = held;
      break;
    }
    auto candidate = std::make_shared<UsbDevice>();
    candidate->location = location;
    int alt = 0;
    if (!findPrinterInterface(dev, candidate.get(), &alt)) break;
    if (libusb_open(dev, &candidate->handle) != 0) {
      candidate->handle = nullptr;
      break;
    }
    if (libusb_kernel_driver_active(candidate->handle, candidate->interfaceNumber) == 1) {
      if (libusb_detach_kernel_driver(candidate->handle, candidate->interfaceNumber) != 0) break;
      candidate->reattach = true;
    }
    if (libusb_claim_interface(candidate->handle, candidate->interfaceNumber) != 0) break;
    candidate->claimed = true;
    if (alt != 0 &&
        libusb_set_interface_alt_setting(candidate->handle, candidate->interfaceNumber, alt) != 0)
      break;
    result = std::move(candidate);
  }
  libusb_free_device_list(list, 1);
  if (result) s.open[location] = result;
  return result;
}

IoResult usbWrite(UsbDevice& dev, const void* data, std::size_t n) {
  if (n == 0) return {true, 0, 0, false};
  dev.pending.clear();
  dev.pendingAt = 0;
  auto* p = static_cast<unsigned char*>(const_cast<void*>(data));
  std::size_t done = 0;
  Deadline deadline(posix::deviceWriteTimeoutMs(n));
  while (done < n) {
    int chunk = static_cast<int>(std::min<std::size_t>(n - done, 1u << 20));
    int sent = 0;
    int ms = std::max(1, deadline.remainingMs());
    int rc = libusb_bulk_transfer(dev.handle, dev.endpointOut, p + done, chunk, &sent,
                                  static_cast<unsigned>(ms));
    if (sent > 0) done += static_cast<std::size_t>(sent);
    if (rc == 0) continue;
    if (rc == LIBUSB_ERROR_TIMEOUT && !deadline.passed()) continue;
    // A halted endpoint stays halted until cleared: this write fails, the
    // next one may pass.
    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(dev.handle, dev.endpointOut);
    if (done > 0) return {true, done, 0, false};
    return {false, 0, rc, rc == LIBUSB_ERROR_TIMEOUT};
  }
  return {true, done, 0, false};
}

IoResult usbRead(UsbDevice& dev, void* buf, std::size_t cap, int waitMs, bool reportTimeout) {
  if (!dev.endpointIn) return failed(LIBUSB_ERROR_NOT_SUPPORTED);
  if (cap == 0) return {true, 0, 0, false};
  if (dev.pendingAt < dev.pending.size()) {
    std::size_t n = std::min(cap, dev.pending.size() - dev.pendingAt);
    std::memcpy(buf, dev.pending.data() + dev.pendingAt, n);
    dev.pendingAt += n;
    if (dev.pendingAt == dev.pending.size()) {
      dev.pending.clear();
      dev.pendingAt = 0;
    }
    return {true, n, 0, false};
  }
  // Whole packets only: a device that sends more than the transfer asked
  // for overflows it and the bytes are lost. A buffer smaller than one packet
  // reads a packet here and keeps what does not fit for the next read.
  std::size_t length = posix::usbReadLength(cap, dev.inPacketSize);
  std::vector<unsigned char> packet;
  unsigned char* target = static_cast<unsigned char*>(buf);
  if (length > cap) {
    packet.resize(length);
    target = packet.data();
  }
  int got = 0;
  int rc = libusb_bulk_transfer(dev.handle, dev.endpointIn, target, static_cast<int>(length), &got,
                                static_cast<unsigned>(std::max(1, waitMs)));
  std::size_t arrived = std::min(length, static_cast<std::size_t>(got > 0 ? got : 0));
  std::size_t taken = std::min(cap, arrived);
  if (!packet.empty() && taken > 0) {
    std::memcpy(buf, packet.data(), taken);
    dev.pending.assign(packet.begin() + static_cast<std::ptrdiff_t>(taken),
                       packet.begin() + static_cast<std::ptrdiff_t>(arrived));
    dev.pendingAt = 0;
  }
  if (rc == 0 || taken > 0) return {true, taken, 0, false};
  if (rc == LIBUSB_ERROR_TIMEOUT) return {true, 0, 0, reportTimeout};
  if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(dev.handle, dev.endpointIn);
  return failed(rc);
}

// ---- sockets -----------------------------------------------------------------

int netErrorOf(int e) {
  switch (e) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
      return kNetTimedOut;
    case ECONNRESET:
    case EPIPE:
      return kNetConnReset;
    default:
      return kNetOther;
  }
}

NetResult netFailed(int e) { return {-1, netErrorOf(e)}; }

void setTimeoutOption(int fd, int option, int ms) {
  if (ms <= 0) ms = kSocketDefaultTimeoutMs;
  timeval tv{ms / 1000, static_cast<suseconds_t>((ms % 1000) * 1000)};
  setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

// The time-out set on a socket for `option` (SO_SNDTIMEO, SO_RCVTIMEO).
int socketTimeoutMs(int fd, int option) {
  timeval tv{};
  socklen_t len = sizeof tv;
  if (getsockopt(fd, SOL_SOCKET, option, &tv, &len) != 0 || (tv.tv_sec == 0 && tv.tv_usec == 0))
    return kSocketDefaultTimeoutMs;
  return static_cast<int>(std::min<long long>(
      static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000, 24LL * 3600 * 1000));
}

Socket addSocket(int fd) {
  if (fd < 0) return kInvalidSocket;
  auto r = std::make_shared<Resource>();
  r->kind = Resource::Socket;
  r->fd = fd;
  return resources().add(std::move(r));
}

int socketFd(Socket s) {
  std::shared_ptr<Resource> r = findKind(s, {Resource::Socket});
  return r ? r->fd : -1;
}

sockaddr_in ipv4(std::uint32_t addr, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  sa.sin_port = htons(port);
  return sa;
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
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

std::string usbLocation(std::uint8_t bus, const std::uint8_t* ports, int portCount) {
  char head[8];
  std::snprintf(head, sizeof head, "b%03u", static_cast<unsigned>(bus));
  std::string s = head;
  s += 'p';
  if (portCount <= 0) return s + "0";
  for (int i = 0; i < portCount; ++i) {
    if (i) s += '.';
    s += std::to_string(ports[i]);
  }
  return s;
}

std::string usbInterfacePath(std::uint16_t vid, std::uint16_t pid, std::string_view location) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04x&pid_%04x#", static_cast<unsigned>(vid),
                static_cast<unsigned>(pid));
  return std::string(kUsbPathHead) + ids + std::string(location) + "#" + kUsbInterfaceClass;
}

bool parseUsbInterfacePath(std::string_view path, std::uint16_t* vid, std::uint16_t* pid,
                           std::string* location) {
  const std::string_view head = kUsbPathHead;
  const std::string_view tail = kUsbInterfaceClass;
  if (!startsWith(path, head) || path.size() < head.size() + 15 + tail.size() + 2) return false;
  std::string_view rest = path.substr(head.size());
  auto hex4 = [](std::string_view t, std::uint16_t* v) {
    if (t.size() < 4) return false;
    unsigned x = 0;
    for (int i = 0; i < 4; ++i) {
      char c = t[static_cast<std::size_t>(i)];
      unsigned d;
      if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
      else return false;
      x = x * 16 + d;
    }
    *v = static_cast<std::uint16_t>(x);
    return true;
  };
  if (!hex4(rest, vid) || rest.substr(4, 5) != "&pid_" || !hex4(rest.substr(9), pid) ||
      rest[13] != '#')
    return false;
  rest = rest.substr(14);
  if (rest.size() < tail.size() + 2 || rest.substr(rest.size() - tail.size()) != tail ||
      rest[rest.size() - tail.size() - 1] != '#')
    return false;
  std::string_view loc = rest.substr(0, rest.size() - tail.size() - 1);
  if (loc.empty() || loc.find('#') != std::string_view::npos) return false;
  *location = std::string(loc);
  return true;
}

std::size_t usbReadLength(std::size_t cap, int packetSize) {
  std::size_t packet = packetSize > 0 ? static_cast<std::size_t>(packetSize) : 64;
  if (cap < packet) return packet;
  std::size_t length = std::min<std::size_t>(cap, 1u << 20);
  return std::max(packet, length - length % packet);
}

int deviceWriteTimeoutMs(std::size_t n) {
  std::size_t ms = n > 3000000 ? 30000 : 10 * n + 100;
  return static_cast<int>(std::clamp<std::size_t>(ms, 1000, 30000));
}

}  // namespace posix

// ---- spooler -----------------------------------------------------------------

bool PosixOs::spoolerOpen(std::string_view name, Handle* out) {
  // A queue name never starts with "/" (that separates an instance) and
  // holds no control characters; such a name is no printer.
  if (!out || name.empty() || name[0] == '/') return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  auto job = std::make_unique<SpoolerJob>();
  job->http = connectCups(kCupsLookupTimeoutSec);
  if (!job->http) return false;
  // The server's own spelling of the name (queue names ignore case).
  std::string wanted(name);
  job->destination = askPrinterAttribute(job->http, wanted.c_str(), "printer-name", IPP_TAG_NAME);
  if (job->destination.empty()) return false;
  httpSetTimeout(job->http, kCupsIoTimeoutSec, nullptr, nullptr);
  auto r = std::make_shared<Resource>();
  r->kind = Resource::Spooler;
  r->job = std::move(job);
  *out = resources().add(std::move(r));
  return true;
}

bool PosixOs::spoolerStartDoc(Handle h, std::string_view docName) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  SpoolerJob& job = *r->job;
  if (job.jobId != 0) return false;  // one document at a time
  job.docName = std::string(docName.substr(0, docName.find('\0')));
  cups_option_t* options = nullptr;
  int n = cupsAddOption("raw", "true", 0, &options);
  job.jobId = cupsCreateJob(job.http, job.destination.c_str(), job.docName.c_str(), n, options);
  cupsFreeOptions(n, options);
  job.documentOpen = job.documentSent = false;
  return job.jobId != 0;
}

bool PosixOs::spoolerStartPage(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  return startDocument(*r->job);
}

IoResult PosixOs::spoolerWrite(Handle h, const void* data, std::size_t n) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r || (!data && n)) return failed(EBADF);
  std::lock_guard<std::mutex> g(r->lock);
  SpoolerJob& job = *r->job;
  // Bytes written before a page was started still belong to the document.
  if (!startDocument(job)) return failed(EIO);
  if (n == 0) return {true, 0, 0, false};
  if (cupsWriteRequestData(job.http, static_cast<const char*>(data), n) != HTTP_STATUS_CONTINUE)
    return failed(EIO);
  return {true, n, 0, false};
}

bool PosixOs::spoolerEndPage(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  return finishDocument(*r->job);
}

bool PosixOs::spoolerEndDoc(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  return endJob(*r->job);
}

bool PosixOs::spoolerClose(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  r = resources().remove(h);
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  if (r->job->jobId != 0) endJob(*r->job);
  return true;
}

bool PosixOs::spoolerList(std::vector<SpoolerPrinter>* out) {
  if (!out) return false;
  out->clear();
  http_t* http = connectCups(kCupsLookupTimeoutSec);
  if (!http) return false;
  // One CUPS-Get-Printers exchange: the queues (printers and classes) in the
  // server's order, by name, each with its device URI.
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char* const kWanted[] = {"printer-name", "device-uri"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                kWanted);
  ipp_t* response = cupsDoRequest(http, request, "/");  // frees the request
  ipp_status_t status = response ? ippGetStatusCode(response) : cupsLastError();
  // The server answers "not found" when it has no queue at all.
  bool ok = response && (ippSucceeded(status) || status == IPP_STATUS_ERROR_NOT_FOUND);
  if (ok) {
    SpoolerPrinter p;
    auto flush = [&] {
      if (!p.name.empty()) out->push_back(std::move(p));
      p = SpoolerPrinter{};
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
      // Printers are separated by attributes outside the printer group.
      if (ippGetGroupTag(a) != IPP_TAG_PRINTER || !ippGetName(a)) {
        flush();
        continue;
      }
      const char* value = ippGetString(a, 0, nullptr);
      if (!value) continue;
      std::string_view attr = ippGetName(a);
      if (attr == "printer-name" && ippGetValueTag(a) == IPP_TAG_NAME) p.name = value;
      if (attr == "device-uri" && ippGetValueTag(a) == IPP_TAG_URI) p.port = value;
    }
    flush();
  }
  if (response) ippDelete(response);
  httpClose(http);
  return ok;
}

// ---- files and devices -------------------------------------------------------

Handle PosixOs::openFile(std::string_view path, const OpenMode& mode) {
  posix::PortTarget target = posix::mapPortName(path);
  if (target.kind == posix::PortTarget::Invalid) return kInvalidHandle;
  if (target.kind == posix::PortTarget::Usb) {
    auto dev = openUsbDevice(target.path);
    if (!dev) return kInvalidHandle;
    auto r = std::make_shared<Resource>();
    r->kind = Resource::Usb;
    r->usb = std::move(dev);
    return resources().add(std::move(r));
  }
  // Waits are ours (poll with a bound), so no descriptor ever blocks; this
  // also keeps open() itself from waiting (a FIFO without a reader, a
  // printer port that is offline).
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
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
    if (mode.share == kShareNone && flock(fd, LOCK_EX | LOCK_NB) != 0) return kInvalidHandle;
    if (mode.disposition == Disposition::CreateAlways && write && ftruncate(fd, 0) != 0)
      return kInvalidHandle;
  }
  return resources().add(std::move(r));
}

namespace {
IoResult writeResource(Resource& r, const void* data, std::size_t n) {
  if (!data && n) return failed(EFAULT);
  switch (r.kind) {
    case Resource::File:
      return writeDescriptor(r.fd, data, n, posix::deviceWriteTimeoutMs(n));
    case Resource::Terminal: {
      int bound = posix::deviceWriteTimeoutMs(n);
      if (r.timeoutsSet && (r.timeouts.writeTotalMultiplier || r.timeouts.writeTotalConstant)) {
        std::uint64_t ms = static_cast<std::uint64_t>(r.timeouts.writeTotalMultiplier) * n +
                           r.timeouts.writeTotalConstant;
        bound = static_cast<int>(std::clamp<std::uint64_t>(ms, 1000, 30000));
      }
      return writeDescriptor(r.fd, data, n, bound);
    }
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

bool PosixOs::mapFile(Handle h, std::size_t size, FileView* out) {
  auto r = findKind(h, {Resource::File});
  if (!r || !out || size == 0) return false;
  struct stat st {};
  if (fstat(r->fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) < size)
    return false;
  void* m = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, r->fd, 0);
  if (m == MAP_FAILED) return false;
  madvise(m, size, MADV_WILLNEED);
  out->data = static_cast<const unsigned char*>(m);
  out->size = size;
  out->token = 1;
  return true;
}

void PosixOs::unmapFile(const FileView& view) {
  if (view.token == 0 || !view.data) return;
  munmap(const_cast<unsigned char*>(view.data), view.size);
}

bool PosixOs::closeHandle(Handle h) {
  auto r = findKind(h, {Resource::File, Resource::Terminal, Resource::Device, Resource::Usb});
  if (!r) return false;
  return resources().remove(h) != nullptr;
}

Event PosixOs::createEvent() { return resources().nextEvent(); }
void PosixOs::closeEvent(Event) {}

// ---- serial ------------------------------------------------------------------

bool PosixOs::serialGetState(Handle h, SerialSettings* out) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r || !out) return false;
  termios t{};
  if (tcgetattr(r->fd, &t) != 0) return false;
  SerialSettings s;
  speed_t sp = cfgetospeed(&t);
  s.baudRate = 0;
  for (const BaudEntry& b : kBauds)
    if (b.speed == sp) s.baudRate = b.rate;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
  }
  s.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
  s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  s.parityCheck = (t.c_iflag & INPCK) != 0;
  std::lock_guard<std::mutex> g(r->lock);
  s.dsrSensitivity = r->dsrSensitivity;
  *out = s;
  return true;
}

bool PosixOs::serialSetState(Handle h, const SerialSettings& s) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  termios t{};
  if (tcgetattr(r->fd, &t) != 0) return false;
  const BaudEntry* baud = nullptr;
  for (const BaudEntry& b : kBauds)
    if (b.rate == s.baudRate) baud = &b;
  if (!baud || s.byteSize < 5 || s.byteSize > 8 || s.parity > 2 ||
      (s.stopBits != 0 && s.stopBits != 2))
    return false;
  makeRaw(&t);
  cfsetispeed(&t, baud->speed);
  cfsetospeed(&t, baud->speed);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[s.byteSize - 5];
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
  if (s.parity == 1) t.c_cflag |= PARENB | PARODD;
  if (s.parity == 2) t.c_cflag |= PARENB;
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  if (s.parityCheck) t.c_iflag |= INPCK;
  else t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  if (tcsetattr(r->fd, TCSANOW, &t) != 0) return false;
  // DSR sensitivity (ignore bytes while DSR is low) has no termios
  // equivalent: it is recorded and reported back, the line is left alone.
  std::lock_guard<std::mutex> g(r->lock);
  r->dsrSensitivity = s.dsrSensitivity;
  return true;
}

bool PosixOs::serialSetTimeouts(Handle h, const SerialTimeouts& t) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  r->timeouts = t;
  r->timeoutsSet = true;
  return true;
}

// Events are not waited for here; the mask is recorded only.
bool PosixOs::serialSetMask(Handle h, unsigned mask) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  r->eventMask = mask;
  return true;
}

bool PosixOs::serialPurge(Handle h, unsigned flags) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  bool tx = flags & (kPurgeTxAbort | kPurgeTxClear);
  bool rx = flags & (kPurgeRxAbort | kPurgeRxClear);
  if (!tx && !rx) return true;
  return tcflush(r->fd, tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : TCIFLUSH) == 0;
}

bool PosixOs::serialEscape(Handle h, SerialLine line) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  int bits = line == SerialLine::SetDtr ? TIOCM_DTR : TIOCM_RTS;
  return ioctl(r->fd, TIOCMBIS, &bits) == 0;
}

// ---- USB enumeration ---------------------------------------------------------

bool PosixOs::usbInterfaces(std::vector<std::string>* paths) {
  if (!paths) return false;
  paths->clear();
  UsbState& s = usbState();
  std::lock_guard<std::mutex> g(s.mu);
  libusb_context* ctx = usbContextLocked();
  if (!ctx) return false;
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(ctx, &list);
  if (count < 0) return false;
  struct Entry {
    std::uint8_t bus;
    std::vector<std::uint8_t> ports;
    std::string path;
  };
  std::vector<Entry> entries;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* dev = list[i];
    Entry e;
    e.bus = libusb_get_bus_number(dev);
    std::uint8_t ports[8];
    int n = libusb_get_port_numbers(dev, ports, static_cast<int>(sizeof ports));
    if (n > 0) e.ports.assign(ports, ports + n);
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) == 0)
      e.path = posix::usbInterfacePath(desc.idVendor, desc.idProduct,
                                       posix::usbLocation(e.bus, ports, n < 0 ? 0 : n));
    entries.push_back(std::move(e));
  }
  libusb_free_device_list(list, 1);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.bus != b.bus ? a.bus < b.bus : a.ports < b.ports;
  });
  for (Entry& e : entries) paths->push_back(std::move(e.path));
  return true;
}

// ---- sockets -----------------------------------------------------------------

void PosixOs::netStartup() {}
void PosixOs::netCleanup() {}

Socket PosixOs::tcpSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    // Bounded until the caller sets time-outs of its own.
    setTimeoutOption(fd, SO_SNDTIMEO, kSocketDefaultTimeoutMs);
    setTimeoutOption(fd, SO_RCVTIMEO, kSocketDefaultTimeoutMs);
  }
  return addSocket(fd);
}

NetResult PosixOs::tcpConnect(Socket s, std::uint32_t addr, std::uint16_t port) {
  int fd = socketFd(s);
  if (fd < 0) return {-1, kNetOther};
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return netFailed(errno);
  sockaddr_in sa = ipv4(addr, port);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int err = rc == 0 ? 0 : errno;
  if (rc != 0 && (err == EINPROGRESS || err == EINTR)) {
    int ready = pollFor(fd, POLLOUT, kConnectTimeoutMs);
    if (ready == 0) {
      err = ETIMEDOUT;
    } else if (ready < 0) {
      err = errno;
    } else {
      socklen_t len = sizeof err;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  fcntl(fd, F_SETFL, flags);
  if (err != 0) return {-1, err == ETIMEDOUT ? kNetTimedOut : kNetOther};
  return {0, kNetOk};
}

void PosixOs::setSocketTimeouts(Socket s, int sendMs, int recvMs) {
  int fd = socketFd(s);
  if (fd < 0) return;
  setTimeoutOption(fd, SO_SNDTIMEO, sendMs);
  setTimeoutOption(fd, SO_RCVTIMEO, recvMs);
}

void PosixOs::setNoDelay(Socket s) {
  int fd = socketFd(s);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

NetResult PosixOs::send(Socket s, const void* data, std::size_t n, bool more) {
  int fd = socketFd(s);
  if (fd < 0 || (!data && n)) return {-1, kNetOther};
  int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
  // A socket with a time-out never restarts its call after a signal, and a
  // retry waits the whole time-out again: signals that come more often than
  // that (a profiler's timer) would keep the wait going for ever.
  Deadline deadline(socketTimeoutMs(fd, SO_SNDTIMEO));
  for (;;) {
    ssize_t w = ::send(fd, data, n, flags);
    if (w >= 0) return {static_cast<long>(w), kNetOk};
    if (errno != EINTR) return netFailed(errno);
    if (deadline.passed()) return {-1, kNetTimedOut};
  }
}

NetResult PosixOs::recv(Socket s, void* buf, std::size_t cap) {
  int fd = socketFd(s);
  if (fd < 0 || (!buf && cap)) return {-1, kNetOther};
  // As in send: retries after signals stay within the socket's time-out.
  Deadline deadline(socketTimeoutMs(fd, SO_RCVTIMEO));
  for (;;) {
    ssize_t got = ::recv(fd, buf, cap, 0);
    if (got >= 0) return {static_cast<long>(got), kNetOk};
    if (errno != EINTR) return netFailed(errno);  // EAGAIN here is the receive time-out
    if (deadline.passed()) return {-1, kNetTimedOut};
  }
}

void PosixOs::closeSocket(Socket s) {
  if (findKind(s, {Resource::Socket})) resources().remove(s);
}

Socket PosixOs::udpSocket() { return addSocket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

void PosixOs::setBroadcast(Socket s) {
  int fd = socketFd(s);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
}

bool PosixOs::bindAny(Socket s, std::uint16_t port) {
  int fd = socketFd(s);
  if (fd < 0) return false;
  sockaddr_in sa = ipv4(INADDR_ANY, port);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

NetResult PosixOs::sendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr,
                          std::uint16_t port) {
  int fd = socketFd(s);
  if (fd < 0 || (!data && n)) return {-1, kNetOther};
  sockaddr_in sa = ipv4(addr, port);
  for (;;) {
    ssize_t w = ::sendto(fd, data, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (w >= 0) return {static_cast<long>(w), kNetOk};
    if (errno != EINTR) return netFailed(errno);
  }
}

NetResult PosixOs::recvFrom(Socket s, void* buf, std::size_t cap, int timeoutMs) {
  int fd = socketFd(s);
  if (fd < 0 || (!buf && cap)) return {-1, kNetOther};
  int ready = pollFor(fd, POLLIN, std::max(0, timeoutMs));
  if (ready == 0) return {-1, kNetTimedOut};
  if (ready < 0) return netFailed(errno);
  for (;;) {
    ssize_t got = ::recvfrom(fd, buf, cap, MSG_DONTWAIT, nullptr, nullptr);
    if (got >= 0) return {static_cast<long>(got), kNetOk};
    if (errno != EINTR) return netFailed(errno);
  }
}

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
