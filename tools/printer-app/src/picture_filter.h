// PNG and JPEG documents, decoded by the library's picture reader with its
// bounds (a damaged or truncated file is a job error, never a loop or half a
// label) and handed to the framework's image printing.
#ifndef PALOMA_PRINTAPP_PICTURE_FILTER_H
#define PALOMA_PRINTAPP_PICTURE_FILTER_H

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace paloma::printapp {

bool pictureFilter(pappl_job_t* job, pappl_device_t* device, void* data);

struct GrayPicture {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> pixels;  // 8-bit gray, 255 white, transparency laid on white
};

// Decodes an encoded picture (PNG, JPEG, ...); false with `error` saying why
// (damaged, cut short, larger than maxWidth x maxHeight or maxBytes of gray).
bool decodeToGray(const uint8_t* data, size_t size, unsigned maxWidth, unsigned maxHeight,
                  size_t maxBytes, GrayPicture* out, std::string* error);

}  // namespace paloma::printapp

#endif
