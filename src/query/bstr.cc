#include "query/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace paloma {

namespace {
constexpr std::size_t kPrefix = sizeof(std::uint32_t);
constexpr std::size_t kTerminator = 2;  // room for a two-byte NUL as well as a one-byte one
}  // namespace

paloma_bstr bstrAlloc(const void* data, std::size_t n) {
  if (n > std::numeric_limits<std::uint32_t>::max() - kPrefix - kTerminator) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + n + kTerminator));
  if (!block) return nullptr;
  const auto len = static_cast<std::uint32_t>(n);
  std::memcpy(block, &len, kPrefix);
  if (n > 0) std::memcpy(block + kPrefix, data, n);
  std::memset(block + kPrefix + n, 0, kTerminator);
  return reinterpret_cast<paloma_bstr>(block + kPrefix);
}

paloma_bstr bstrFromText(const char* text) {
  if (!text) text = "";
  return bstrAlloc(text, std::strlen(text));
}

std::uint32_t bstrByteLength(paloma_bstr s) {
  if (!s) return 0;
  std::uint32_t len = 0;
  std::memcpy(&len, reinterpret_cast<unsigned char*>(s) - kPrefix, kPrefix);
  return len;
}

}  // namespace paloma

extern "C" {

void paloma_bstr_free(paloma_bstr s) {
  if (!s) return;
  std::free(reinterpret_cast<unsigned char*>(s) - paloma::kPrefix);
}

unsigned int paloma_bstr_bytelen(paloma_bstr s) { return paloma::bstrByteLength(s); }

}  // extern "C"
