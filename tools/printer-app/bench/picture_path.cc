// PALOMA's own picture path, for job_bench.py to time beside the printer
// application: one handle, the label's page setup, the picture file, PRINT.
//
//   picture_path URI PICTURE WIDTH_MM HEIGHT_MM
#include <paloma.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s URI PICTURE WIDTH_MM HEIGHT_MM\n", argv[0]);
    return 2;
  }
  paloma_printer* p = nullptr;
  paloma_result r = paloma_open(argv[1], &p);
  const std::string size = std::string("SIZE ") + argv[3] + " mm," + argv[4] + " mm";
  if (r == PALOMA_OK) r = paloma_send_command(p, size.c_str());
  if (r == PALOMA_OK) r = paloma_send_command(p, "CLS");
  if (r == PALOMA_OK) r = paloma_image_file(p, 0, 0, argv[2], 0, 0, nullptr);
  if (r == PALOMA_OK) r = paloma_send_command(p, "PRINT 1,1");
  const paloma_result closed = paloma_close(p);
  if (r == PALOMA_OK) r = closed;
  if (r != PALOMA_OK) {
    std::fprintf(stderr, "picture_path: %s: %s\n", paloma_result_text(r), paloma_last_error());
    return 1;
  }
  return 0;
}
