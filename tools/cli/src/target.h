// Where a command goes: the printer addresses (URIs) the tool takes. They are
// the library's own forms, parsed by the library's parser, so that the tool
// and paloma_open() accept and refuse the same addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "handle/uri.h"

namespace paloma_cli {

using Target = paloma::PrinterUri;
using TargetKind = paloma::UriKind;

// How status and information queries reach the printer.
enum class QueryPath { Network, Serial, Usb, None };

// The accepted forms, one a line, for messages and help.
extern const char* const kTargetForms;

// Parses a URI; on failure returns nothing and says why in `why`.
std::optional<Target> parseTarget(std::string_view uri, std::string* why);

QueryPath queryPathOf(const Target& t);

// The URI written back in its canonical form (defaults filled in).
std::string describe(const Target& t);

}  // namespace paloma_cli
