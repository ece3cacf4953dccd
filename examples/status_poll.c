/* Polls a networked printer's status every half second and says what each
 * answer means, with the reason when the connection or a query fails.
 *
 *   status_poll [HOST [PORT [ROUNDS]]]      (default 127.0.0.1 9100 5)
 *
 * Exit code 0 when the last answer was "ready", 1 otherwise. */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <paloma.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* The status code is two hexadecimal digits of the printer's status byte. */
static const char* meaning(const char* code) {
  static const struct { unsigned bit; const char* words; } bits[] = {
      {0x01, "head open"}, {0x02, "paper jam"}, {0x04, "paper empty"},
      {0x08, "ribbon empty"}, {0x10, "paused"}, {0x20, "printing"}, {0x80, "other error"}};
  static char text[128];
  char* end = NULL;
  unsigned long byte = strtoul(code, &end, 16);
  if (strcmp(code, "-1") == 0 || end == code || *end != '\0') return "no reply";
  if (byte == 0) return "ready";
  text[0] = '\0';
  for (size_t i = 0; i < sizeof bits / sizeof bits[0]; i++) {
    if (byte & bits[i].bit) {
      if (text[0]) strncat(text, ", ", sizeof text - strlen(text) - 1);
      strncat(text, bits[i].words, sizeof text - strlen(text) - 1);
    }
  }
  return text;
}

int main(int argc, char** argv) {
  const char* host = argc > 1 ? argv[1] : "127.0.0.1";
  int port = argc > 2 ? atoi(argv[2]) : 9100;
  int rounds = argc > 3 ? atoi(argv[3]) : 5;
  if (!openethernet(host, port)) {
    fprintf(stderr, "status_poll: %s\n", paloma_last_error());
    return 1;
  }
  const char* last = "-1";
  for (int i = 0; i < rounds; i++) {
    last = ethernetprinterstatus();
    if (strcmp(last, "-1") == 0)
      printf("status: no reply (%s)\n", paloma_last_error());
    else
      printf("status %s: %s\n", last, meaning(last));
    struct timespec pause = {0, 500 * 1000 * 1000};
    nanosleep(&pause, NULL);
  }
  int ready = strcmp(last, "00") == 0;
  closeport();
  return ready ? 0 : 1;
}
