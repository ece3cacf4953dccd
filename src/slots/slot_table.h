// The five numbered printer slots.
//
// Slot 1's spooler and USB state are the very fields of the single
// connection (handle, spoolerMode, usbMode), so slot 1 and the single
// connection open and close together on those transports. Every slot's
// network state (socket, networkMode) is its own, slot 1's included.
#pragma once

#include <cstdint>

#include "connection/connection_state.h"
#include "connection/write_path.h"

namespace paloma {

inline constexpr int kSlotCount = 5;

struct PrinterSlot {
  Handle handle = kInvalidHandle;
  std::int32_t spoolerMode = 0;
  std::int32_t usbMode = 0;
  std::int32_t networkMode = 0;
  Socket socket = kInvalidSocket;
};

struct SlotTable {
  // Index 0 is slot 1, whose handle and spooler/USB flags live in the
  // connection; only its network fields are used here.
  PrinterSlot slots[kSlotCount];
};

// A slot's fields, wherever they live.
struct SlotRef {
  Handle& handle;
  std::int32_t& spoolerMode;
  std::int32_t& usbMode;
  std::int32_t& networkMode;
  Socket& socket;
};

bool validSlot(int n);
// The fields of slot n (1 to 5; the caller has checked the number).
SlotRef slot(int n);

// Returns the table to how the library starts (tests).
void resetSlotTable();

// Records that `n` names no slot.
void noteBadSlot(int n);

// The slot's target for a write: USB before spooler, and the network only
// when `allowNetwork`; nullopt when none of those flags is set.
std::optional<WriteTarget> slotTarget(int n, bool allowNetwork);

// The per-slot command write: text, then "\r\n" (a slot's network line end is
// CR LF NUL on slots 1, 3, 4 and 5 and CR LF on slot 2). 1 when every byte was
// accepted; 0 for a slot number outside 1 to 5, a slot with no open
// transport, or a failed write.
int slotCommandWrite(int n, std::string_view text);

// The slot binary-buffer write: the text without line end to the slot's USB
// device or spooler job (never to a socket). 1 when written.
int slotBinaryWrite(int n, std::string_view text);

}  // namespace paloma
