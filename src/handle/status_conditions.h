// The status byte's conditions: the printer sets one bit per condition, and
// a byte is the sum of those that hold. This is the one table of their names;
// the library reads the byte through it (paloma_status_conditions,
// paloma_status_text), and the virtual printer, which does not link the
// library, compiles this header in to name the bits on its page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace paloma {

struct StatusCondition {
  std::uint8_t bit;
  const char* name;
};

// In bit order.
inline constexpr StatusCondition kStatusConditions[] = {
    {0x01, "head open"},    {0x02, "paper jam"}, {0x04, "paper empty"},
    {0x08, "ribbon empty"}, {0x10, "paused"},    {0x20, "printing"},
    {0x40, "unknown condition"}, {0x80, "other error"},
};
inline constexpr std::size_t kStatusConditionCount =
    sizeof kStatusConditions / sizeof kStatusConditions[0];

}  // namespace paloma
