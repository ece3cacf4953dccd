/* The labels of docs/guide.md. scripts/make-guide-images.sh prints each on
 * the virtual printer and keeps the PNG it renders as docs/guide/NAME.png.
 *
 *   guide_examples HOST PORT NAME     (NAME: one of the examples below)
 *
 * Each example is the code the guide shows, between the "guide:" markers. */
#include <paloma.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* guide: origin */
static int origin(void) {
  setup("50", "30", "4", "8", "0", "3", "0"); /* 50 x 30 mm: 400 x 240 dots */
  clearbuffer();
  sendcommand("BOX 0,0,399,239,2");          /* the label's edge */
  sendcommand("BAR 0,0,400,4");              /* x grows to the right */
  sendcommand("BAR 0,0,4,240");              /* y grows downwards */
  for (int mm = 10; mm < 50; mm += 10) {     /* a tick every 10 mm = 80 dots */
    char bar[32];
    snprintf(bar, sizeof bar, "BAR %d,0,2,16", mm * 8);
    sendcommand(bar);
  }
  printerfont("84", "20", "2", "0", "1", "1", "x = 80 (10 mm)");
  sendcommand("BAR 156,116,8,8");            /* the point (160, 120) */
  printerfont("172", "114", "2", "0", "1", "1", "(160, 120)");
  printerfont("12", "200", "2", "0", "1", "1", "(0, 0) is the top left");
  return printlabel("1", "1");
}
/* guide: end */

/* guide: rotation */
static int rotation(void) {
  setup("50", "40", "4", "8", "0", "3", "0");
  clearbuffer();
  /* Each text turns clockwise about its (x, y), marked by a small square. */
  sendcommand("BAR 36,36,8,8");
  printerfont("40", "40", "3", "0", "1", "1", "0 deg");
  sendcommand("BAR 356,36,8,8");
  printerfont("360", "40", "3", "90", "1", "1", "90 deg");
  sendcommand("BAR 356,276,8,8");
  printerfont("360", "280", "3", "180", "1", "1", "180 deg");
  sendcommand("BAR 36,276,8,8");
  printerfont("40", "280", "3", "270", "1", "1", "270 deg");
  return printlabel("1", "1");
}
/* guide: end */

/* The two kinds of media, drawn with BOX and BAR. */
static int sensors(void) {
  setup("100", "60", "4", "8", "0", "3", "0");
  clearbuffer();
  /* Left: labels on a liner, a gap between them (front view). */
  printerfont("40", "8", "2", "0", "1", "1", "gap sensor: sensor \"0\"");
  sendcommand("BOX 60,40,340,470,2");        /* the liner */
  sendcommand("BOX 80,60,320,180,3");        /* a label */
  sendcommand("BOX 80,204,320,324,3");       /* the next, 24 dots = 3 mm below */
  sendcommand("BOX 80,348,320,468,3");
  sendcommand("BAR 330,180,30,2");
  sendcommand("BAR 330,204,30,2");
  printerfont("352", "184", "2", "0", "1", "1", "gap 3 mm");
  printerfont("100", "110", "2", "0", "1", "1", "label");
  printerfont("100", "254", "2", "0", "1", "1", "label");
  printerfont("100", "398", "2", "0", "1", "1", "label");
  /* Right: the back of a liner with black marks. */
  printerfont("440", "8", "2", "0", "1", "1", "black line: sensor \"1\" (back)");
  sendcommand("BOX 460,40,740,470,2");       /* the liner, from behind */
  sendcommand("BAR 462,180,276,24");         /* a black mark, 3 mm high */
  sendcommand("BAR 462,324,276,24");
  printerfont("480", "120", "2", "0", "1", "1", "label");
  printerfont("480", "260", "2", "0", "1", "1", "label");
  printerfont("480", "400", "2", "0", "1", "1", "label");
  return printlabel("1", "1");
}

/* guide: printerfont */
static int fonts(void) {
  setup("60", "40", "4", "8", "0", "3", "0");
  clearbuffer();
  printerfont("16", "10", "1", "0", "1", "1", "font 1: 8 x 12 dots");
  printerfont("16", "30", "2", "0", "1", "1", "font 2: 12 x 20 dots");
  printerfont("16", "60", "3", "0", "1", "1", "font 3: 16 x 24 dots");
  printerfont("16", "94", "4", "0", "1", "1", "font 4: 24 x 32");
  printerfont("16", "136", "3", "0", "2", "2", "font 3 x2 y2");
  printerfont("16", "200", "5", "0", "1", "1", "font 5");
  return printlabel("1", "1");
}
/* guide: end */

/* guide: barcode */
static int barcodes(void) {
  setup("70", "50", "4", "8", "0", "3", "0");
  clearbuffer();
  /* Code 128, text centred below, 2-dot modules. */
  barcode("30", "20", "128", "80", "2", "0", "2", "2", "PALOMA-0001");
  /* Code 39 has two bar widths: narrow 2 dots, wide 5; text on the left. */
  barcode("30", "150", "39", "60", "1", "0", "2", "5", "AB-12");
  /* EAN-13: twelve digits, the printer adds the check digit. */
  barcode("30", "270", "EAN13", "70", "2", "0", "3", "3", "590123412345");
  return printlabel("1", "1");
}
/* guide: end */

