// The printer's TCP connection, shared by the single connection and the slots.
#pragma once

#include "platform/os.h"

namespace paloma {

// The pause after a connection is made, before its opener returns.
inline constexpr int kNetworkSettlePauseMs = 50;

// Connects a new socket to an IPv4 address text (ipv4FromText: "127.1" is
// 127.0.0.1; no host names) and the port's low 16 bits, and gives it the 1000 ms send and
// receive time-outs and TCP_NODELAY. Returns kInvalidSocket when the address
// does not parse, no socket can be made or the connection fails (the
// socket is closed again then).
Socket connectPrinterSocket(const char* address, int port);

}  // namespace paloma
