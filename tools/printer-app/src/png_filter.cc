#include "png_filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <spng.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace paloma::printapp {

namespace {

struct CtxFree {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

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

bool decodePng(const uint8_t* data, size_t size, unsigned maxWidth, unsigned maxHeight,
               size_t maxBytes, GrayPicture* out, std::string* error) {
  std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
  if (!ctx) {
    *error = "out of memory";
    return false;
  }
  spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  spng_set_image_limits(ctx.get(), maxWidth, maxHeight);
  spng_set_chunk_limits(ctx.get(), 64u << 20, 64u << 20);
  int rc = spng_set_png_buffer(ctx.get(), data, size);
  spng_ihdr ihdr;
  if (rc == 0) rc = spng_get_ihdr(ctx.get(), &ihdr);
  size_t rgbaSize = 0;
  if (rc == 0) rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &rgbaSize);
  if (rc != 0) {
    *error = std::string("not a PNG the printer can take: ") + spng_strerror(rc);
    return false;
  }
  if (rgbaSize > maxBytes) {
    *error = "the picture (" + std::to_string(ihdr.width) + " x " + std::to_string(ihdr.height) +
             ") is too large";
    return false;
  }
  std::vector<uint8_t> rgba(rgbaSize);
  rc = spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
  if (rc != 0) {
    *error = std::string("the PNG is damaged or cut short: ") + spng_strerror(rc);
    return false;
  }
  out->width = ihdr.width;
  out->height = ihdr.height;
  out->ppi = 0;
  spng_phys phys;
  if (spng_get_phys(ctx.get(), &phys) == 0 && phys.unit_specifier == 1 && phys.ppu_x > 0)
    out->ppi = static_cast<int>((phys.ppu_x * 254 + 5000) / 10000);
  out->pixels.resize(static_cast<size_t>(ihdr.width) * ihdr.height);
  for (size_t i = 0; i < out->pixels.size(); ++i) {
    const uint8_t* p = &rgba[i * 4];
    // Luma, then laid on white by its alpha.
    const unsigned gray = (p[0] * 299u + p[1] * 587u + p[2] * 114u + 500u) / 1000u;
    out->pixels[i] = static_cast<uint8_t>((gray * p[3] + 255u * (255u - p[3]) + 127u) / 255u);
  }
  return true;
}

bool pngFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  int maxWidth = 0, maxHeight = 0;
  size_t maxBytes = papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)),
                                               &maxWidth, &maxHeight);
  if (maxBytes == 0) maxBytes = 384u << 20;
  if (maxWidth <= 0) maxWidth = 16384;
  if (maxHeight <= 0) maxHeight = 16384;
  std::vector<uint8_t> file;
  std::string error;
  GrayPicture picture;
  if (!readFile(papplJobGetFilename(job), 256u << 20, &file, &error) ||
      !decodePng(file.data(), file.size(), static_cast<unsigned>(maxWidth),
                 static_cast<unsigned>(maxHeight), maxBytes, &picture, &error)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The PNG cannot be printed: %s.", error.c_str());
    papplJobSetMessage(job, "The PNG cannot be printed.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  file.clear();
  file.shrink_to_fit();
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
  if (!options) return false;
  const bool ok = papplJobFilterImage(job, device, options, picture.pixels.data(),
                                      static_cast<int>(picture.width),
                                      static_cast<int>(picture.height), 1, picture.ppi, false);
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace paloma::printapp
