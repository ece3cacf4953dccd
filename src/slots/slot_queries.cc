// Status and settings of the printer in a slot: the single connection's
// queries, run on the slot's own device handle or socket, read into the
// slot's reply record (which every slot shares with the single connection,
// the sticky network error included).
#include <string>

#include "paloma.h"
#include "platform/last_error.h"
#include "query/info_queries.h"
#include "query/readers.h"
#include "query/status.h"
#include "slots/slot_table.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {
constexpr const char* kBadSlot = "error";
// A slot without the transport a query needs: its handle or socket is then
// nothing live (never opened, closed, or the spooler job's handle), so the
// query touches nothing and answers as its twin does for a missing printer.
constexpr const char* kNoPrinter = "-1";
constexpr const char* kNoSetting = "";

// Records that slot n has no `what` open, and gives `result`.
const char* slotLacks(int n, const char* what, const char* result) {
  setLastError("printer slot " + std::to_string(n) + " has no " + what + " open");
  return result;
}

// One packet of a slot's setting reply: 100 ms before and after the read.
bool slotSettingPacket(ReplyState& r, Handle h) { return usbReadSettingPacket(r, h, 100, 100); }
}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

const char* usbprinterstatusmult(int n) {
  paloma::ApiLock lock;
  if (!validSlot(n)) {
    noteBadSlot(n);
    return kBadSlot;
  }
  SlotRef s = slot(n);
  if (s.usbMode != 1) return slotLacks(n, "USB printer", kNoPrinter);
  return usbStatusOn(*s.device.replies, s.handle);
}

const char* ethernetprinterstatusmult(int n) {
  paloma::ApiLock lock;
  if (!validSlot(n)) {
    noteBadSlot(n);
    return kBadSlot;
  }
  if (slot(n).networkMode != 1) return slotLacks(n, "network connection", kNoPrinter);
  return networkStatusOn(slot(n).network);
}

const char* usbprintersettingmult(int n, const char* a, const char* b, const char* c) {
  paloma::ApiLock lock;
  if (!validSlot(n)) {
    noteBadSlot(n);
    return kBadSlot;
  }
  SlotRef s = slot(n);
  if (s.usbMode != 1) return slotLacks(n, "USB printer", kNoSetting);
  return runUsbSettingQuery(*s.device.replies, s.handle, a, b, c, &slotSettingPacket);
}

const char* ethernetprintersettingmult(int n, const char* a, const char* b, const char* c) {
  paloma::ApiLock lock;
  if (!validSlot(n)) {
    noteBadSlot(n);
    return kBadSlot;
  }
  SlotRef s = slot(n);
  if (s.networkMode != 1) return slotLacks(n, "network connection", kNoPrinter);
  return runNetworkSettingQuery(*s.network.replies, s.socket, a, b, c);
}

}  // extern "C"

bool UsbReadData_mult(void* device, bool) {
  paloma::ApiLock lock;
  return slotSettingPacket(sharedReplies(), static_cast<Handle>(reinterpret_cast<std::intptr_t>(device)));
}
