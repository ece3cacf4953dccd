#include "slots/slot_table.h"

#include <initializer_list>
#include <string>

#include "platform/last_error.h"

namespace paloma {
namespace {

struct SlotTable {
  SlotTable() {
    ConnectionState& c = connection();
    for (PrinterLink* link : {&ownDevice[0], &ownDevice[1], &ownDevice[2], &ownDevice[3],
                              &network[0], &network[1], &network[2], &network[3], &network[4]}) {
      link->replies = c.network.replies;
      link->commandBuffer = c.commandBuffer;
    }
    // Slot 2 ends a command on the network with CR LF alone.
    network[1].networkLineEnd = kCrlf;
  }
  // Slots 2 to 5; slot 1's device is the single connection's.
  PrinterLink ownDevice[kSlotCount - 1];
  PrinterLink network[kSlotCount];
};

SlotTable& table() {
  static SlotTable t;
  return t;
}

}  // namespace

bool validSlot(int n) { return n >= 1 && n <= kSlotCount; }

SlotRef slot(int n) {
  SlotTable& t = table();
  PrinterLink& device = n == 1 ? connection().device : t.ownDevice[n - 2];
  return {device, t.network[n - 1]};
}

void resetSlotTable() { table() = SlotTable(); }

void noteBadSlot(int n) {
  setLastError("there is no printer slot " + std::to_string(n) + ": slots are numbered 1 to " +
               std::to_string(kSlotCount));
}

std::optional<WriteTarget> slotTarget(int n, bool allowNetwork) {
  if (!validSlot(n)) {
    noteBadSlot(n);
    return std::nullopt;
  }
  SlotRef s = slot(n);
  if (s.usbMode == 1) return WriteTarget{TransportKind::UsbDevice, s.handle, kInvalidSocket};
  if (s.spoolerMode == 1) return WriteTarget{TransportKind::Spooler, s.handle, kInvalidSocket};
  if (allowNetwork && s.networkMode == 1)
    return WriteTarget{TransportKind::Network, kInvalidHandle, s.socket};
  setLastError("printer slot " + std::to_string(n) +
               (allowNetwork ? " has no USB printer, spooler job or network connection open"
                             : " has no USB printer or spooler job open (openusbportmult or "
                               "openportmult)"));
  return std::nullopt;
}

int slotCommandWrite(int n, std::string_view text) {
  if (!copyToCommandBuffer(text)) return 0;
  auto t = slotTarget(n, /*allowNetwork=*/true);
  if (!t) return 0;
  SlotRef s = slot(n);
  std::string_view term = t->kind == TransportKind::Network ? s.network.networkLineEnd : kCrlf;
  return writeWithEnd(*t, s.device.commandBuffer, text.size(), term) ? 1 : 0;
}

int slotBinaryWrite(int n, std::string_view text) {
  if (!copyToCommandBuffer(text)) return 0;
  auto t = slotTarget(n, /*allowNetwork=*/false);
  if (!t) return 0;
  return writeAll(*t, connection().commandBuffer, text.size(), /*more=*/true) ? 1 : 0;
}

}  // namespace paloma
