// One page of a print job as the label commands the printer takes: the page
// setup (SIZE, GAP or BLINE, DENSITY, SPEED, CLS), the picture as BITMAP
// commands in bands of rows, and PRINT 1,copies. Nothing here knows the
// framework that serves the jobs; the driver feeds it lines and sends what
// it gives back.
#ifndef PALOMA_PRINTAPP_LABEL_PAGE_H
#define PALOMA_PRINTAPP_LABEL_PAGE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace paloma::printapp {

// How the printer finds the start of the next label.
enum class Tracking { kGap, kMark, kContinuous };

struct PageSetup {
  double widthMm = 100;
  double heightMm = 150;
  Tracking tracking = Tracking::kGap;
  double gapMm = 3;     // gap or black-mark height; 0 for continuous media
  double offsetMm = 0;  // the gap's offset
  int density = 8;      // 0-15
  int speed = 4;        // inches per second
};

// "SIZE ...", "GAP ..." (or "BLINE ..."), "DENSITY n", "SPEED n", "CLS", each
// ending in CR LF.
std::string pageStartCommands(const PageSetup& setup);
// "PRINT 1,copies" with its CR LF.
std::string pageEndCommand(int copies);

// Darkness to the printer's density 0-15: the printer's configured darkness
// (0-100) moved by the job's print-darkness (-100 to 100), clamped.
int densityFromDarkness(int configured, int jobDarkness);
// IPP print-speed (hundredths of a millimetre per second) to the printer's
// whole inches per second, 1-12; 0 (not given) keeps `fallback`.
int speedFromIpp(int hundredthsMmPerSecond, int fallback);
// A length in hundredths of a millimetre as the printer's "N mm" number text
// ("101.6", "50", "0.5"): at most two decimals, no trailing zeros.
std::string millimetres(int hundredths);

// Collects a page's lines and hands the BITMAP commands to `sink` as each
// band fills. Bands that are all white are left out (the page was cleared).
class BandWriter {
 public:
  using Sink = std::function<bool(const void* data, size_t size)>;

  // `width` and `height` in dots of the page as the raster gives it; rows
  // come at y = 0 .. height-1, one bit a dot, 1 = black, the leftmost dot in
  // the most significant bit. `bandRows` rows go into one BITMAP.
  BandWriter(unsigned width, unsigned height, unsigned bandRows, Sink sink);

  // One raster line; false when the sink refused a band.
  bool addLine(unsigned y, const uint8_t* line);
  // Sends what is left of the last band; false when the sink refused it.
  bool finish();

  unsigned bytesPerRow() const { return rowBytes_; }
  // Bytes handed to the sink so far (bands only).
  uint64_t bytesSent() const { return sent_; }

 private:
  bool flush();

  unsigned width_;
  unsigned height_;
  unsigned bandRows_;
  unsigned rowBytes_;
  Sink sink_;
  std::vector<uint8_t> band_;  // header room is not kept here; rows only
  unsigned bandTop_ = 0;       // y of the band's first row
  unsigned rowsInBand_ = 0;
  bool bandHasInk_ = false;
  unsigned nextY_ = 0;
  uint64_t sent_ = 0;
  std::string command_;
};

}  // namespace paloma::printapp

#endif
