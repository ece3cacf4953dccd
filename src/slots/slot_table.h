// The five numbered printer slots, each a device link (a spooler job or a
// USB printer) and a network link.
//
// Slot 1 has no device link of its own: its device is the single
// connection's, so slot 1 and the single connection open and close together
// on the spooler and USB. Every slot's network link is its own, slot 1's
// included. All of them share the single connection's reply record and
// command buffer.
#pragma once

#include <cstdint>

#include "connection/connection_state.h"
#include "connection/write_path.h"

namespace paloma {

inline constexpr int kSlotCount = 5;

// A slot's links, and their state under the names the legacy functions use.
struct SlotRef {
  PrinterLink& device;
  PrinterLink& network;
  Handle& handle = device.handle;
  ModeFlag spoolerMode{device, TransportKind::Spooler};
  ModeFlag usbMode{device, TransportKind::UsbDevice};
  ModeFlag networkMode{network, TransportKind::Network};
  Socket& socket = network.socket;
};

bool validSlot(int n);
// The links of slot n (1 to 5; the caller has checked the number).
SlotRef slot(int n);

// Returns the table to how the library starts (tests).
void resetSlotTable();

// Records that `n` names no slot.
void noteBadSlot(int n);

// The slot's target for a write: USB before spooler, and the network only
// when `allowNetwork`; nullopt when none of those flags is set.
std::optional<WriteTarget> slotTarget(int n, bool allowNetwork);

// The per-slot command write: text, then "\r\n" (on the network, the slot's
// line end: CR LF NUL on slots 1, 3, 4 and 5 and CR LF on slot 2). 1 when
// every byte was accepted; 0 for a slot number outside 1 to 5, a slot with no
// open transport, or a failed write.
int slotCommandWrite(int n, std::string_view text);

// The slot binary-buffer write: the text without line end to the slot's USB
// device or spooler job (never to a socket). 1 when written.
int slotBinaryWrite(int n, std::string_view text);

}  // namespace paloma
