// The one current connection: which transports are active, the shared handle
// and socket, the port name and the command buffer the writers copy into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/os.h"

namespace paloma {

enum class TransportKind { Spooler, LptFile, UsbDevice, Serial, Network };

struct ConnectionState {
  static constexpr std::size_t kPortNameSize = 32;
  static constexpr std::size_t kCommandBufferSize = 655350;

  std::int32_t isOpen = 0;
  std::int32_t spoolerMode = 0;
  std::int32_t lptMode = 0;
  std::int32_t usbMode = 0;
  std::int32_t serialMode = 0;
  std::int32_t networkMode = 0;
  Handle handle = kInvalidHandle;
  Socket socket = kInvalidSocket;
  char portName[kPortNameSize] = {};
  // The spooler document every spooler connection starts.
  static constexpr const char* kDocName = "Printing...";
  char commandBuffer[kCommandBufferSize] = {};
  SerialSettings serialSettings{};
  Handle usbOneShotHandle = kInvalidHandle;

  std::int32_t& flag(TransportKind kind);
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

// Returns the state to how the library starts (tests).
void resetConnection();

// os().openFile, recording why when it fails: `open "<path>": <the system's
// sentence>` with the OS error number.
Handle openPath(std::string_view path, const OpenMode& mode);

}  // namespace paloma
