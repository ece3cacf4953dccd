#include "emulated_usb.h"

#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <thread>

#include "platform/os.h"
#include "printer.h"  // the virtual printer's interpreter

#ifndef PALOMA_USB_VENDOR_ID
#define PALOMA_USB_VENDOR_ID "fff0"
#endif

// The interpreter's text renderer keeps fontconfig's caches for the process.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace paloma_test {

namespace {

constexpr unsigned char kEpOut = 0x01;
constexpr unsigned char kEpIn = 0x82;

using Clock = std::chrono::steady_clock;

struct Packet {
  std::string bytes;      // empty: a zero-length packet
  Clock::time_point readyAt;
};

void putLe16(std::vector<unsigned char>& v, unsigned x) {
  v.push_back(static_cast<unsigned char>(x & 0xff));
  v.push_back(static_cast<unsigned char>(x >> 8));
}

// The device descriptor followed by the one configuration, as sysfs holds
// them in "descriptors".
std::vector<unsigned char> descriptors(const UsbPrinterSpec& s, std::uint16_t vendor) {
  std::vector<unsigned char> d = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
  putLe16(d, vendor);
  putLe16(d, s.product);
  putLe16(d, 0x0100);
  // Strings 1 and 2 name the maker and the product; 3 is the serial number, if any.
  d.insert(d.end(), {1, 2, static_cast<unsigned char>(s.serial.empty() ? 0 : 3), 1});
  // Configuration: one interface, two bulk endpoints of 64-byte packets.
  std::vector<unsigned char> cfg = {9, 2, 32, 0, 1, 1, 0, 0xC0, 50};
  unsigned char cls = s.printerClass ? 7 : 0xff;
  cfg.insert(cfg.end(), {9, 4, 0, 0, 2, cls, 1, 2, 0});
  for (unsigned char ep : {kEpOut, kEpIn}) {
    cfg.insert(cfg.end(), {7, 5, ep, 2});
    putLe16(cfg, static_cast<unsigned>(s.packetSize));
    cfg.push_back(0);
  }
  d.insert(d.end(), cfg.begin(), cfg.end());
  return d;
}

std::string hex4(unsigned x) {
  char b[8];
  std::snprintf(b, sizeof b, "%04x", x & 0xffff);
  return b;
}

}  // namespace

// ---- the device's state -------------------------------------------------------

struct Urb {
  UMockdevIoctlData* data = nullptr;    // the usbdevfs_urb in the client
  UMockdevIoctlData* buffer = nullptr;  // its buffer
  std::uint64_t addr = 0;               // the client's address of the URB
  bool in = false;
  int status = 0;
  std::size_t filled = 0;
};

struct EmulatedPrinter::State {
  mutable std::mutex mu;
  vprinter::JsonLog log;  // writes nothing
  std::unique_ptr<vprinter::Printer> printer;
  std::unique_ptr<vprinter::Session> session;

  std::string received;
  std::vector<std::size_t> outSizes;
  std::vector<std::string> inDone;
  std::deque<Packet> packets;
  std::deque<Urb> pendingIn, pendingOut, ready;

  bool outHalted = false, inHalted = false;
  bool silent = false, gone = false, claimedElsewhere = false;
  long long outBudget = -1;  // bytes the OUT endpoint still takes; -1 no limit
  int replyDelayMs = 0;
  int clearHalts = 0;
  int claims = 0;
  std::size_t packet = 64;
  std::string driver;  // bound kernel driver

  void queueLocked(const std::string& text, bool endTransfer) {
    Clock::time_point at = Clock::now() + std::chrono::milliseconds(replyDelayMs);
    for (std::size_t i = 0; i < text.size(); i += packet)
      packets.push_back({text.substr(i, packet), at});
    // A reply that fills its last packet is ended by a zero-length packet.
    if (endTransfer && (text.empty() || text.size() % packet == 0)) packets.push_back({"", at});
  }
};

