// The SDK's side of the browser test: prints a label or reads the status
// over TCP, as an application would.
//   vprinter_sdk_client HOST PORT label   prints one label; "ok" or a reason
//   vprinter_sdk_client HOST PORT status  the status text of the status query
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "paloma.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vprinter_sdk_client HOST PORT label|status\n");
    return 2;
  }
  if (openethernet(argv[1], std::atoi(argv[2])) != 1) {
    std::printf("cannot connect to %s:%s\n", argv[1], argv[2]);
    return 1;
  }
  int rc = 0;
  if (std::strcmp(argv[3], "label") == 0) {
    bool ok = setup("50", "30", "4", "8", "0", "2", "0") == 1 && clearbuffer() == 1 &&
              printerfont("16", "16", "3", "0", "1", "1", "BROWSER TEST") == 1 &&
              barcode("16", "60", "128", "80", "1", "0", "2", "4", "PALOMA-42") == 1 &&
              printlabel("1", "1") == 1;
    std::printf("%s\n", ok ? "ok" : "a command was not sent");
    rc = ok ? 0 : 1;
  } else if (std::strcmp(argv[3], "status") == 0) {
    std::printf("%s\n", ethernetprinterstatus());
  } else {
    std::fprintf(stderr, "vprinter_sdk_client: label or status, not %s\n", argv[3]);
    rc = 2;
  }
  closeport();
  return rc;
}
