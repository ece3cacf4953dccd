// Discovery that says who answered: the probe that broadcast sends, then
// every answer longer than the probe until the wait ends, one entry per
// sender. Our own probe comes back to us at exactly 32 bytes and is skipped
// with every other answer of that length or shorter.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "discovery/broadcast.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/deadline.h"
#include "platform/api_lock.h"

namespace paloma {

namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
// A receive that fails at once (an ICMP error queued on the socket) is not
// retried at full speed until the wait ends.
constexpr int kFailedReceivePauseMs = 10;

void formatAddress(std::uint32_t addr, char (&out)[16]) {
  std::snprintf(out, sizeof out, "%u.%u.%u.%u", static_cast<unsigned>((addr >> 24) & 0xFF),
                static_cast<unsigned>((addr >> 16) & 0xFF),
                static_cast<unsigned>((addr >> 8) & 0xFF), static_cast<unsigned>(addr & 0xFF));
}

// The entry already holding this sender, or -1.
int findSender(const paloma_printer_found* found, int count, const char* address,
               unsigned short port) {
  for (int i = 0; i < count; ++i)
    if (found[i].port == port && std::strcmp(found[i].address, address) == 0) return i;
  return -1;
}

// paloma_discover: the probe, then every answer longer than it until `waitMs`
// has passed (or `max` senders were found), one entry per sender.
int discoverWho(int waitMs, paloma_printer_found* found, int max) {
  if (max < 0 || (max > 0 && !found)) {
    setLastError("paloma_discover: no room for the answers (a null list or a negative count)");
    return -1;
  }
  waitMs = std::max(waitMs, 0);
  Os& sys = os();
  sys.netStartup();
  bool created = false;
  Socket s = openProbeSocket(sys, &created);
  if (s == kInvalidSocket) {
    sys.netCleanup();
    return -1;
  }
  NetResult sent =
      sys.sendTo(s, kDiscoveryProbe, sizeof kDiscoveryProbe, kLimitedBroadcast, kDiscoveryPort);
  if (sent.result != static_cast<long>(sizeof kDiscoveryProbe)) {
    // Nothing can answer a probe that did not go out (no broadcast route).
    if (sent.result < 0 && sent.osError != 0)
      setLastOsError("discovery: the probe could not be sent to 255.255.255.255:" +
                         std::to_string(kDiscoveryPort) + " (no network with a broadcast route?)",
                     sent.osError);
    else
      setLastError("discovery: the probe could not be sent to 255.255.255.255:" +
                   std::to_string(kDiscoveryPort) + " (" + std::to_string(sent.result) + " of " +
                   std::to_string(sizeof kDiscoveryProbe) + " bytes went out)");
    sys.closeSocket(s);
    sys.netCleanup();
    return -1;
  }

  int count = 0;
  unsigned char answer[sizeof found->answer];
  const Deadline bound(waitMs);
  while (count < max && !bound.passed()) {
    Os::Sender from;
    NetResult r = sys.recvFromSender(s, answer, sizeof answer, bound.remainingMs(waitMs), &from);
    if (r.result < 0 && r.error != kNetTimedOut) sys.sleepMs(kFailedReceivePauseMs);
    if (r.result <= static_cast<long>(kDiscoveryProbeSize)) continue;
    char address[16];
    formatAddress(from.addr, address);
    if (findSender(found, count, address, from.port) >= 0) continue;  // a repeated answer
    paloma_printer_found& entry = found[count++];
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.address, address, sizeof address);
    entry.port = from.port;
    entry.length = static_cast<int>(std::min<long>(r.result, sizeof entry.answer));
    std::memcpy(entry.answer, answer, static_cast<std::size_t>(entry.length));
  }
  sys.closeSocket(s);
  sys.netCleanup();
  return count;
}

}  // namespace

}  // namespace paloma

extern "C" int paloma_discover(int wait_ms, paloma_printer_found* found, int max) {
  paloma::ApiLock lock;
  return paloma::discoverWho(wait_ms, found, max);
}
