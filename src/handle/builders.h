// The label builders on a printer handle: one table of every builder, each
// row formatting its command lines with the same pure formatter as the
// function of the single connection, so that both put the same bytes on the
// wire.
#pragma once

#include <cstddef>

#include "commands/builders.h"
#include "paloma.h"

namespace paloma {

struct BuilderRow {
  const char* handleName;  // "paloma_setup"
  const char* legacyName;  // "setup"
  std::size_t argc;        // text arguments (integers as decimal text)
  // The command lines for `args`; false (with the reason recorded) when
  // they are refused.
  bool (*format)(const char* const* args, commands::CommandLines* out);
  // The restart bytes and their line end follow the lines.
  bool restartAfter;
  // The single connection's function with the same arguments.
  int (*legacy)(const char* const* args);
};

extern const BuilderRow kBuilderRows[];
extern const std::size_t kBuilderRowCount;

// Formats `row` with `args` and sends the lines, each with CR LF (then the
// restart bytes and CR LF when the row asks), in one write on the handle.
paloma_result sendBuilder(paloma_printer* p, const BuilderRow& row, const char* const* args);

}  // namespace paloma
