#include "query/reply_state.h"

#include <cstring>
#include <memory>
#include <vector>

namespace paloma {

namespace {
ReplyState& storage() { return sharedReplies(); }
std::vector<std::unique_ptr<char[]>>& blocks() {
  static std::vector<std::unique_ptr<char[]>> b;
  return b;
}
}  // namespace

ReplyState& replies() { return storage(); }

void clearReply() { storage().clearReply(); }

char* newStringBlock() {
  blocks().push_back(std::make_unique<char[]>(kStringBlockSize));
  return blocks().back().get();
}

void resetReplyState() {
  ReplyState& r = storage();
  std::memset(r.ReplyBuffer, 0, sizeof r.ReplyBuffer);
  r.ReplyBufferEnd = 0;
  std::memset(r.NetworkReceiveBuffer, 0, sizeof r.NetworkReceiveBuffer);
  r.NetworkReceiveBufferEnd = 0;
  r.ReplyPosition = 0;
  r.NetworkPosition = 0;
  r.SerialStringPosition = 0;
  r.StatusByteMode = 0;
  r.FrameMode = 0;
  r.LineMode = 0;
  r.NetworkError = 0;
  r.StringResult = "";
  blocks().clear();
}

}  // namespace paloma
