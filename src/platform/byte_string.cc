// The default strings handed to the application: a heap block holding a
// 32-bit byte length, the bytes, and two NUL bytes (room for a two-byte NUL
// as well as a one-byte one). The pointer handed out is to the first byte.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/os.h"

namespace paloma {

namespace {
constexpr std::size_t kPrefix = sizeof(std::uint32_t);
constexpr std::size_t kTerminator = 2;
}  // namespace

char* Os::allocByteString(const char* bytes, std::size_t n) {
  if (n > std::numeric_limits<std::uint32_t>::max() - kPrefix - kTerminator) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kPrefix + n + kTerminator));
  if (!block) return nullptr;
  const auto len = static_cast<std::uint32_t>(n);
  std::memcpy(block, &len, kPrefix);
  if (n > 0) std::memcpy(block + kPrefix, bytes, n);
  std::memset(block + kPrefix + n, 0, kTerminator);
  return block + kPrefix;
}

void Os::freeByteString(char* s) {
  if (s) std::free(s - kPrefix);
}

std::uint32_t Os::byteStringLength(const char* s) {
  if (!s) return 0;
  std::uint32_t len = 0;
  std::memcpy(&len, s - kPrefix, kPrefix);
  return len;
}

}  // namespace paloma
