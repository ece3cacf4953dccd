// Label images to PNG files.
//
// The printer burns a dot where the ink is 128 or more, so a label is always
// black and white: it is written as a one-bit grayscale PNG (0 black, 1
// white), rows unfiltered, at a fast compression level. Pixels are the same
// as from any other writer of that image; the file is smaller and far quicker
// to make than an 8-bit one.
#ifndef PALOMA_VPRINTER_PNG_WRITER_H
#define PALOMA_VPRINTER_PNG_WRITER_H

#include <cstdint>
#include <string>

namespace vprinter {

// Writes the w x h dots of `ink` (one byte per dot, 0 white .. 255 black,
// rows `stride` bytes apart) to `path` as a one-bit PNG. The file is written
// under `path` + ".tmp" and renamed into place, so a reader never sees half a
// file and a failure leaves no file behind. False with `error` set when the
// image cannot be written (w or h below 1, a file that cannot be made or
// written, no memory).
bool writeInkPng(const std::string& path, const uint8_t* ink, int stride, int w, int h,
                 std::string& error);

}  // namespace vprinter

#endif
