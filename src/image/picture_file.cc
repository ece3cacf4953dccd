#include <new>

#include "image/image.h"
#include "platform/os.h"

namespace paloma {
namespace image {

namespace {

// Local files do not stall, but the seam bounds every blocking read.
constexpr int kReadTimeoutMs = 30000;

Outcome unreadable(std::string_view path, const std::string& what, int osError) {
  Outcome r;
  r.status = Status::Unreadable;
  r.reason = std::string("\"").append(path).append("\": ").append(what);
  if (osError) r.reason += ": " + os().osErrorText(osError);
  r.osError = osError;
  return r;
}

// Closes the handle on every path.
struct OpenFile {
  Handle h = kInvalidHandle;
  ~OpenFile() {
    if (h != kInvalidHandle) os().closeHandle(h);
  }
};

}  // namespace

Outcome readPictureFile(std::string_view path, std::vector<std::uint8_t>* out) {
  if (path.empty()) return Outcome{Status::Argument, "the file name is empty"};
  OpenMode mode;
  mode.access = kAccessRead;
  mode.share = kShareRead;
  mode.disposition = Disposition::OpenExisting;
  OpenFile file;
  file.h = os().openFile(path, mode);
  if (file.h == kInvalidHandle) return unreadable(path, "cannot be opened", os().lastOsError());
  // Only a regular file has a size: a FIFO, a device or a terminal is
  // refused before anything is read from it.
  const std::int64_t size = os().fileSize(file.h);
  if (size < 0) return unreadable(path, "is no regular file (a FIFO, a device?)", 0);
  if (size == 0) return Outcome{Status::ZeroSize, std::string("\"").append(path).append("\" is empty (0 bytes)")};
  if (static_cast<std::uint64_t>(size) > kMaxEncodedBytes)
    return Outcome{Status::TooLarge, std::string("\"").append(path).append("\" is ") +
                                         std::to_string(size) + " bytes; at most " +
                                         std::to_string(kMaxEncodedBytes) + " are read"};
  try {
    out->resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return Outcome{Status::NoMemory, "out of memory for " + std::to_string(size) + " bytes"};
  }
  std::size_t got = 0;
  while (got < out->size()) {
    const IoResult r = os().readFile(file.h, out->data() + got, out->size() - got,
                                     ReadWait::Blocking, kReadTimeoutMs);
    if (!r.ok) return unreadable(path, "cannot be read", r.error);
    if (r.timedOut || r.count == 0 || r.count > out->size() - got)
      return unreadable(path, "ended after " + std::to_string(got) + " of " +
                                  std::to_string(size) + " bytes", 0);
    got += r.count;
  }
  return {};
}

}  // namespace image
}  // namespace paloma