/* guide: symbols */
static int symbols(void) {
  setup("100", "50", "4", "8", "0", "3", "0");
  clearbuffer();
  qrcode("20", "20", "M", "6", "A", "0", "", "", "https://example.org/paloma");
  dmatrix("200", "20", "150", "150", "", "", "", "PALOMA DATA MATRIX");
  aztec("380", "20", "0", "6", "", "", "", "", "", "PALOMA AZTEC");
  /* MaxiCode has a fixed size, about 1 inch (203 dots) square. */
  maxicode("570", "20", "4", "", "", "", "PALOMA MAXICODE");
  /* PDF417: error level P1, modules 3 dots wide and 9 high. */
  pdf417("20", "260", "500", "120", "0", "", "P1", "", "", "", "", "E3", "H9", "", "", "", "",
         "PALOMA PDF417");
  printerfont("20", "180", "2", "0", "1", "1", "QR code");
  printerfont("200", "180", "2", "0", "1", "1", "Data Matrix");
  printerfont("380", "130", "2", "0", "1", "1", "Aztec");
  printerfont("570", "250", "2", "0", "1", "1", "MaxiCode");
  printerfont("20", "340", "2", "0", "1", "1", "PDF417");
  return printlabel("1", "1");
}
/* guide: end */

/* guide: rss */
static int databar(void) {
  setup("60", "25", "4", "8", "0", "3", "0");
  clearbuffer();
  rss("20", "20", "RSS14", "0", "2", "2", "", "0950110153001");
  rss("240", "20", "RSSLIM", "0", "2", "2", "", "0950110153001");
  printerfont("20", "150", "2", "0", "1", "1", "RSS14 and RSSLIM");
  return printlabel("1", "1");
}
/* guide: end */

/* guide: hostfont */
static int hostfont(void) {
  setup("70", "30", "4", "8", "0", "3", "0");
  clearbuffer();
  windowsfont(16, 10, 40, 0, 0, 0, "DejaVu Sans", "Host font: DejaVu Sans");
  windowsfont(16, 56, 40, 0, 2, 1, "DejaVu Serif", "bold, underlined");
  windowsfontUnicode(16, 110, 48, 0, 0, 0, "Noto Sans CJK JP",
                     u"\u65e5\u672c\u8a9e \u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac");
  windowsfont(490, 236, 32, 90, 0, 0, "DejaVu Sans", "turned 90");
  return printlabel("1", "1");
}
/* guide: end */

/* guide: picture */
static int picture(void) {
  /* A shaded ball of 120 x 120 gray pixels, made here; a PNG, JPEG, GIF, BMP
   * or PNM file goes the same way with paloma_sendimage(x, y, path, ...). */
  static unsigned char ball[120 * 120];
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 120; ++x) {
      int edge = (x - 60) * (x - 60) + (y - 60) * (y - 60);
      int light = (x - 42) * (x - 42) + (y - 40) * (y - 40);
      int level = 250 - light * 230 / 6400;
      ball[y * 120 + x] = (unsigned char)(edge > 3540 ? 255 : level < 0 ? 0 : level);
    }
  static const int kinds[3] = {PALOMA_DITHER_DIFFUSION, PALOMA_DITHER_ORDERED,
                               PALOMA_DITHER_THRESHOLD};
  static const char* names[3] = {"diffusion", "ordered", "threshold"};
  paloma_image_options options;
  paloma_image_options_init(&options);
  setup("70", "30", "4", "8", "0", "3", "0");
  clearbuffer();
  for (int i = 0; i < 3; ++i) {
    options.dither = kinds[i];
    /* 160 dots wide; the height follows the picture's aspect. */
    if (!paloma_sendimage_pixels(16 + 184 * i, 12, ball, 120, 120, 120, PALOMA_PIXELS_GRAY8, 160, 0,
                                 &options))
      return 0;
    char x[8];
    snprintf(x, sizeof x, "%d", 24 + 184 * i);
    printerfont(x, "190", "3", "0", "1", "1", names[i]);
  }
  return printlabel("1", "1");
}
/* guide: end */

int main(int argc, char** argv) {
  static const struct { const char* name; int (*print)(void); } examples[] = {
      {"origin", origin},   {"rotation", rotation}, {"sensors", sensors},
      {"printerfont", fonts}, {"barcode", barcodes}, {"symbols", symbols},
      {"rss", databar},     {"hostfont", hostfont}, {"picture", picture},
  };
  if (argc != 4) {
    fprintf(stderr, "usage: %s HOST PORT NAME\n", argv[0]);
    return 2;
  }
  for (size_t i = 0; i < sizeof examples / sizeof examples[0]; ++i) {
    if (strcmp(argv[3], examples[i].name) != 0) continue;
    /* guide: errors */
    if (!openethernet(argv[1], atoi(argv[2]))) {
      fprintf(stderr, "cannot reach the printer: %s\n", paloma_last_error());
      return 1;
    }
    /* guide: end */
    int ok = examples[i].print();
    if (!ok) fprintf(stderr, "%s: %s\n", argv[3], paloma_last_error());
    closeport();
    return ok ? 0 : 1;
  }
  fprintf(stderr, "%s: no example named %s\n", argv[0], argv[3]);
  return 2;
}
