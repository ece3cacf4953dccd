// Temporary definitions of the host-font text operations and the 8-bit text
// conversion of the Linux backend, so that the library links until
// posix_text.cc exists. The author of posix_text.cc deletes this file in the
// same commit that adds posix_text.cc.
#include "platform/posix/posix_os.h"

namespace paloma {

bool PosixOs::textExtent(const FontSpec&, const HostText&, int*, int*) { return false; }

bool PosixOs::drawText(const FontSpec&, const HostText&, int, int, int, int, BitBlock*) {
  return false;
}

// Every byte read as ISO-8859-1, so that each one means something.
std::u16string PosixOs::ansiToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) out.push_back(static_cast<char16_t>(c));
  return out;
}

}  // namespace paloma
