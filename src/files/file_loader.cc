#include <new>
#include <string>

#include "files/files.h"
#include "platform/last_error.h"
#include "platform/os.h"

namespace paloma {

namespace {

// Local files do not stall, but the seam bounds every blocking read; this is
// the bound for one read call.
constexpr int kFileReadTimeoutMs = 30000;

void warn(const char* text, const char* caption) {
  os().message(text, caption, MessageIcon::Warning);
}

// Closes the file when the loader leaves, on every path.
class OpenedFile {
 public:
  explicit OpenedFile(Handle h) : h_(h) {}
  ~OpenedFile() {
    if (h_ != kInvalidHandle) os().closeHandle(h_);
  }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  Handle get() const { return h_; }

 private:
  Handle h_;
};

}  // namespace

FileBlock::~FileBlock() { release(); }

void FileBlock::release() {
  if (view_.data) os().unmapFile(view_);
  view_ = FileView{};
  bytes_.reset();
  size_ = 0;
}

bool loadWholeFile(const char* path, FileBlock* out, bool mayMap) {
  out->release();

  OpenMode mode;
  mode.access = kAccessRead;
  mode.share = kShareRead;
  mode.disposition = Disposition::OpenExisting;
  mode.overlapped = false;
  OpenedFile file(os().openFile(path, mode));
  if (file.get() == kInvalidHandle) {
    setLastOsError("open \"" + std::string(path) + "\"", os().lastOsError());
    warn(kCouldNotOpenFile, kErrorCaption);
    return false;
  }

  std::int64_t found = os().fileSize(file.get());
  if (found < 0) {
    setLastOsError("find the size of \"" + std::string(path) + "\"", os().lastOsError());
    warn(kFileReadUnsuccessfully, kReadFileCaption);
    return false;
  }
  if (static_cast<std::uint64_t>(found) > kMaxFileSize) {
    setLastError("\"" + std::string(path) + "\" holds " + std::to_string(found) +
                 " bytes; files of 2 GiB or more cannot be sent");
    warn(kFileTooLarge, kErrorCaption);
    return false;
  }
  const auto size = static_cast<std::uint32_t>(found);

  // A mapped view holds the whole file without copying it.
  if (mayMap && size > 0 && os().mapFile(file.get(), size, &out->view_)) {
    out->size_ = size;
    return true;
  }

  // One block for the whole file; at least one byte so that an empty file
  // still has a block to point at.
  std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
  if (!bytes) {
    setLastError("no memory for the " + std::to_string(size) + " bytes of \"" + std::string(path) +
                 "\"");
    warn(kOutOfMemory, kErrorCaption);
    return false;
  }

  // The seam may deliver a file in several pieces; the header will announce
  // `size`, so every one of those bytes must arrive.
  std::size_t done = 0;
  while (done < size) {
    IoResult r = os().readFile(file.get(), bytes.get() + done, size - done, ReadWait::Blocking,
                               kFileReadTimeoutMs);
    if (!r.ok || r.timedOut || r.count == 0 || r.count > size - done) {
      if (!r.ok)
        setLastOsError("read \"" + std::string(path) + "\"", r.error);
      else
        setLastError("read \"" + std::string(path) + "\": the file ended after " +
                     std::to_string(done + (r.count > size - done ? 0 : r.count)) + " of " +
                     std::to_string(size) + " bytes");
      warn(kFileReadUnsuccessfully, kReadFileCaption);
      return false;
    }
    done += r.count;
  }

  out->bytes_ = std::move(bytes);
  out->size_ = size;
  return true;
}

bool formatDownloadHeader(const char* memory, const char* name, std::uint32_t size,
                          std::string* out) {
  out->clear();
  if (!name) {
    setLastError("the name argument is a null pointer");
    return false;
  }
  std::string header = "DOWNLOAD ";
  if (memory) header.append(memory).append(",");
  header.append("\"").append(name).append("\",");
  header.append(std::to_string(size)).append(",");
  if (header.size() > kMaxDownloadHeader) {
    setLastError("the DOWNLOAD header would be " + std::to_string(header.size()) +
                 " characters; at most " + std::to_string(kMaxDownloadHeader) +
                 " fit (shorten the name)");
    return false;
  }
  *out = std::move(header);
  return true;
}

}  // namespace paloma
