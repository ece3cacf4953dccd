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
  unsigned char NetworkReceiveBuffer[kBufferSize] = {};
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

// Returns the record to how the library starts (tests).
void resetReplyState();

}  // namespace paloma
