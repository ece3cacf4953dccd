// PNG documents, decoded here with bounds (a truncated or damaged file is a
// job error, never a loop) and handed to the framework's image printing.
#ifndef PALOMA_PRINTAPP_PNG_FILTER_H
#define PALOMA_PRINTAPP_PNG_FILTER_H

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace paloma::printapp {

bool pngFilter(pappl_job_t* job, pappl_device_t* device, void* data);

struct GrayPicture {
  unsigned width = 0;
  unsigned height = 0;
  int ppi = 0;                  // from the file's pHYs, 0 when it has none
  std::vector<uint8_t> pixels;  // 8-bit gray, 255 white, transparency on white
};

// Decodes PNG bytes; false with `error` saying why (damaged, truncated,
// larger than maxWidth x maxHeight or maxBytes of pixels).
bool decodePng(const uint8_t* data, size_t size, unsigned maxWidth, unsigned maxHeight,
               size_t maxBytes, GrayPicture* out, std::string* error);

}  // namespace paloma::printapp

#endif
