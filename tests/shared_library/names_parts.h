// The names test program's parts that call the functions without the
// paloma_ prefix (names_legacy_part.cc).
#pragma once

int legacyOpen(int port);
int legacyClose();
int legacySendFile(const char* path);