EmulatedPrinter::EmulatedPrinter(UsbPrinterSpec spec)
    : spec_(std::move(spec)), state_(std::make_unique<State>()) {
  state_->driver = spec_.kernelDriver;
  state_->packet = static_cast<std::size_t>(spec_.packetSize > 0 ? spec_.packetSize : 64);
  if (spec_.brain) {
    vprinter::PrinterOptions o;
    o.serialNumber = spec_.serial;
    o.status = spec_.status;
    o.settings = spec_.settings;
    state_->printer = std::make_unique<vprinter::Printer>(o, &state_->log);
    state_->session = std::make_unique<vprinter::Session>(*state_->printer, "usb");
  }
}

EmulatedPrinter::~EmulatedPrinter() = default;

std::string EmulatedPrinter::received() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->received;
}
std::vector<std::size_t> EmulatedPrinter::outTransfers() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->outSizes;
}
std::vector<std::string> EmulatedPrinter::inTransfers() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->inDone;
}
std::uint64_t EmulatedPrinter::interpreterErrors() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->printer ? state_->printer->errors() : 0;
}
std::uint64_t EmulatedPrinter::labelsPrinted() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->printer ? state_->printer->labelsPrinted() : 0;
}
void EmulatedPrinter::clearReceived() {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->received.clear();
  state_->outSizes.clear();
  state_->inDone.clear();
}
void EmulatedPrinter::queuePackets(const std::vector<std::string>& packets) {
  std::lock_guard<std::mutex> g(state_->mu);
  Clock::time_point at = Clock::now() + std::chrono::milliseconds(state_->replyDelayMs);
  for (const std::string& p : packets) state_->packets.push_back({p.substr(0, state_->packet), at});
}
void EmulatedPrinter::queueText(const std::string& text) {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->queueLocked(text, true);
}
void EmulatedPrinter::haltOut() {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->outHalted = true;
}
void EmulatedPrinter::haltIn() {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->inHalted = true;
}
void EmulatedPrinter::setReplyDelay(int ms) {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->replyDelayMs = ms;
}
void EmulatedPrinter::setSilent(bool silent) {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->silent = silent;
}
void EmulatedPrinter::setStalledOut(bool stalled) {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->outBudget = stalled ? 0 : -1;
}
void EmulatedPrinter::setAcceptLimit(long long bytes) {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->outBudget = bytes;
}
void EmulatedPrinter::setClaimedElsewhere(bool claimed) {
  std::lock_guard<std::mutex> g(state_->mu);
  state_->claimedElsewhere = claimed;
}
int EmulatedPrinter::clearHaltCount() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->clearHalts;
}
int EmulatedPrinter::claims() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->claims;
}
std::string EmulatedPrinter::kernelDriver() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->driver;
}
bool EmulatedPrinter::unplugged() const {
  std::lock_guard<std::mutex> g(state_->mu);
  return state_->gone;
}
bool EmulatedPrinter::waitForPendingOut(int timeoutMs) const {
  Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    {
      std::lock_guard<std::mutex> g(state_->mu);
      if (!state_->pendingOut.empty()) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}
std::string EmulatedPrinter::interfacePath() const {
  std::uint16_t vendor = spec_.vendor ? spec_.vendor : UsbBench::makerVendor();
  return "\\\\?\\usb#vid_" + hex4(vendor) + "&pid_" + hex4(spec_.product) + "#b001p" +
         std::to_string(spec_.port) + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

// ---- the usbdevfs handler -------------------------------------------------------

struct DeviceHandler {
  using State = EmulatedPrinter::State;

  static void setInt(UMockdevIoctlData* d, std::size_t offset, int value) {
    umockdev_ioctl_data_update(d, offset, reinterpret_cast<guint8*>(&value), sizeof value);
  }

  static void finish(Urb& u) {
    setInt(u.data, offsetof(usbdevfs_urb, status), u.status);
    setInt(u.data, offsetof(usbdevfs_urb, actual_length), static_cast<int>(u.filled));
  }

  static void release(Urb& u) {
    if (u.buffer) g_object_unref(u.buffer);
    if (u.data) g_object_unref(u.data);
    u.buffer = u.data = nullptr;
  }

  // Moves IN packets that are due into the waiting IN transfers, oldest
  // first; a transfer ends on a short packet or when its buffer is full.
  static void progress(State& s) {
    Clock::time_point now = Clock::now();
    while (!s.pendingIn.empty() && !s.silent) {
      Urb& u = s.pendingIn.front();
      std::size_t cap = static_cast<std::size_t>(u.buffer ? u.buffer->data_len : 0);
      bool done = cap == 0;  // a transfer of nothing completes at once
      while (!done && !s.packets.empty() && s.packets.front().readyAt <= now) {
        Packet pkt = std::move(s.packets.front());
        s.packets.pop_front();
        std::size_t room = cap - u.filled;
        std::size_t n = std::min(room, pkt.bytes.size());
        if (n) {
          umockdev_ioctl_data_update(u.buffer, u.filled,
                                     reinterpret_cast<guint8*>(pkt.bytes.data()),
                                     static_cast<gint>(n));
        }
        u.filled += n;
        if (pkt.bytes.size() > room) {
          u.status = -EOVERFLOW;  // the device sent more than the transfer asked for
          done = true;
        } else if (pkt.bytes.size() < s.packet || u.filled == cap) {
          done = true;
        }
      }
      if (!done) break;
      s.inDone.emplace_back(cap ? reinterpret_cast<const char*>(u.buffer->data) : "", u.filled);
      s.ready.push_back(u);
      s.pendingIn.pop_front();
    }
  }

  // Takes up to `limit` bytes of an OUT transfer, after those taken before;
  // true when the transfer is complete.
  static bool takeOut(State& s, Urb& u, std::size_t limit) {
    std::size_t size = static_cast<std::size_t>(u.buffer ? u.buffer->data_len : 0);
    std::size_t n = std::min(limit, size - u.filled);
    const char* bytes = n ? reinterpret_cast<const char*>(u.buffer->data) + u.filled : "";
    s.received.append(bytes, n);
    u.filled += n;
    bool complete = u.filled == size;
    if (complete) s.outSizes.push_back(size);
    if (s.session) {
      s.session->feed(reinterpret_cast<const std::uint8_t*>(bytes), n);
      std::string reply = s.session->takeReply();
      if (!reply.empty()) s.queueLocked(reply, true);
    }
    return complete;
  }

  static void control(Urb& u, const UsbPrinterSpec& spec) {
    u.status = -EPIPE;
    if (!u.buffer || u.buffer->data_len < 8) return;
    const guint8* setup = u.buffer->data;
    unsigned type = setup[0], request = setup[1], value = setup[2] | (setup[3] << 8);
    std::size_t length = setup[6] | (setup[7] << 8);
    if (type != 0x80 || request != 6 || (value >> 8) != 3) return;
    unsigned index = value & 0xff;
    std::vector<guint8> d;
    if (index == 0) {
      d = {4, 3, 0x09, 0x04};
    } else {
      std::string text = index == 1 ? "PALOMA" : index == 2 ? "Label printer" : spec.serial;
      d = {static_cast<guint8>(2 + 2 * text.size()), 3};
      for (char c : text) d.insert(d.end(), {static_cast<guint8>(c), 0});
    }
    std::size_t n = std::min({d.size(), length, static_cast<std::size_t>(u.buffer->data_len - 8)});
    umockdev_ioctl_data_update(u.buffer, 8, d.data(), static_cast<gint>(n));
    u.filled = n;
    u.status = 0;
  }

  static gboolean handle(EmulatedPrinter& p, UMockdevIoctlClient* client) {
    State& s = *p.state_;
    std::lock_guard<std::mutex> g(s.mu);
    gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto reply = [&](long res, int err) {
      umockdev_ioctl_client_complete(client, res, err);
      return TRUE;
    };
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        if (!d) return reply(-1, EFAULT);
        guint32 caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                       USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        umockdev_ioctl_data_update(d, 0, reinterpret_cast<guint8*>(&caps), sizeof caps);
        g_object_unref(d);
        return reply(0, 0);
      }
      case USBDEVFS_GETDRIVER: {
        if (s.gone) return reply(-1, ENODEV);
        if (s.driver.empty() && !s.claimedElsewhere) return reply(-1, ENODATA);
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        if (!d) return reply(-1, EFAULT);
        usbdevfs_getdriver gd{};
        std::memcpy(&gd, d->data, sizeof gd);
        std::snprintf(gd.driver, sizeof gd.driver, "%s",
                      s.claimedElsewhere ? "usbfs" : s.driver.c_str());
        umockdev_ioctl_data_update(d, 0, reinterpret_cast<guint8*>(&gd), sizeof gd);
        g_object_unref(d);
        return reply(0, 0);
      }
      case USBDEVFS_IOCTL: {  // a request to the kernel driver of an interface
        if (s.gone) return reply(-1, ENODEV);
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        if (!d) return reply(-1, EFAULT);
        usbdevfs_ioctl command{};
        std::memcpy(&command, d->data, sizeof command);
        g_object_unref(d);
        if (command.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
          if (s.driver.empty()) return reply(-1, ENODATA);
          s.driver.clear();
          return reply(0, 0);
        }
        if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
          s.driver = p.spec_.kernelDriver;
          return reply(0, 0);
        }
        return reply(-1, ENOTTY);
      }
      case USBDEVFS_CLAIMINTERFACE:
        if (s.gone) return reply(-1, ENODEV);
        // The kernel driver or another program has it.
        if (!s.driver.empty() || s.claimedElsewhere) return reply(-1, EBUSY);
        ++s.claims;
        return reply(0, 0);
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_RESETEP:
      case USBDEVFS_RESET:
        return s.gone ? reply(-1, ENODEV) : reply(0, 0);
      case USBDEVFS_CLEAR_HALT: {
        if (s.gone) return reply(-1, ENODEV);
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
        if (!d) return reply(-1, EFAULT);
        unsigned ep = 0;
        std::memcpy(&ep, d->data, sizeof ep);
        g_object_unref(d);
        if (ep == kEpOut) s.outHalted = false;
        else if (ep == kEpIn) s.inHalted = false;
        else return reply(-1, EINVAL);
        ++s.clearHalts;
        return reply(0, 0);
      }
      case USBDEVFS_SUBMITURB: {
        if (s.gone) return reply(-1, ENODEV);
        Urb u;
        u.data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!u.data) return reply(-1, EFAULT);
        u.addr = u.data->client_addr;  // what a discard names
        usbdevfs_urb urb;
        std::memcpy(&urb, u.data->data, sizeof urb);
        if (urb.buffer_length > 0) {
          u.buffer = umockdev_ioctl_data_resolve(u.data, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<gsize>(urb.buffer_length), nullptr);
          if (!u.buffer) {
            release(u);
            return reply(-1, EFAULT);
          }
        }
        if (urb.type == USBDEVFS_URB_TYPE_CONTROL && urb.endpoint == 0) {
          control(u, p.spec_);
          s.ready.push_back(u);
        } else if (urb.type == USBDEVFS_URB_TYPE_BULK && urb.endpoint == kEpOut) {
          if (s.outHalted) {
            u.status = -EPIPE;
            s.ready.push_back(u);
          } else {
            std::size_t limit = s.outBudget < 0 ? SIZE_MAX : static_cast<std::size_t>(s.outBudget);
            std::size_t before = u.filled;
            bool complete = takeOut(s, u, limit);
            if (s.outBudget >= 0) s.outBudget -= static_cast<long long>(u.filled - before);
            // What the printer does not take waits (NAK) until cancelled.
            (complete ? s.ready : s.pendingOut).push_back(u);
          }
        } else if (urb.type == USBDEVFS_URB_TYPE_BULK && urb.endpoint == kEpIn) {
          u.in = true;
          if (s.inHalted) {
            u.status = -EPIPE;
            s.ready.push_back(u);
          } else {
            s.pendingIn.push_back(u);
          }
        } else {
          release(u);
          return reply(-1, EINVAL);
        }
        return reply(0, 0);
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        progress(s);
        if (s.ready.empty()) return reply(-1, s.gone ? ENODEV : EAGAIN);
        Urb u = s.ready.front();
        s.ready.pop_front();
        finish(u);
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        if (!slot) {
          release(u);
          return reply(-1, EFAULT);
        }
        umockdev_ioctl_data_set_ptr(slot, 0, u.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        release(u);
        return TRUE;
      }
      case USBDEVFS_DISCARDURB: {
        std::uint64_t addr = 0;
        std::memcpy(&addr, arg->data, sizeof(void*));
        for (std::deque<Urb>* q : {&s.pendingIn, &s.pendingOut}) {
          for (auto it = q->begin(); it != q->end(); ++it) {
            if (it->addr != addr) continue;
            Urb u = *it;
            q->erase(it);
            u.status = -ENOENT;
            if (u.in && u.buffer)
              s.inDone.emplace_back(reinterpret_cast<const char*>(u.buffer->data), u.filled);
            s.ready.push_back(u);
            return reply(0, 0);
          }
        }
        return reply(-1, EINVAL);
      }
      default:
        return s.gone ? reply(-1, ENODEV) : reply(-1, ENOTTY);
    }
  }

  // Disconnect: what is in flight ends with "device shut down".
  static void unplug(State& s) {
    std::lock_guard<std::mutex> g(s.mu);
    s.gone = true;
    for (std::deque<Urb>* q : {&s.pendingIn, &s.pendingOut}) {
      for (Urb& u : *q) {
        u.status = -ESHUTDOWN;
        s.ready.push_back(u);
      }
      q->clear();
    }
  }
};

}  // namespace paloma_test

