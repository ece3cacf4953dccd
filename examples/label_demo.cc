// A label printed over TCP with the PALOMA SDK: page setup, a title in a
// printer font, a Code 128 barcode, a QR code, a line of host-font text, then
// the printer's status.
//
//   label_demo [HOST [PORT]]      (default 127.0.0.1 9100)
//
// Try it against the virtual printer: scripts/demo.sh does everything.
#include <paloma.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* host = argc > 1 ? argv[1] : "127.0.0.1";
  int port = argc > 2 ? std::atoi(argv[2]) : 9100;

  if (!openethernet(host, port)) {
    std::fprintf(stderr, "label_demo: cannot connect to %s:%d\n", host, port);
    return 1;
  }
  int ok = 1;
  // 100 x 150 mm, speed 4, density 8, a 3 mm gap.
  ok &= setup("100", "150", "4", "8", "0", "3", "0");
  ok &= clearbuffer();
  ok &= printerfont("40", "40", "5", "0", "1", "1", "PALOMA");
  ok &= printerfont("40", "100", "3", "0", "1", "1", "Shipping label 0001");
  ok &= barcode("40", "160", "128", "120", "2", "0", "3", "6", "PALOMA-0001");
  ok &= qrcode("40", "360", "M", "8", "A", "0", "", "", "https://paloma.invalid/label/0001");
  ok &= windowsfont(40, 660, 48, 0, 2, 0, "DejaVu Sans", "Host font, bold");
  ok &= windowsfont(40, 730, 40, 0, 1, 1, "DejaVu Serif", "italic and underlined");
  ok &= printlabel("1", "1");

  const char* status = ethernetprinterstatus();
  std::printf("printer status: %s\n", status);
  closeport();
  if (!ok) {
    std::fprintf(stderr, "label_demo: a command was not sent whole\n");
    return 1;
  }
  return 0;
}
