// Host-font text in three scripts on one label: Latin with accents, Greek
// and Cyrillic, and Japanese, each drawn by the host's fonts into a bitmap
// that the printer prints as it is.
//
//   hostfont_scripts [HOST [PORT]]      (default 127.0.0.1 9100)
#include <paloma.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* host = argc > 1 ? argv[1] : "127.0.0.1";
  int port = argc > 2 ? std::atoi(argv[2]) : 9100;
  if (!openethernet(host, port)) {
    std::fprintf(stderr, "hostfont_scripts: %s\n", paloma_last_error());
    return 1;
  }
  int ok = setup("100", "60", "4", "8", "0", "3", "0") && clearbuffer();
  // UTF-16 text: any script the host's fonts cover.
  ok = ok && windowsfontUnicode(40, 40, 48, 0, 0, 0, "DejaVu Sans", u"Zürich, Ærøskøbing");
  ok = ok && windowsfontUnicode(40, 120, 48, 0, 0, 0, "DejaVu Sans", u"Αθήνα · Москва");
  ok = ok && windowsfontUnicode(40, 200, 48, 0, 0, 0, "Noto Sans CJK JP", u"東京・大阪");
  ok = ok && printlabel("1", "1");
  if (!ok) std::fprintf(stderr, "hostfont_scripts: %s\n", paloma_last_error());
  closeport();
  return ok ? 0 : 1;
}
