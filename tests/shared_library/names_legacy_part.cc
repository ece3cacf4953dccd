// The part of the names test program that uses the functions without the
// paloma_ prefix, as a program written against them does.
#include "names_parts.h"

#include "paloma.h"

int legacyOpen(int port) { return openethernet("127.0.0.1", port); }
int legacyClose() { return closeport(); }
int legacySendFile(const char* path) { return sendfile(path); }
