// The Linux backend's USB printers, reached through libusb: opening a
// printer by its interface path, bulk transfers, and enumeration.
#include "platform/posix/posix_internal.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace paloma {
namespace posix_internal {

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

}  // namespace posix_internal

using namespace posix_internal;

namespace {

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

}  // namespace

namespace posix_internal {

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
}  // namespace posix_internal

// ---- helpers shared with the tests -------------------------------------------

namespace posix {

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

std::string usbStringFromDescriptor(const std::uint8_t* d, std::size_t n) {
  if (!d || n < 2 || d[1] != LIBUSB_DT_STRING) return {};
  std::size_t length = std::min<std::size_t>(d[0], n);
  std::u16string units;
  for (std::size_t i = 2; i + 1 < length; i += 2) {
    char16_t u = static_cast<char16_t>(d[i] | (d[i + 1] << 8));
    units.push_back(u < 0x20 || u == 0x7F ? u'?' : u);
  }
  return utf8FromUtf16(units);
}

std::size_t usbReadLength(std::size_t cap, int packetSize) {
  std::size_t packet = packetSize > 0 ? static_cast<std::size_t>(packetSize) : 64;
  if (cap < packet) return packet;
  std::size_t length = std::min<std::size_t>(cap, 1u << 20);
  return std::max(packet, length - length % packet);
}

}  // namespace posix

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

// ---- serial numbers ----------------------------------------------------------

namespace {

// Each request for a string descriptor waits at most this long.
constexpr unsigned kStringRequestMs = 400;

// A string descriptor's bytes, asked of the device with a bounded wait; the
// count read, or a negative libusb error.
int readStringDescriptor(libusb_device_handle* h, std::uint8_t index, std::uint16_t language,
                         std::uint8_t* buf, int cap) {
  return libusb_control_transfer(
      h, LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_STANDARD | LIBUSB_RECIPIENT_DEVICE,
      LIBUSB_REQUEST_GET_DESCRIPTOR, static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index),
      language, buf, static_cast<std::uint16_t>(cap), kStringRequestMs);
}

}  // namespace

bool PosixOs::usbSerialNumber(std::string_view path, std::string* serial) {
  if (!serial) return false;
  serial->clear();
  std::uint16_t vid = 0, pid = 0;
  std::string location;
  if (!posix::parseUsbInterfacePath(path, &vid, &pid, &location)) return false;
  // Find the device (and this process's open handle to it, if any) under
  // the lock; ask it outside, so that a slow device holds up no other open.
  libusb_device* found = nullptr;
  std::uint8_t index = 0;
  std::shared_ptr<UsbDevice> held;
  {
    UsbState& s = usbState();
    std::lock_guard<std::mutex> g(s.mu);
    libusb_context* ctx = usbContextLocked();
    if (!ctx) return false;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) return false;
    for (ssize_t i = 0; i < count && !found; ++i) {
      libusb_device_descriptor desc{};
      if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
      if (desc.idVendor != vid || desc.idProduct != pid || locationOf(list[i]) != location)
        continue;
      found = libusb_ref_device(list[i]);
      index = desc.iSerialNumber;
    }
    libusb_free_device_list(list, 1);
    if (found) {
      auto open = s.open.find(location);
      if (open != s.open.end()) {
        held = open->second.lock();
        if (held && libusb_get_device(held->handle) != found) held.reset();
      }
    }
  }
  if (!found) return false;
  bool ok = false;
  if (index != 0) {
    libusb_device_handle* h = held ? held->handle : nullptr;
    // A device that cannot be opened to ask is listed without a serial number.
    if (h || libusb_open(found, &h) == 0) {
      std::uint8_t buf[255];
      int n = readStringDescriptor(h, 0, 0, buf, static_cast<int>(sizeof buf));
      if (n >= 4 && buf[1] == LIBUSB_DT_STRING) {
        std::uint16_t language = static_cast<std::uint16_t>(buf[2] | (buf[3] << 8));
        n = readStringDescriptor(h, index, language, buf, static_cast<int>(sizeof buf));
        if (n >= 2) *serial = posix::usbStringFromDescriptor(buf, static_cast<std::size_t>(n));
        ok = !serial->empty();
      }
      if (!held) libusb_close(h);
    }
  }
  libusb_unref_device(found);
  return ok;
}

}  // namespace paloma
