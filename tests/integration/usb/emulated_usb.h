// An emulated USB label printer for the integration tests, on umockdev.
//
// The testbed provides the sysfs entries and the /dev/bus/usb/BBB/DDD node of
// each device; a handler attached to the node answers the usbdevfs requests
// libusb makes (capabilities, claim, URB submit and reap, discard, clear
// halt). A printer has one printer-class interface with a bulk OUT and a bulk
// IN endpoint of 64-byte packets. Its brain is the virtual printer's
// interpreter: what the host writes is parsed as label commands and queries
// are answered as over TCP. A test can instead script the IN packets itself.
//
// The process must run with libumockdev-preload loaded (LD_PRELOAD), so that
// libusb sees the testbed instead of the machine's buses; the CMake test
// registration does that. One testbed serves the whole process: libusb keeps
// its device list and hotplug monitor for the process's lifetime, so devices
// come and go on one testbed with uevents, as on a real machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace paloma_test {

struct UsbPrinterSpec {
  std::uint16_t vendor = 0;   // 0: the maker's vendor ID
  std::uint16_t product = 0x0001;
  int port = 1;               // its port on bus 1: location "b001p<port>"
  std::string serial = "EMU0001";  // "": the device reports no serial number
  bool printerClass = true;   // false: a vendor-specific interface
  bool brain = true;          // the interpreter answers; false: scripted only
  int packetSize = 64;        // of both bulk endpoints (512: a high-speed device)
  std::uint8_t status = 0x00; // what the interpreter answers to ESC !?
  // Settings the interpreter answers, "APP/SECTION/KEY" (upper case) -> value.
  std::map<std::string, std::string> settings;
  // The kernel driver bound to its interface ("" none): the host has to
  // detach it before claiming the interface, and should give it back.
  std::string kernelDriver;
};

class UsbBench;

// One plugged-in device. Thread-safe: the handler runs on the testbed's
// worker thread while the test calls the library.
class EmulatedPrinter {
 public:
  // Everything the host wrote to the bulk OUT endpoint, in order.
  std::string received() const;
  // The sizes of the OUT transfers (URBs) as the device received them.
  std::vector<std::size_t> outTransfers() const;
  // Each IN transfer's bytes as completed to the host.
  std::vector<std::string> inTransfers() const;
  // Commands the interpreter found malformed, and labels it printed.
  std::uint64_t interpreterErrors() const;
  std::uint64_t labelsPrinted() const;
  // Forgets what was received so far.
  void clearReceived();

  // Queues raw IN packets (each at most one packet size) after whatever is
  // queued. A packet shorter than the packet size ends the host's transfer.
  void queuePackets(const std::vector<std::string>& packets);
  // Queues a text cut into packets, ended as the interpreter's replies are.
  void queueText(const std::string& text);

  // Fault switches.
  void haltOut();                         // the next OUT transfer stalls
  void haltIn();                          // the next IN transfer stalls
  void setReplyDelay(int ms);             // packets leave this long after queued
  void setSilent(bool silent);            // IN never completes (NAK forever)
  void setStalledOut(bool stalled);       // OUT never completes (NAK forever)
  void setAcceptLimit(long long bytes);   // OUT takes this many more bytes, then NAKs
  void setClaimedElsewhere(bool claimed); // another program holds the interface
  int clearHaltCount() const;
  bool unplugged() const;

  // Waits (bounded) until the host has an OUT transfer in flight.
  bool waitForPendingOut(int timeoutMs) const;
  // The interface path the library shows for this device.
  std::string interfacePath() const;
  const UsbPrinterSpec& spec() const { return spec_; }
  // How many times the interface was claimed (opens that reached it).
  int claims() const;
  // The kernel driver bound now ("" while detached).
  std::string kernelDriver() const;

  ~EmulatedPrinter();
  EmulatedPrinter(const EmulatedPrinter&) = delete;
  EmulatedPrinter& operator=(const EmulatedPrinter&) = delete;

 private:
  friend class UsbBench;
  friend struct DeviceHandler;
  explicit EmulatedPrinter(UsbPrinterSpec spec);
  struct State;
  UsbPrinterSpec spec_;
  std::string sysPath_;
  std::unique_ptr<State> state_;
  void* handler_ = nullptr;  // the UMockdevIoctlBase subclass instance
};

// The process's testbed and the devices on it.
class UsbBench {
 public:
  // The process-wide bench; null (with `why` set) when the umockdev preload
  // is not active.
  static UsbBench* get(std::string* why);

  // Plugs in a device; waits (bounded) until libusb lists it.
  EmulatedPrinter& plug(const UsbPrinterSpec& spec);
  // Unplugs it: transfers in flight end as on a disconnect, every later
  // request fails with "no device", and it leaves the enumeration. The object
  // stays valid (the test may still read what it received) until unplugAll.
  void unplug(EmulatedPrinter& p);
  // Unplugs every device (between tests).
  void unplugAll();

  // The maker's vendor ID (PALOMA_USB_VENDOR_ID).
  static std::uint16_t makerVendor();

 private:
  UsbBench();
  bool waitListed(const std::string& path, bool listed, int timeoutMs);
  void* testbed_ = nullptr;
  int nextDevnum_ = 2;
  std::vector<std::unique_ptr<EmulatedPrinter>> devices_;
};

}  // namespace paloma_test