// ---- the GObject subclass of the ioctl handler ---------------------------------

extern "C" {
typedef struct {
  UMockdevIoctlBase parent;
  paloma_test::EmulatedPrinter* printer;
} EmuUsbHandler;
typedef struct {
  UMockdevIoctlBaseClass parent_class;
} EmuUsbHandlerClass;
}

G_DEFINE_TYPE(EmuUsbHandler, emu_usb_handler, UMOCKDEV_TYPE_IOCTL_BASE)

static gboolean emu_usb_handle_ioctl(UMockdevIoctlBase* self, UMockdevIoctlClient* client) {
  auto* h = reinterpret_cast<EmuUsbHandler*>(self);
  return paloma_test::DeviceHandler::handle(*h->printer, client);
}

static void emu_usb_handler_class_init(EmuUsbHandlerClass* klass) {
  reinterpret_cast<UMockdevIoctlBaseClass*>(klass)->handle_ioctl = emu_usb_handle_ioctl;
}

static void emu_usb_handler_init(EmuUsbHandler* self) { self->printer = nullptr; }

namespace paloma_test {

// ---- the bench ------------------------------------------------------------------

std::uint16_t UsbBench::makerVendor() {
  return static_cast<std::uint16_t>(std::strtoul(PALOMA_USB_VENDOR_ID, nullptr, 16));
}

UsbBench::UsbBench() { testbed_ = umockdev_testbed_new(); }

UsbBench* UsbBench::get(std::string* why) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "libumockdev-preload")) {
    if (why)
      *why = "libumockdev-preload is not loaded: run this test through ctest, or with "
             "LD_PRELOAD=libumockdev-preload.so.0 (after libasan.so in a sanitizer build)";
    return nullptr;
  }
  // The bench lives as long as libusb's view of it, to the end of the
  // process; then the testbed goes, and with it its directory.
  static UsbBench* bench = [] {
    auto* b = new UsbBench();
    std::atexit([] {
      UsbBench* me = UsbBench::get(nullptr);
      if (me && me->testbed_) g_object_unref(me->testbed_);
      if (me) me->testbed_ = nullptr;
    });
    return b;
  }();
  return bench;
}

