/* Polls the status of several printers at once, one thread and one handle
 * per printer, so that a silent printer never holds the others back.
 *
 *   many_printers tcp://192.168.1.50 tcp://192.168.1.51:9100 serial:/dev/ttyUSB0?baud=9600
 *
 * Prints each printer's conditions ("ready", "paper jam, paper empty", ...),
 * or why it could not be asked. Built with PALOMA_NO_LEGACY_API: it needs
 * none of the functions without the paloma_ prefix. */
#define PALOMA_NO_LEGACY_API
#include <paloma.h>

#include <pthread.h>
#include <stdio.h>

#define MAX_PRINTERS 64

struct job {
  const char* uri;
  char line[256];
};

static void* poll_one(void* arg) {
  struct job* job = arg;
  paloma_printer* p = NULL;
  paloma_result r = paloma_open(job->uri, &p);
  if (r != PALOMA_OK) {
    snprintf(job->line, sizeof job->line, "%s: %s (%s)", job->uri, paloma_result_text(r),
             paloma_last_error());
    return NULL;
  }
  paloma_set_reply_timeout(p, 1500);
  uint8_t byte = 0;
  char name[64] = "";
  if (paloma_info(p, "name", name, sizeof name) != PALOMA_OK) name[0] = '\0';
  r = paloma_status(p, &byte);
  if (r == PALOMA_OK)
    snprintf(job->line, sizeof job->line, "%s %s: %s (0x%02X)", job->uri, name,
             paloma_status_text(byte), byte);
  else
    snprintf(job->line, sizeof job->line, "%s: %s (%s)", job->uri, paloma_result_text(r),
             paloma_last_error());
  paloma_close(p);
  return NULL;
}

int main(int argc, char** argv) {
  static struct job jobs[MAX_PRINTERS];
  pthread_t threads[MAX_PRINTERS];
  int n = argc - 1 < MAX_PRINTERS ? argc - 1 : MAX_PRINTERS;
  if (n == 0) {
    fprintf(stderr, "usage: many_printers URI...\n");
    return 2;
  }
  for (int i = 0; i < n; ++i) {
    jobs[i].uri = argv[i + 1];
    pthread_create(&threads[i], NULL, poll_one, &jobs[i]);
  }
  for (int i = 0; i < n; ++i) {
    pthread_join(threads[i], NULL);
    puts(jobs[i].line);
  }
  return 0;
}
