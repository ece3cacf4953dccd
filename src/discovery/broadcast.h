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

// The UDP socket a probe goes out from: broadcasts allowed, bound to the
// discovery port. On failure it records why, sets *created to whether a
// socket was made at all, and returns kInvalidSocket.
Socket openProbeSocket(Os& sys, bool* created);

}  // namespace paloma
