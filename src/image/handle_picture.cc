// The picture functions on a printer handle: the command is made first, with
// no lock held, then written through the handle's own write (its lock, its
// bounds), so other handles and the legacy functions are never held up.
#include <new>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/options.h"
#include "paloma.h"
#include "platform/last_error.h"

using namespace paloma;

namespace {

// The result code of a refused picture, with the reason recorded.
paloma_result refusedWith(const image::Outcome& r) {
  setLastError(r.reason, r.osError);
  switch (r.status) {
    case image::Status::Unreadable:
    case image::Status::NoMemory:
      return PALOMA_ERROR_OS;
    default:
      return PALOMA_ERROR_ARGUMENT;
  }
}

template <typename Make>
paloma_result makeAndWrite(paloma_printer* p, Make make) {
  if (!p) {
    setLastError("the printer handle is NULL: open one with paloma_open");
    return PALOMA_ERROR_NOT_CONNECTED;
  }
  try {
    std::string wire;
    const image::Outcome r = make(&wire);
    if (!r.ok()) return refusedWith(r);
    return paloma_write(p, wire.data(), wire.size());
  } catch (const std::bad_alloc&) {
    setLastError("out of memory for the picture");
    return PALOMA_ERROR_OS;
  }
}

}  // namespace

extern "C" {

paloma_result paloma_image_file(paloma_printer* p, int x, int y, const char* path, int width,
                                int height, const paloma_image_options* options) {
  return makeAndWrite(p, [&](std::string* wire) {
    if (!path) return image::Outcome{image::Status::Argument, "the file name is a null pointer"};
    const image::Options o = image::optionsOf(options);
    image::Outcome r = image::checkOptions(o);
    if (!r.ok()) return r;
    std::vector<std::uint8_t> bytes;
    r = image::readPictureFile(path, &bytes);
    if (!r.ok()) return r;
    return image::encodedPictureCommand(bytes.data(), bytes.size(), x, y, width, height, o, wire);
  });
}

paloma_result paloma_image_memory(paloma_printer* p, int x, int y, const void* data, size_t size,
                                  int width, int height, const paloma_image_options* options) {
  return makeAndWrite(p, [&](std::string* wire) {
    if (!data && size)
      return image::Outcome{image::Status::Argument, "the picture data is a null pointer"};
    return image::encodedPictureCommand(static_cast<const std::uint8_t*>(data), size, x, y, width,
                                        height, image::optionsOf(options), wire);
  });
}

paloma_result paloma_image_pixels(paloma_printer* p, int x, int y, const void* pixels,
                                  int pixel_width, int pixel_height, size_t stride, int format,
                                  int width, int height, const paloma_image_options* options) {
  return makeAndWrite(p, [&](std::string* wire) {
    image::PixelView v;
    image::Outcome r = image::pixelViewOf(pixels, pixel_width, pixel_height, stride, format, &v);
    if (!r.ok()) return r;
    return image::pictureCommand(v, x, y, width, height, image::optionsOf(options), wire);
  });
}

}  // extern "C"
