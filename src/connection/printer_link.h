// One printer's link, as the library's own functions keep it: the transport
// in use (one value, or none), the handle or socket that serves it, the line
// end its commands take on the network, where the answers to its queries go,
// and the command buffer its writers copy into.
//
// The single connection is made of two links (connection_state.h): its
// device (a spooler job, a printer port, a USB printer or a serial port, all
// on one handle) and its network connection, because opening one leaves the
// other as it was. Each printer slot has a device and a network link too
// (slots/slot_table.h); slot 1's device link is the single connection's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/os.h"

namespace paloma {

enum class TransportKind { Spooler, LptFile, UsbDevice, Serial, Network };

// The "\r\n" line end and the network's three-byte form.
inline constexpr std::string_view kCrlf{"\r\n", 2};
inline constexpr std::string_view kCrlfNul{"\r\n\0", 3};

// Where a link's queries put what the printer answered: the reply buffers,
// the append positions, the reply-mode flags, the sticky network error and
// the latest string result. The readers fill the record their caller gives
// them; the single connection and the slots share one record, so a reply or
// an error one of them read is what the others see next.
struct ReplyState {
  static constexpr std::size_t kBufferSize = 65536;

  unsigned char ReplyBuffer[kBufferSize] = {};
  // Always zero: a text that fills ReplyBuffer to its last byte still ends
  // here. Nothing writes it.
  unsigned char ReplyBufferEnd = 0;
  unsigned char NetworkReceiveBuffer[kBufferSize] = {};
  // Always zero: a network reply of a full 65,536 bytes still reads as a
  // terminated text. Nothing writes it.
  unsigned char NetworkReceiveBufferEnd = 0;
  std::int32_t ReplyPosition = 0;
  std::int32_t NetworkPosition = 0;
  std::int32_t SerialStringPosition = 0;
  std::int32_t StatusByteMode = 0;
  std::int32_t FrameMode = 0;
  std::int32_t LineMode = 0;
  std::int32_t NetworkError = 0;
  const char* StringResult = "";

  // Zeroes ReplyBuffer and puts ReplyPosition back to its start, as every
  // query does before it asks.
  void clearReply();
};

inline constexpr std::size_t kCommandBufferSize = 655350;

struct PrinterLink {
  std::optional<TransportKind> transport;  // none: nothing open on this link
  // Kept when the transport is closed by a call that does not forget it.
  Handle handle = kInvalidHandle;
  Socket socket = kInvalidSocket;
  // What a command ends with when this link writes it to the network.
  std::string_view networkLineEnd = kCrlfNul;
  // Where the answers to this link's queries go.
  ReplyState* replies = nullptr;
  // kCommandBufferSize bytes the writers format a command into.
  char* commandBuffer = nullptr;

  bool is(TransportKind kind) const { return transport == kind; }
};

}  // namespace paloma
