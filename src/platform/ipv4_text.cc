// The platform's own conversion of IPv4 address texts.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "platform/os.h"

namespace paloma {

bool ipv4FromText(const char* text, std::uint32_t* hostOrder) {
  if (!text || text[0] == '\0' || !hostOrder) return false;
#ifdef _WIN32
  // INADDR_NONE is both the failure and 255.255.255.255.
  const unsigned long addr = inet_addr(text);
  if (addr == INADDR_NONE) return false;
  *hostOrder = ntohl(static_cast<u_long>(addr));
#else
  in_addr addr{};
  if (inet_aton(text, &addr) == 0) return false;
  if (addr.s_addr == INADDR_NONE) return false;
  *hostOrder = ntohl(addr.s_addr);
#endif
  return true;
}

}  // namespace paloma
