#include "query/reply_state.h"

#include <cstring>

namespace paloma {

namespace {
ReplyState& storage() {
  static ReplyState state;
  return state;
}
}  // namespace

ReplyState& replies() { return storage(); }

void resetReplyState() {
  ReplyState& r = storage();
  std::memset(r.ReplyBuffer, 0, sizeof r.ReplyBuffer);
  std::memset(r.NetworkReceiveBuffer, 0, sizeof r.NetworkReceiveBuffer);
  r.ReplyPosition = 0;
  r.NetworkPosition = 0;
  r.SerialStringPosition = 0;
  r.StatusByteMode = 0;
  r.FrameMode = 0;
  r.LineMode = 0;
  r.NetworkError = 0;
  r.StringResult = "";
}

}  // namespace paloma
