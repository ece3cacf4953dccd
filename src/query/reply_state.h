// The query side's process-wide record: the reply buffers, the append
// positions, the reply-mode flags, the sticky network error and the latest
// string result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace paloma {

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
};

ReplyState& replies();

// Zeroes ReplyBuffer and puts ReplyPosition back to its start, as every
// query does before it asks.
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
