#include "platform/os.h"

#include <cerrno>
#include <cstring>

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

}  // namespace paloma
