// Images downloaded into the printer (BMP, PCX), decoded to ink for PUTBMP
// and PUTPCX.
#ifndef PALOMA_VPRINTER_IMAGES_H
#define PALOMA_VPRINTER_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

namespace vprinter {

struct InkImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> ink;  // width x height, 255 black, 0 white
};

// Uncompressed BMP of 1, 4, 8, 24 or 32 bits per pixel.
bool decodeBmp(const std::string& file, InkImage& out, std::string& error);
// PCX of 1 bit (one or more planes) or 8 bits with its 256-colour palette.
bool decodePcx(const std::string& file, InkImage& out, std::string& error);

}  // namespace vprinter

#endif
