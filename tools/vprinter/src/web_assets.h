// The files of the live page (web/), compiled into the program.
#ifndef PALOMA_VPRINTER_WEB_ASSETS_H
#define PALOMA_VPRINTER_WEB_ASSETS_H

#include <cstddef>

namespace vprinter {

struct WebAsset {
  const char* path;          // "/index.html"
  const char* contentType;
  const unsigned char* data;
  size_t size;
};

extern const WebAsset kWebAssets[];
extern const size_t kWebAssetCount;

}  // namespace vprinter

#endif
