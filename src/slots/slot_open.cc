// Opening and closing the printer slots.
#include <string>
#include <string_view>

#include "connection/connection_state.h"
#include "connection/network.h"
#include "connection/usb_search.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "slots/slot_table.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

constexpr const char* kErrorCaption = "Error Message";

void closeSpoolerJob(Handle h) {
  os().spoolerEndPage(h);
  os().spoolerEndDoc(h);
  os().spoolerClose(h);
}

// A slot's spooler and USB transports share one handle: before it is
// replaced, whatever it holds is closed (once), so no device or job is held
// twice or lost. Slot 1's handle is the single connection's, which may hold
// its parallel or serial port instead; that is closed too, as closeport
// would, and every flag that named the handle is cleared.
void releaseSlotHandle(int n, SlotRef s) {
  ConnectionState& c = connection();
  const bool portFlags = n == 1 && (c.lptMode == 1 || c.serialMode == 1);
  if (s.usbMode == 1) {
    os().closeHandle(s.handle);
  } else if (s.spoolerMode == 1) {
    closeSpoolerJob(s.handle);
  } else if (portFlags) {
    if (c.serialMode == 1) os().sleepMs(100);  // let the port drain, as closeport does
    os().closeHandle(c.handle);
  }
  s.usbMode = 0;
  s.spoolerMode = 0;
  if (n == 1) c.lptMode = c.serialMode = 0;
}

// An opener that drops a slot's USB state releases the device it held.
void dropSlotUsb(SlotRef s) {
  if (s.usbMode == 1) os().closeHandle(s.handle);
  s.usbMode = 0;
}

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

int openportmult(int n, const char* name) {
  paloma::ApiLock lock;
  if (!name) {
    noteNull("the name");
    return 0;
  }
  std::string_view given(name);
  ConnectionState& c = connection();
  if (!c.setPortName(given)) {
    setLastError("the printer name is " + std::to_string(given.size()) + " bytes long; at most " +
                 std::to_string(ConnectionState::kPortNameSize - 1) + " fit");
    return 0;
  }
  if (!validSlot(n)) {
    noteBadSlot(n);
    return 0;
  }
  SlotRef s = slot(n);
  releaseSlotHandle(n, s);
  Handle h = kInvalidHandle;
  s.spoolerMode = os().spoolerOpen(given, &h) ? 1 : 0;
  if (s.spoolerMode == 0) {
    setLastError("no spooler printer named \"" + std::string(given) + "\" could be opened");
    return 0;
  }
  s.handle = h;
  os().spoolerStartDoc(h, ConnectionState::kDocName);
  os().spoolerStartPage(h);
  s.spoolerMode = 1;
  if (n == 1) c.isOpen = 1;
  return 1;
}

int openusbportmult(int n) {
  paloma::ApiLock lock;
  ConnectionState& c = connection();
  // Numbers above 5 name no slot either: refused like 0.
  if (n <= 0 || n > kSlotCount) {
    os().message("Can't using USB_Mult port", kErrorCaption, MessageIcon::Warning);
    noteBadSlot(n);
    // Slot 1's spooler job is dropped here; it is ended first, so what was
    // sent to it prints and its printer handle is not lost.
    if (c.spoolerMode == 1) closeSpoolerJob(c.handle);
    c.spoolerMode = 0;
    c.isOpen = 0;
    return 0;
  }
  UsbDeviceRecord record;
  findUsbDevice(record, /*fillSlots=*/true);
  SlotRef s = slot(n);
  if (!record.found) {
    os().message("Can't find printer by USB.", kErrorCaption, MessageIcon::Warning);
    dropSlotUsb(s);
    c.isOpen = 0;
    return 0;
  }
  const char* path = record.slotPaths[n - 1];
  Handle h = kInvalidHandle;
  if (path[0] != '\0') {
    releaseSlotHandle(n, s);
    h = openPath(path, kUsbDeviceOpenMode);
  } else {
    setLastError("printer slot " + std::to_string(n) + " has no USB printer: fewer than " +
                 std::to_string(n) + " are connected");
  }
  if (h == kInvalidHandle) {
    os().message("Couldn't create port by USB.", kErrorCaption, MessageIcon::Warning);
    dropSlotUsb(s);
    c.isOpen = 0;
    return 0;
  }
  s.handle = h;
  s.usbMode = 1;
  c.isOpen = 1;
  return 1;
}

int openethernetmult(int n, const char* address, int port) {
  paloma::ApiLock lock;
  if (!validSlot(n)) {
    noteBadSlot(n);
    return 0;
  }
  SlotRef ref = slot(n);
  ref.network.replies->NetworkError = 0;
  Socket s = connectPrinterSocket(address, port);
  if (s == kInvalidSocket) return 0;  // the slot keeps what it held
  if (ref.socket != kInvalidSocket) os().closeSocket(ref.socket);
  ref.socket = s;
  os().sleepMs(kNetworkSettlePauseMs);
  ref.networkMode = 1;
  connection().isOpen = 1;
  return 1;
}

int closeportmult(int n) {
  paloma::ApiLock lock;
  if (validSlot(n)) {
    SlotRef s = slot(n);
    if (s.usbMode == 1) {
      os().closeHandle(s.handle);
      s.usbMode = 0;
      return 1;
    }
    if (s.spoolerMode == 1) {
      closeSpoolerJob(s.handle);
      s.spoolerMode = 0;
      return 1;
    }
  }
  // Fallback to the single connection.
  ConnectionState& c = connection();
  if (c.lptMode == 1) {
    os().closeHandle(c.handle);
    c.lptMode = 0;
  } else if (c.usbMode == 1) {
    os().closeHandle(c.handle);
    c.usbMode = 0;
  }
  return 1;
}

int closeethernetportmult(int n, unsigned int delayMs) {
  paloma::ApiLock lock;
  if (!validSlot(n)) {
    noteBadSlot(n);
    return 0;
  }
  SlotRef s = slot(n);
  constexpr unsigned int kChunk = 0x7FFFFFFF;
  for (unsigned int left = delayMs; left > 0;) {
    unsigned int step = left < kChunk ? left : kChunk;
    os().sleepMs(static_cast<int>(step));
    left -= step;
  }
  if (s.socket != kInvalidSocket) os().closeSocket(s.socket);
  s.socket = kInvalidSocket;
  s.networkMode = 0;
  return 1;
}

int sendcommandmult(int n, const char* text) {
  paloma::ApiLock lock;
  if (!text) {
    noteNull("the text");
    return 0;
  }
  return slotCommandWrite(n, text);
}

}  // extern "C"
