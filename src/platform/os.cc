#include "platform/os.h"

#include <cerrno>
#include <cstring>

#include "platform/last_error.h"

namespace paloma {

namespace {
Os* g_override = nullptr;
}

Os& os() { return g_override ? *g_override : platformOs(); }

void setOs(Os* backend) { g_override = backend; }

int Os::lastOsError() { return errno; }

std::string Os::osErrorText(int code) {
  const char* text = std::strerror(code);
  return text ? std::string(text) : "error " + std::to_string(code);
}

bool Os::resolveIPv4(const std::string& host, std::uint32_t* hostOrder) {
  if (ipv4FromText(host.c_str(), hostOrder)) return true;
  setLastError("\"" + host + "\" is not an IPv4 address such as 192.168.1.20");
  return false;
}

}  // namespace paloma
