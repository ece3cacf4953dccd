// The legacy queries' reply record (the one the single connection and the
// slots share) and the blocks the string reads hand back.
#pragma once

#include <cstddef>

#include "connection/connection_state.h"

namespace paloma {

// The record the legacy queries fill.
ReplyState& replies();

// Zeroes the shared ReplyBuffer and puts ReplyPosition back to its start, as
// every query does before it asks.
void clearReply();

// Size of each block a string read fills; a longer text is cut at 1023
// bytes and terminated.
inline constexpr std::size_t kStringBlockSize = 1024;

// A new zeroed block for a string result. Blocks stay allocated (a text
// returned earlier stays readable); only resetReplyState releases them.
char* newStringBlock();

// Returns the record to how the library starts, string blocks released
// (tests).
void resetReplyState();

}  // namespace paloma
