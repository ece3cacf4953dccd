// The one current connection: its device and network links, whether it
// counts as open, the port name and the command buffer the writers copy into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "connection/printer_link.h"
#include "platform/os.h"

namespace paloma {

// One of the mode flags the legacy functions test (1 active, 0 not), kept as
// its link's transport: it reads 1 while the link's transport is `kind`.
// Setting it to 1 makes `kind` the link's transport; setting it to 0 leaves
// the link with none when `kind` was its transport, and changes nothing
// otherwise. A copy names the same flag; assigning one flag to another copies
// the value.
class ModeFlag {
 public:
  ModeFlag(PrinterLink& link, TransportKind kind) : link_(&link), kind_(kind) {}
  ModeFlag(const ModeFlag&) = default;
  ModeFlag& operator=(const ModeFlag& other) { return *this = static_cast<std::int32_t>(other); }
  ModeFlag& operator=(std::int32_t value) {
    if (value == 1)
      link_->transport = kind_;
    else if (link_->is(kind_))
      link_->transport.reset();
    return *this;
  }
  operator std::int32_t() const { return link_->is(kind_) ? 1 : 0; }

 private:
  PrinterLink* link_;
  TransportKind kind_;
};

struct ConnectionState {
  static constexpr std::size_t kPortNameSize = 32;
  static constexpr std::size_t kCommandBufferSize = paloma::kCommandBufferSize;

  ConnectionState();
  ConnectionState(const ConnectionState&) = delete;
  ConnectionState& operator=(const ConnectionState&) = delete;

  std::int32_t isOpen = 0;
  // The spooler job, printer port, USB printer or serial port: one handle.
  PrinterLink device;
  // The TCP connection to a network printer.
  PrinterLink network;

  // The links' state under the names the legacy functions use.
  ModeFlag spoolerMode{device, TransportKind::Spooler};
  ModeFlag lptMode{device, TransportKind::LptFile};
  ModeFlag usbMode{device, TransportKind::UsbDevice};
  ModeFlag serialMode{device, TransportKind::Serial};
  ModeFlag networkMode{network, TransportKind::Network};
  Handle& handle = device.handle;
  Socket& socket = network.socket;

  char portName[kPortNameSize] = {};
  // The spooler document every spooler connection starts.
  static constexpr const char* kDocName = "Printing...";
  char commandBuffer[kCommandBufferSize] = {};
  SerialSettings serialSettings{};
  Handle usbOneShotHandle = kInvalidHandle;

  ModeFlag flag(TransportKind kind);
  // Stores `name` as portName, NUL-padded; false (portName unchanged) when it
  // does not fit with its NUL.
  bool setPortName(std::string_view name);
};

// Before an opener puts a new handle into `c.handle`, the one it replaces is
// reachable from nothing else: this closes it as closeport would (a spooler
// job ended first, a serial port given 100 ms to drain), clears the flags
// that named it and forgets it. A handle that no flag names is left alone:
// it was closed already, and closing its number again could close another.
void releaseHandle(ConnectionState& c);

// The process-wide connection.
ConnectionState& connection();

// The reply record the single connection and every slot share.
ReplyState& sharedReplies();

// Returns the state to how the library starts (tests).
void resetConnection();

// os().openFile, recording why when it fails: `open "<path>": <the system's
// sentence>` with the OS error number.
Handle openPath(std::string_view path, const OpenMode& mode);

}  // namespace paloma