// How long a plug or an unplug may take to show in libusb's device list.
constexpr int kListingWaitMs = 20000;

bool UsbBench::waitListed(const std::string& path, bool listed, int timeoutMs) {
  Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<std::string> paths;
    paloma::platformOs().usbInterfaces(&paths);
    bool present = std::find(paths.begin(), paths.end(), path) != paths.end();
    if (present == listed) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

EmulatedPrinter& UsbBench::plug(const UsbPrinterSpec& spec) {
  auto* tb = static_cast<UMockdevTestbed*>(testbed_);
  int devnum = nextDevnum_++;
  std::unique_ptr<EmulatedPrinter> p(new EmulatedPrinter(spec));
  std::uint16_t vendor = spec.vendor ? spec.vendor : makerVendor();
  char node[64], num[8], dev[16];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
  std::snprintf(num, sizeof num, "%d", devnum);
  std::snprintf(dev, sizeof dev, "189:%d\n", devnum);
  std::string name = "1-" + std::to_string(spec.port);
  std::string numLine = std::string(num) + "\n";
  std::string product = hex4(vendor) + "/" + hex4(spec.product) + "/100";
  gchar* sys = umockdev_testbed_add_device(
      tb, "usb", name.c_str(), nullptr,
      // attributes
      "busnum", "1\n", "devnum", numLine.c_str(), "dev", dev, "speed", "480\n",
      "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "idVendor",
      (hex4(vendor) + "\n").c_str(), "idProduct", (hex4(spec.product) + "\n").c_str(), "serial",
      (spec.serial + "\n").c_str(), nullptr,
      // properties
      "DEVNAME", node, "DEVTYPE", "usb_device", "BUSNUM", "001", "DEVNUM", num,
      "PRODUCT", product.c_str(), "MAJOR", "189", "MINOR", num, nullptr);
  p->sysPath_ = sys ? sys : "";
  g_free(sys);
  // The device node: libusb opens it; the handler answers its requests.
  gchar* root = umockdev_testbed_get_root_dir(tb);
  std::string nodeFile = std::string(root) + node;
  g_free(root);
  gchar* nodeDir = g_path_get_dirname(nodeFile.c_str());
  g_mkdir_with_parents(nodeDir, 0755);
  g_free(nodeDir);
  g_file_set_contents(nodeFile.c_str(), "", 0, nullptr);
  std::vector<unsigned char> d = descriptors(spec, vendor);
  umockdev_testbed_set_attribute_binary(tb, p->sysPath_.c_str(), "descriptors", d.data(),
                                        static_cast<gint>(d.size()));
  auto* handler = static_cast<EmuUsbHandler*>(g_object_new(emu_usb_handler_get_type(), nullptr));
  handler->printer = p.get();
  p->handler_ = handler;
  GError* err = nullptr;
  if (!umockdev_testbed_attach_ioctl(tb, node, UMOCKDEV_IOCTL_BASE(handler), &err)) {
    std::fprintf(stderr, "attaching the USB handler failed: %s\n", err ? err->message : "?");
    if (err) g_error_free(err);
  }
  umockdev_testbed_uevent(tb, p->sysPath_.c_str(), "add");
  // libusb learns of the device from the uevent on a thread of its own, which
  // a loaded machine (two sanitizer builds side by side) may run seconds
  // later: wait for the listing, within a bound a quiet machine never nears.
  // A uevent that libusb's monitor missed is never seen again: after a
  // quarter of the bound, announce the device once more (an announcement of
  // a device libusb already lists changes nothing).
  bool listed = waitListed(p->interfacePath(), true, kListingWaitMs / 4);
  if (!listed) {
    umockdev_testbed_uevent(tb, p->sysPath_.c_str(), "add");
    listed = waitListed(p->interfacePath(), true, kListingWaitMs - kListingWaitMs / 4);
  }
  if (!listed)
    ADD_FAILURE() << "libusb did not list the plugged device " << p->interfacePath()
                  << " within " << kListingWaitMs << " ms";
  devices_.push_back(std::move(p));
  return *devices_.back();
}

void UsbBench::unplug(EmulatedPrinter& p) {
  auto* tb = static_cast<UMockdevTestbed*>(testbed_);
  if (p.sysPath_.empty()) return;
  DeviceHandler::unplug(*p.state_);
  umockdev_testbed_uevent(tb, p.sysPath_.c_str(), "remove");
  umockdev_testbed_remove_device(tb, p.sysPath_.c_str());
  p.sysPath_.clear();
  if (!waitListed(p.interfacePath(), false, kListingWaitMs))
    ADD_FAILURE() << "libusb still lists the unplugged device " << p.interfacePath() << " after "
                  << kListingWaitMs << " ms";
}

void UsbBench::unplugAll() {
  for (auto& p : devices_) unplug(*p);
  // The objects stay: a handle the library did not close may still send a
  // request to their handlers, which answer "no device".
}

}  // namespace paloma_test
