// A check for a text that goes into a quoted field of a command line: CR or
// LF would end the command there and a double quote would end the field, so
// that the rest of the text became commands of its own. Such a text is
// refused before anything is sent, the last error naming the argument.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "platform/last_error.h"

namespace paloma {

// True when `text` (a NUL-ended argument, not null) may go into a field;
// otherwise false, with the last error saying which argument of `function`
// holds what.
inline bool fieldTextSafe(std::string_view function, std::string_view argument, const char* text) {
  const char* bad = std::strpbrk(text, "\r\n\"");
  if (!bad) return true;
  setLastError(std::string(function) + ": the argument " + std::string(argument) + " holds " +
               (*bad == '"' ? "a double quote, which would end its quoted field"
                            : "a line end (CR or LF), which would end the command early") +
               "; nothing was sent");
  return false;
}

}  // namespace paloma
