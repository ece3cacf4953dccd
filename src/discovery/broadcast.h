// The discovery probe and its results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "paloma.h"
#include "platform/os.h"

namespace paloma {

inline constexpr std::uint16_t kDiscoveryPort = 22368;
inline constexpr std::size_t kDiscoveryProbeSize = 32;
extern const unsigned char kDiscoveryProbe[kDiscoveryProbeSize];

// How long broadcast() waits for an answer.
inline constexpr int kDiscoveryWaitMs = 3000;

inline constexpr const char* kDiscoveryAnswered = "123456";
inline constexpr const char* kDiscoverySetupFailed = "0";
inline constexpr const char* kDiscoveryNoAnswer = "-1";

// The UDP socket a probe goes out from: broadcasts allowed, bound to the
// discovery port. On failure it records why, sets *created to whether a
// socket was made at all, and returns kInvalidSocket.
Socket openProbeSocket(Os& sys, bool* created);

// Sends the probe and waits at most `waitMs` for an answer longer than it.
const char* discoverPrinters(int waitMs);

// paloma_discover: the probe, then every answer longer than it until `waitMs`
// has passed (or `max` senders were found), one entry per sender.
int discoverWho(int waitMs, paloma_printer_found* found, int max);

}  // namespace paloma
