// The reason for the most recent failed call, kept per thread, and the debug
// detail that reaches the message handler only when the application asks.
#pragma once

#include <string>
#include <string_view>

namespace paloma {

// Records why the current call failed: a sentence a person can act on, and the
// OS error number (0 when the cause is not an OS error).
void setLastError(std::string text, int osError = 0);

// Records an OS failure: "<what>: <the system's sentence for osError>" and the
// number, e.g. "open \"labels/x.prn\": No such file or directory".
void setLastOsError(std::string_view what, int osError);

// Detail for a developer (the face a font was substituted by, ...): delivered
// to the message handler with the debug icon only when the log level asks.
void debugMessage(std::string_view text);

// Whether debug detail reaches the message handler (the log level asks for
// it): detail that costs work to find is only looked for then.
bool debugEnabled();

}  // namespace paloma
