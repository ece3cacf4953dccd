// The write path: how bytes reach the printer over each transport.
//
// Every writer here tells the truth: it reports success only when the
// transport accepted every byte. A short write is continued from the first
// byte not yet accepted until all are written or the transport fails.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/os.h"

#include "connection/connection_state.h"

namespace paloma {

// Where one write goes: a transport and the handle or socket that serves it.
// The single connection and every printer slot describe their targets this
// way, so one set of writers serves them all.
struct WriteTarget {
  TransportKind kind = TransportKind::Spooler;
  Handle handle = kInvalidHandle;
  Socket socket = kInvalidSocket;
};

// The two orders in which the writers test the mode flags.
enum class WriterFamily {
  Command,  // spooler, file (LPT/USB), network, serial
  Binary,   // spooler, file (LPT/USB), serial, network
};

// The first active transport of the current connection in the family's
// order, ignoring isOpen; nullopt (with the last error set) when no mode
// flag is set.
std::optional<WriteTarget> pickTarget(const ConnectionState& c, WriterFamily family);

// How the serial port is written: with an event of the call's own (which may
// fail to be created) or without one.
enum class SerialEventUse { WithEvent, NoEvent };

// Writes all `n` bytes through the target's raw write. `more` marks that
// another piece follows at once (network: sent with MSG_MORE).
// Returns false on any failure, including a serial event that cannot be made.
bool writeAll(const WriteTarget& t, const void* data, std::size_t n, bool more = false,
              SerialEventUse serialEvent = SerialEventUse::WithEvent);

// Writes `n` bytes of `body` (sent with `more`), then `end`. The end goes
// out even after a failed body, as the printer expects every command to end;
// true only when both were accepted whole.
bool writeWithEnd(const WriteTarget& t, const void* body, std::size_t n, std::string_view end,
                  SerialEventUse serialEvent = SerialEventUse::WithEvent);

// Overlapped serial write of all bytes on a handle (event form or not).
// False when a write fails or an event cannot be created.
bool serialWriteAll(Handle h, const void* data, std::size_t n, SerialEventUse use);

// Copies a text into commandBuffer, NUL-terminated; false (nothing copied,
// the last error set) when it does not fit with room for `reserve` more
// bytes and the NUL.
bool copyToCommandBuffer(std::string_view text, std::size_t reserve = 0);

// The binary-buffer write: copies `text` into commandBuffer and writes it,
// without line end, to the first active transport in the Binary order. It
// does not test isOpen. Returns 1 when all bytes were accepted, else 0.
int binaryBufferWrite(std::string_view text);

// Records why a network call failed: a closed connection, a time-out, or the
// OS error behind it, for the step `what` ("send to the printer").
void noteNetworkFailure(const NetResult& r, std::string_view what);

// Records that a call found no transport open to write to.
void noteNoTransport();

// Records that a command of `length` bytes did not fit the command buffer.
void noteTooLong(std::size_t length);

// Records that the argument `what` ("the text", "the port") is a null pointer.
void noteNull(const char* what);

// The refusals of the writers' first test: a null text, or nothing open.
// Record which, and give 0.
int refuseText(const void* text);
// Nothing open, a negative length, or null data with a length.
int refuseData(const void* data, int length);

}  // namespace paloma
