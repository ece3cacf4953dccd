// Strings handed to the caller as paloma_bstr: the bytes, preceded by a
// hidden 32-bit byte length and followed by two NUL bytes, released with
// paloma_bstr_free. The bytes are copied as they are (never widened), so a
// string may hold NUL bytes of its own; its length is the hidden prefix.
// The OS backend makes and releases them (on Windows they are OLE
// Automation strings, so an application may also release one with
// SysFreeString).
#pragma once

#include <cstddef>
#include <cstdint>

#include "paloma.h"

namespace paloma {

// A new string holding `n` bytes copied from `data` (data may be null when n
// is 0). Returns null only when the memory cannot be had or n does not fit
// the 32-bit length.
paloma_bstr bstrAlloc(const void* data, std::size_t n);

// A new string holding the NUL-terminated text `text`.
paloma_bstr bstrFromText(const char* text);

// The byte length stored in front of `s` (0 for null).
std::uint32_t bstrByteLength(paloma_bstr s);

}  // namespace paloma
