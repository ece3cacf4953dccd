// Finding printers on the local segment: one UDP probe to the limited
// broadcast address, then a bounded wait for any answer longer than the
// probe itself (our own probe comes back to us too, at exactly 32 bytes).
#include <cstdint>
#include <cstring>
#include <string>

#include "discovery/broadcast.h"
#include "paloma.h"
#include "platform/deadline.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {

const unsigned char kDiscoveryProbe[kDiscoveryProbeSize] = {
    0x00, 0x20, 0x00, 0x01, 0x00, 0x01, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};

Socket openProbeSocket(Os& sys, bool* created) {
  Socket s = sys.udpSocket();
  *created = s != kInvalidSocket;
  if (!*created) {
    setLastOsError("cannot create a UDP socket for the discovery probe", sys.lastOsError());
    return kInvalidSocket;
  }
  sys.setBroadcast(s);
  if (!sys.bindAny(s, kDiscoveryPort)) {
    setLastOsError("bind UDP port " + std::to_string(kDiscoveryPort) +
                       " for the discovery probe (is another program using it?)",
                   sys.lastOsError());
    sys.closeSocket(s);
    return kInvalidSocket;
  }
  return s;
}

namespace {

constexpr const char* kDiscoveryAnswered = "123456";
constexpr const char* kDiscoverySetupFailed = "0";
constexpr const char* kDiscoveryNoAnswer = "-1";

// Sends the probe and waits at most `waitMs` for an answer longer than it.
const char* discoverPrinters(int waitMs) {
  constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
  constexpr int kPauseMs = 100;
  Os& sys = os();
  sys.netStartup();
  bool created = false;
  Socket s = openProbeSocket(sys, &created);
  if (s == kInvalidSocket) {
    // A socket that could not be made reports the binding failure too.
    sys.message("sock ERROR binding in the server socket2", "Error Message",
                MessageIcon::Exclamation);
    if (!created)
      sys.message("Error in creating socket", "Error Message", MessageIcon::Exclamation);
    sys.netCleanup();
    return kDiscoverySetupFailed;
  }

  NetResult sent =
      sys.sendTo(s, kDiscoveryProbe, sizeof kDiscoveryProbe, kLimitedBroadcast, kDiscoveryPort);
  if (sent.result < 0)
    setLastOsError("send the discovery probe to 255.255.255.255:" +
                       std::to_string(kDiscoveryPort),
                   sent.osError);

  unsigned char answer[512];
  std::memset(answer, 0, sizeof answer);
  const Deadline bound(waitMs);
  const char* result = kDiscoveryNoAnswer;
  for (;;) {
    sys.sleepMs(kPauseMs);
    if (bound.passed()) break;
    NetResult r = sys.recvFrom(s, answer, sizeof answer - 1, bound.remainingMs(waitMs));
    if (r.result > static_cast<long>(kDiscoveryProbeSize)) {
      result = kDiscoveryAnswered;
      break;
    }
  }
  if (result == kDiscoveryNoAnswer && sent.result >= 0)
    setLastError("no printer answered the discovery probe within " +
                 std::to_string(waitMs / 1000) + " s");
  sys.closeSocket(s);
  sys.netCleanup();
  return result;
}

}  // namespace

}  // namespace paloma

extern "C" const char* broadcast(void) {
  paloma::ApiLock lock;
  return paloma::discoverPrinters(paloma::kDiscoveryWaitMs);
}
