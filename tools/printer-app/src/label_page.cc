#include "label_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace paloma::printapp {

std::string millimetres(int hundredths) {
  if (hundredths < 0) hundredths = 0;
  char text[32];
  const int whole = hundredths / 100;
  const int part = hundredths % 100;
  if (part == 0)
    std::snprintf(text, sizeof text, "%d", whole);
  else if (part % 10 == 0)
    std::snprintf(text, sizeof text, "%d.%d", whole, part / 10);
  else
    std::snprintf(text, sizeof text, "%d.%02d", whole, part);
  return text;
}

static int hundredthsOf(double mm) { return static_cast<int>(std::lround(mm * 100.0)); }

std::string pageStartCommands(const PageSetup& setup) {
  std::string out;
  out += "SIZE " + millimetres(hundredthsOf(setup.widthMm)) + " mm," +
         millimetres(hundredthsOf(setup.heightMm)) + " mm\r\n";
  // Continuous media: a gap of 0 tells the printer there is none to find.
  const bool continuous = setup.tracking == Tracking::kContinuous;
  const char* keyword = setup.tracking == Tracking::kMark ? "BLINE" : "GAP";
  out += std::string(keyword) + " " + millimetres(continuous ? 0 : hundredthsOf(setup.gapMm)) +
         " mm," + millimetres(continuous ? 0 : hundredthsOf(setup.offsetMm)) + " mm\r\n";
  out += "DENSITY " + std::to_string(std::clamp(setup.density, 0, 15)) + "\r\n";
  out += "SPEED " + std::to_string(std::clamp(setup.speed, 1, 12)) + "\r\n";
  out += "CLS\r\n";
  return out;
}

std::string pageEndCommand(int copies) {
  return "PRINT 1," + std::to_string(std::max(copies, 1)) + "\r\n";
}

int densityFromDarkness(int configured, int jobDarkness) {
  const int level = std::clamp(std::clamp(configured, 0, 100) + jobDarkness, 0, 100);
  return (level * 15 + 50) / 100;
}

int speedFromIpp(int hundredthsMmPerSecond, int fallback) {
  if (hundredthsMmPerSecond <= 0) return fallback;
  const int inches = (hundredthsMmPerSecond + 1270) / 2540;
  return std::clamp(inches, 1, 12);
}

BandWriter::BandWriter(unsigned width, unsigned height, unsigned bandRows, Sink sink)
    : width_(width),
      height_(height),
      bandRows_(std::max(bandRows, 1u)),
      rowBytes_((width + 7) / 8),
      sink_(std::move(sink)),
      band_(static_cast<size_t>(rowBytes_) * bandRows_, 0xff) {}

bool BandWriter::addLine(unsigned y, const uint8_t* line) {
  if (y >= height_ || y < nextY_) return true;  // outside the page, or already written
  // Rows the raster skipped are white.
  if (nextY_ < y) {
    const std::vector<uint8_t> white(rowBytes_, 0);
    while (nextY_ < y)
      if (!addLine(nextY_, white.data())) return false;
  }
  if (rowsInBand_ == 0) {
    bandTop_ = y;
    bandHasInk_ = false;
  }
  uint8_t* row = band_.data() + static_cast<size_t>(rowsInBand_) * rowBytes_;
  // The printer's bitmap has 0 for black.
  for (unsigned i = 0; i < rowBytes_; ++i) row[i] = static_cast<uint8_t>(~line[i]);
  // Bits past the page's width are white.
  if (width_ % 8) row[rowBytes_ - 1] |= static_cast<uint8_t>(0xffu >> (width_ % 8));
  for (unsigned i = 0; i < rowBytes_ && !bandHasInk_; ++i)
    if (row[i] != 0xff) bandHasInk_ = true;
  ++rowsInBand_;
  nextY_ = y + 1;
  if (rowsInBand_ == bandRows_) return flush();
  return true;
}

bool BandWriter::flush() {
  const unsigned rows = rowsInBand_;
  rowsInBand_ = 0;
  if (rows == 0 || !bandHasInk_) return true;
  char header[96];
  const int n = std::snprintf(header, sizeof header, "BITMAP 0,%u,%u,%u,0,", bandTop_, rowBytes_,
                              rows);
  const size_t payload = static_cast<size_t>(rows) * rowBytes_;
  command_.assign(header, static_cast<size_t>(n));
  command_.append(reinterpret_cast<const char*>(band_.data()), payload);
  command_ += "\r\n";
  std::fill(band_.begin(), band_.end(), 0xff);
  if (!sink_(command_.data(), command_.size())) return false;
  sent_ += command_.size();
  return true;
}

bool BandWriter::finish() { return flush(); }

}  // namespace paloma::printapp
