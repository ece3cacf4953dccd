#include "picture_filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/image.h"

namespace paloma::printapp {

namespace {

bool readFile(const char* path, size_t maxBytes, std::vector<uint8_t>* out, std::string* error) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::string("cannot open the document: ") + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes) {
    *error = "the document is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    close(fd);
    return false;
  }
  out->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = read(fd, out->data() + done, out->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  out->resize(done);
  return true;
}

}  // namespace

bool decodeToGray(const uint8_t* data, size_t size, unsigned maxWidth, unsigned maxHeight,
                  size_t maxBytes, GrayPicture* out, std::string* error) {
  image::DecodedPicture picture;
  const image::Outcome o = image::decodePicture(data, size, &picture);
  if (!o.ok()) {
    *error = o.reason;
    return false;
  }
  const size_t pixels = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  if (static_cast<unsigned>(picture.width) > maxWidth ||
      static_cast<unsigned>(picture.height) > maxHeight || pixels > maxBytes) {
    *error = "the picture (" + std::to_string(picture.width) + " x " +
             std::to_string(picture.height) + ") is too large";
    return false;
  }
  const int channels = image::channelsOf(picture.format);
  const bool alpha = channels == 2 || channels == 4;
  const uint8_t* in = picture.pixels.get();
  out->width = static_cast<unsigned>(picture.width);
  out->height = static_cast<unsigned>(picture.height);
  out->pixels.resize(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = in + i * static_cast<size_t>(channels);
    // Luma, then laid on white by its alpha.
    const unsigned gray =
        channels >= 3 ? (p[0] * 299u + p[1] * 587u + p[2] * 114u + 500u) / 1000u : p[0];
    const unsigned a = alpha ? p[channels - 1] : 255u;
    out->pixels[i] = static_cast<uint8_t>((gray * a + 255u * (255u - a) + 127u) / 255u);
  }
  return true;
}

bool pictureFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  int maxWidth = 0, maxHeight = 0;
  size_t maxBytes = papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)),
                                               &maxWidth, &maxHeight);
  if (maxBytes == 0) maxBytes = 384u << 20;
  if (maxWidth <= 0) maxWidth = 16384;
  if (maxHeight <= 0) maxHeight = 16384;
  std::vector<uint8_t> file;
  std::string error;
  GrayPicture picture;
  if (!readFile(papplJobGetFilename(job), image::kMaxEncodedBytes, &file, &error) ||
      !decodeToGray(file.data(), file.size(), static_cast<unsigned>(maxWidth),
                    static_cast<unsigned>(maxHeight), maxBytes, &picture, &error)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The picture cannot be printed: %s.", error.c_str());
    papplJobSetMessage(job, "The picture cannot be printed.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  file.clear();
  file.shrink_to_fit();
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
  if (!options) return false;
  const bool ok = papplJobFilterImage(job, device, options, picture.pixels.data(),
                                      static_cast<int>(picture.width),
                                      static_cast<int>(picture.height), 1, 0, false);
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace paloma::printapp
