// The public picture arguments (paloma.h) as the conversion takes them.
#pragma once

#include <string>

#include "image/image.h"
#include "paloma.h"

namespace paloma {
namespace image {

// The caller's options; the defaults for null.
inline Options optionsOf(const paloma_image_options* o) {
  Options r;
  if (!o) return r;
  r.dither = static_cast<Dither>(o->dither);
  r.threshold = o->threshold;
  r.rotation = o->rotation;
  r.invert = o->invert != 0;
  r.mode = o->mode;
  return r;
}

// The caller's pixels; refuses an unknown format. (Sizes and stride are
// checked by the conversion.)
inline Outcome pixelViewOf(const void* pixels, int width, int height, std::size_t stride,
                           int format, PixelView* out) {
  if (format < PALOMA_PIXELS_GRAY8 || format > PALOMA_PIXELS_RGBA8)
    return Outcome{Status::Argument,
                   "the pixel format is " + std::to_string(format) +
                       "; it is PALOMA_PIXELS_GRAY8 (1), _GRAY_ALPHA8 (2), _RGB8 (3) or _RGBA8 (4)"};
  out->data = static_cast<const std::uint8_t*>(pixels);
  out->width = width;
  out->height = height;
  out->stride = stride;
  out->format = static_cast<PixelFormat>(format);
  return {};
}

}  // namespace image
}  // namespace paloma
