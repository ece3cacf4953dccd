// The printer's status byte as IPP printer-state-reasons.
#ifndef PALOMA_PRINTAPP_STATUS_REASONS_H
#define PALOMA_PRINTAPP_STATUS_REASONS_H

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace paloma::printapp {

struct StatusReasons {
  pappl_preason_t reasons = PAPPL_PREASON_NONE;  // the bits the byte sets
  bool paused = false;                           // the printer says it is paused
  bool blocksPrinting = false;                   // a job has to wait
  std::string text;                              // "paper empty, ribbon empty"; "ready"
};

// The reasons this application manages; any other bit is left to the
// framework.
inline constexpr pappl_preason_t kManagedReasons =
    PAPPL_PREASON_DOOR_OPEN | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_EMPTY |
    PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE;

StatusReasons reasonsForStatus(uint8_t byte);

}  // namespace paloma::printapp

#endif
