// The exported picture functions of the single connection and the slots. The
// picture is converted before the library lock is taken (the conversion
// touches no shared state), so other threads' calls are not held up by a
// decode; the command then goes out in one write under the lock.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "connection/write_path.h"
#include "image/image.h"
#include "image/options.h"
#include "paloma.h"
#include "platform/api_lock.h"
#include "platform/last_error.h"
#include "slots/slot_table.h"

using namespace paloma;
using paloma::image::optionsOf;

// The header (at most 63 characters), the rows and CR LF.
static_assert(PALOMA_IMAGE_COMMAND_MAX >=
                  63 + (image::kMaxDotsWide + 7) / 8 * image::kMaxDotsHigh + 2,
              "PALOMA_IMAGE_COMMAND_MAX must hold the largest picture's command");

namespace {

// The picture's command, or false with the last error set.
bool refused(const image::Outcome& r) {
  if (r.ok()) return false;
  setLastError(r.reason, r.osError);
  return true;
}

bool fileCommand(int x, int y, const char* path, int width, int height,
                 const paloma_image_options* options, std::string* wire) {
  if (!path) {
    noteNull("the file name");
    return false;
  }
  const image::Options o = optionsOf(options);
  if (refused(image::checkOptions(o))) return false;
  std::vector<std::uint8_t> bytes;
  if (refused(image::readPictureFile(path, &bytes))) return false;
  return !refused(
      image::encodedPictureCommand(bytes.data(), bytes.size(), x, y, width, height, o, wire));
}

bool memoryCommand(int x, int y, const void* data, std::size_t size, int width, int height,
                   const paloma_image_options* options, std::string* wire) {
  if (!data && size) {
    noteNull("the picture data");
    return false;
  }
  return !refused(image::encodedPictureCommand(static_cast<const std::uint8_t*>(data), size, x, y,
                                               width, height, optionsOf(options), wire));
}

bool pixelsCommand(int x, int y, const void* pixels, int pixelWidth, int pixelHeight,
                   std::size_t stride, int format, int width, int height,
                   const paloma_image_options* options, std::string* wire) {
  image::PixelView v;
  if (refused(image::pixelViewOf(pixels, pixelWidth, pixelHeight, stride, format, &v))) return false;
  return !refused(image::pictureCommand(v, x, y, width, height, optionsOf(options), wire));
}

int sendToConnection(const std::string& wire) {
  paloma::ApiLock lock;
  if (connection().isOpen == 0) {
    noteNoTransport();
    return 0;
  }
  const auto target = pickTarget(connection(), WriterFamily::Binary);
  if (!target) return 0;
  return writeAll(*target, wire.data(), wire.size()) ? 1 : 0;
}

int sendToSlot(int n, const std::string& wire) {
  paloma::ApiLock lock;
  const auto target = slotTarget(n, /*allowNetwork=*/true);
  if (!target) return 0;
  return writeAll(*target, wire.data(), wire.size()) ? 1 : 0;
}

// Runs `make` and sends what it made; out of memory refuses the call.
template <typename Make, typename Send>
int convertAndSend(Make make, Send send) {
  try {
    std::string wire;
    if (!make(&wire)) return 0;
    return send(wire);
  } catch (const std::bad_alloc&) {
    setLastError("out of memory for the picture");
    return 0;
  }
}

}  // namespace

extern "C" {

void paloma_image_options_init(paloma_image_options* options) {
  if (!options) return;
  options->dither = PALOMA_DITHER_DIFFUSION;
  options->threshold = 128;
  options->rotation = 0;
  options->invert = 0;
  options->mode = 1;
}

int paloma_sendimage(int x, int y, const char* path, int width, int height,
                     const paloma_image_options* options) {
  return convertAndSend(
      [&](std::string* w) { return fileCommand(x, y, path, width, height, options, w); },
      sendToConnection);
}

int paloma_sendimage_memory(int x, int y, const void* data, size_t size, int width, int height,
                            const paloma_image_options* options) {
  return convertAndSend(
      [&](std::string* w) { return memoryCommand(x, y, data, size, width, height, options, w); },
      sendToConnection);
}

int paloma_sendimage_pixels(int x, int y, const void* pixels, int pixel_width, int pixel_height,
                            size_t stride, int format, int width, int height,
                            const paloma_image_options* options) {
  return convertAndSend(
      [&](std::string* w) {
        return pixelsCommand(x, y, pixels, pixel_width, pixel_height, stride, format, width,
                             height, options, w);
      },
      sendToConnection);
}

int paloma_image_command(int x, int y, const void* data, size_t size, int width, int height,
                         const paloma_image_options* options, unsigned char* buffer,
                         size_t capacity, size_t* length) {
  if (length) *length = 0;
  return convertAndSend(
      [&](std::string* w) { return memoryCommand(x, y, data, size, width, height, options, w); },
      [&](const std::string& w) {
        if (length) *length = w.size();
        if (!buffer || capacity < w.size()) {
          setLastError("the command is " + std::to_string(w.size()) + " bytes; the buffer holds " +
                       std::to_string(buffer ? capacity : 0));
          return 0;
        }
        std::memcpy(buffer, w.data(), w.size());
        return 1;
      });
}

int paloma_sendimagemult(int n, int x, int y, const char* path, int width, int height,
                         const paloma_image_options* options) {
  return convertAndSend(
      [&](std::string* w) { return fileCommand(x, y, path, width, height, options, w); },
      [n](const std::string& w) { return sendToSlot(n, w); });
}

int paloma_sendimage_memorymult(int n, int x, int y, const void* data, size_t size, int width,
                                int height, const paloma_image_options* options) {
  return convertAndSend(
      [&](std::string* w) { return memoryCommand(x, y, data, size, width, height, options, w); },
      [n](const std::string& w) { return sendToSlot(n, w); });
}

int paloma_sendimage_pixelsmult(int n, int x, int y, const void* pixels, int pixel_width,
                                int pixel_height, size_t stride, int format, int width,
                                int height, const paloma_image_options* options) {
  return convertAndSend(
      [&](std::string* w) {
        return pixelsCommand(x, y, pixels, pixel_width, pixel_height, stride, format, width,
                             height, options, w);
      },
      [n](const std::string& w) { return sendToSlot(n, w); });
}

}  // extern "C"
