#include "status_reasons.h"

namespace paloma::printapp {

namespace {

struct Condition {
  uint8_t bit;
  const char* text;
  pappl_preason_t reason;
};

// Bit by bit; "printing" (0x20) is not a fault and sets nothing.
constexpr Condition kConditions[] = {
    {0x01, "head open", PAPPL_PREASON_DOOR_OPEN},
    {0x02, "paper jam", PAPPL_PREASON_MEDIA_JAM},
    {0x04, "paper empty", PAPPL_PREASON_MEDIA_EMPTY},
    {0x08, "ribbon empty", PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
    {0x10, "paused", PAPPL_PREASON_NONE},
    {0x20, "printing", PAPPL_PREASON_NONE},
    {0x40, "other error", PAPPL_PREASON_OTHER},
    {0x80, "other error", PAPPL_PREASON_OTHER},
};

}  // namespace

StatusReasons reasonsForStatus(uint8_t byte) {
  StatusReasons r;
  for (const Condition& c : kConditions) {
    if (!(byte & c.bit)) continue;
    r.reasons |= c.reason;
    if (c.bit == 0x10) r.paused = true;
    if (c.bit != 0x20) r.blocksPrinting = true;
    if (r.text.find(c.text) != std::string::npos) continue;
    if (!r.text.empty()) r.text += ", ";
    r.text += c.text;
  }
  if (r.text.empty()) r.text = "ready";
  return r;
}

}  // namespace paloma::printapp
