// An application that defines functions of its own with the names of SDK
// functions the SDK itself calls (sendcommand under every label command,
// closeport under openport, ethernetprinterstatus under printerstatus). The
// SDK's calls must still reach its own functions: the same results and the
// same bytes on the wire as without the application's functions, and none of
// the application's functions called by the SDK.
#include <cstdio>
#include <string>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {
int g_ownCalls = 0;
}

// The application's own functions. Only the application may call them.
extern "C" int sendcommand(const char*) {
  ++g_ownCalls;
  return 0;
}
extern "C" int closeport(void) {
  ++g_ownCalls;
  return 0;
}
extern "C" const char* ethernetprinterstatus(void) {
  ++g_ownCalls;
  return "application";
}

namespace {

int fail(const std::string& why) {
  std::fprintf(stderr, "own_functions_kept_apart: %s\n", why.c_str());
  return 1;
}

std::string visible(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

int main() {
  using paloma::test::LoopbackPeer;
  // Answers the status request (a block ending in NUL bytes) with 0x0B.
  LoopbackPeer peer([answered = false](const std::string& got) mutable {
    if (answered || got.find('\0') == std::string::npos) return LoopbackPeer::Reply{};
    answered = true;
    return LoopbackPeer::Reply{"\x0B"};
  });
  if (peer.port() == 0) return fail("the loopback peer could not listen");
  if (openethernet("127.0.0.1", peer.port()) != 1) return fail("openethernet failed");

  if (clearbuffer() != 1) return fail("clearbuffer did not reach the printer");
  if (printlabel("1", "2") != 1) return fail("printlabel did not reach the printer");
  const char* status = printerstatus();
  if (std::string(status) != "0B") return fail(std::string("printerstatus gave ") + status);

  const std::string commands = "CLS\r\nPRINT 1,2\r\n";
  const std::string statusRequest = "\x1b!?\r\n";
  const std::size_t statusBlock = 200;
  if (!peer.waitReceived(commands.size() + statusBlock, 5000))
    return fail("the printer got only " + visible(peer.received()));
  const std::string wire = peer.received();
  if (wire.size() != commands.size() + statusBlock ||
      wire.compare(0, commands.size() + statusRequest.size(), commands + statusRequest) != 0 ||
      wire.find_first_not_of('\0', commands.size() + statusRequest.size()) != std::string::npos)
    return fail("unexpected bytes on the wire: " + visible(wire));

  // openport closes the connection held before it (through closeport) even
  // when the name it is given opens nothing.
  if (openport("no printer of this name") != 0) return fail("openport opened a printer");
  if (!peer.nextClosed(5000).ended) return fail("openport left the network connection open");

  if (g_ownCalls != 0)
    return fail("the SDK called the application's functions " + std::to_string(g_ownCalls) +
                " times");
  return 0;
}
