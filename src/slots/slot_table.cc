#include "slots/slot_table.h"

#include <string>

#include "platform/last_error.h"

namespace paloma {
namespace {
SlotTable g_slots;
}

bool validSlot(int n) { return n >= 1 && n <= kSlotCount; }

SlotRef slot(int n) {
  PrinterSlot& s = g_slots.slots[n - 1];
  if (n == 1) {
    ConnectionState& c = connection();
    return {c.handle, c.spoolerMode, c.usbMode, s.networkMode, s.socket};
  }
  return {s.handle, s.spoolerMode, s.usbMode, s.networkMode, s.socket};
}

void resetSlotTable() { g_slots = SlotTable{}; }

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
  std::string_view term = kCrlf;
  if (t->kind == TransportKind::Network && n != 2) term = kCrlfNul;
  return writeWithEnd(*t, connection().commandBuffer, text.size(), term) ? 1 : 0;
}

int slotBinaryWrite(int n, std::string_view text) {
  if (!copyToCommandBuffer(text)) return 0;
  auto t = slotTarget(n, /*allowNetwork=*/false);
  if (!t) return 0;
  return writeAll(*t, connection().commandBuffer, text.size(), /*more=*/true) ? 1 : 0;
}

}  // namespace paloma
