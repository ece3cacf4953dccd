/* Five printers at once, one in each numbered slot: each gets its own label
 * and is asked its status.
 *
 *   five_slots HOST:PORT [HOST:PORT ...]     (up to five; one may repeat)
 */
#include <paloma.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 6) {
    fprintf(stderr, "usage: five_slots HOST:PORT [HOST:PORT ...] (one to five printers)\n");
    return 2;
  }
  int failed = 0;
  for (int n = 1; n < argc; n++) {
    char host[64];
    const char* colon = strrchr(argv[n], ':');
    if (!colon || (size_t)(colon - argv[n]) >= sizeof host) {
      fprintf(stderr, "five_slots: %s is not HOST:PORT\n", argv[n]);
      return 2;
    }
    memcpy(host, argv[n], (size_t)(colon - argv[n]));
    host[colon - argv[n]] = '\0';
    if (!openethernetmult(n, host, atoi(colon + 1))) {
      fprintf(stderr, "five_slots: slot %d: %s\n", n, paloma_last_error());
      failed = 1;
      continue;
    }
    /* Over the network a slot takes its label as command lines (the slot
     * builders serve printers in slots on USB or a spooler queue). */
    char title[64];
    snprintf(title, sizeof title, "TEXT 20,20,\"3\",0,1,1,\"Printer in slot %d\"", n);
    int ok = sendcommandmult(n, "SIZE 60 mm,40 mm") && sendcommandmult(n, "CLS") &&
             sendcommandmult(n, title) &&
             sendcommandmult(n, "BARCODE 20,80,\"128\",80,1,0,2,4,\"SLOT\"") &&
             sendcommandmult(n, "PRINT 1,1");
    printf("slot %d: %s, status %s\n", n, ok ? "printed" : "not printed",
           ethernetprinterstatusmult(n));
    if (!ok) failed = 1;
  }
  for (int n = 1; n < argc; n++) closeethernetportmult(n, 0);
  return failed;
}
