#include "query/bstr.h"

#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {

paloma_bstr bstrAlloc(const void* data, std::size_t n) {
  paloma_bstr s = os().allocByteString(static_cast<const char*>(data), n);
  if (!s) setLastError("no memory for a string of " + std::to_string(n) + " bytes");
  return s;
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
