#include "status_reasons.h"

#include <paloma.h>

#include <cstring>

namespace paloma::printapp {

namespace {

struct ConditionReason {
  const char* condition;  // a name from the library's status table
  pappl_preason_t reason;
  bool blocks;            // a job waits while it lasts
};

// Conditions the table may name that are not listed here are faults of
// another kind: "other" and waiting.
constexpr ConditionReason kReasons[] = {
    // The framework (1.3) leaves door-open out of printer-state-reasons when
    // it is set, so cover-open goes with it and shows.
    {"head open", PAPPL_PREASON_DOOR_OPEN | PAPPL_PREASON_COVER_OPEN, true},
    {"paper jam", PAPPL_PREASON_MEDIA_JAM, true},
    {"paper empty", PAPPL_PREASON_MEDIA_EMPTY, true},
    {"ribbon empty", PAPPL_PREASON_MARKER_SUPPLY_EMPTY, true},
    {"paused", PAPPL_PREASON_NONE, true},
    {"printing", PAPPL_PREASON_NONE, false},
};

}  // namespace

StatusReasons reasonsForStatus(uint8_t byte) {
  StatusReasons r;
  const char* names[8];
  const size_t n = paloma_status_conditions(byte, names, 8);
  for (size_t i = 0; i < n && i < 8; ++i) {
    const ConditionReason* known = nullptr;
    for (const ConditionReason& c : kReasons)
      if (!std::strcmp(c.condition, names[i])) known = &c;
    if (!known) {
      r.reasons |= PAPPL_PREASON_OTHER;
      r.blocksPrinting = true;
      continue;
    }
    r.reasons |= known->reason;
    r.blocksPrinting |= known->blocks;
    if (!std::strcmp(known->condition, "paused")) r.paused = true;
  }
  r.text = paloma_status_text(byte);
  return r;
}

}  // namespace paloma::printapp
