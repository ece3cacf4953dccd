// The application's message handler, shared by every backend.
#pragma once

#include <string_view>

#include "platform/os.h"

namespace paloma {

// Delivers a message to the installed handler, or writes "caption: text" to
// standard error when none is installed.
void deliverMessage(std::string_view text, std::string_view caption, MessageIcon icon);

}  // namespace paloma
