#include "query/bstr.h"

#include <cstring>

#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {

paloma_bstr bstrAlloc(const void* data, std::size_t n) {
  return os().allocByteString(static_cast<const char*>(data), n);
}

paloma_bstr bstrFromText(const char* text) {
  if (!text) text = "";
  return bstrAlloc(text, std::strlen(text));
}

std::uint32_t bstrByteLength(paloma_bstr s) { return os().byteStringLength(s); }

}  // namespace paloma

extern "C" {

void paloma_bstr_free(paloma_bstr s) { paloma::ApiLock lock; paloma::os().freeByteString(s); }

unsigned int paloma_bstr_bytelen(paloma_bstr s) {
  paloma::ApiLock lock;
  return paloma::bstrByteLength(s);
}

}  // extern "C"
