#include <algorithm>
#include <new>
#include <string>

#include "files/files.h"
#include "platform/field_check.h"
#include "platform/last_error.h"
#include "platform/os.h"

namespace paloma {

namespace {

// The largest file the download command can announce: its size must stay
// below 2 GiB.
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFFu;

constexpr const char* kCouldNotOpenFile = "Could not open file";
constexpr const char* kOutOfMemory = "Out of memory";

// Local files do not stall, but the seam bounds every blocking read; this is
// the bound for one read call.
constexpr int kFileReadTimeoutMs = 30000;

void warn(const char* text, const char* caption) {
  os().message(text, caption, MessageIcon::Warning);
}

}  // namespace

FileSource::~FileSource() { close(); }

void FileSource::close() {
  if (file_ != kInvalidHandle) os().closeHandle(file_);
  file_ = kInvalidHandle;
  block_.reset();
  size_ = 0;
  held_ = 0;
  read_ = 0;
}

void FileSource::noteEnded(std::size_t after) const {
  setLastError("read \"" + path_ + "\": the file ended after " + std::to_string(after) + " of " +
               std::to_string(size_) + " bytes");
}

// Reads exactly `n` bytes (n <= the block) into the block, continuing short
// reads; false when a read fails or the file ends first.
bool FileSource::readBlock(std::size_t n) {
  held_ = 0;
  while (held_ < n) {
    IoResult r = os().readFile(file_, block_.get() + held_, n - held_, ReadWait::Blocking,
                               kFileReadTimeoutMs);
    if (!r.ok || r.timedOut || r.count == 0 || r.count > n - held_) {
      if (!r.ok)
        setLastOsError("read \"" + path_ + "\"", r.error);
      else
        noteEnded(read_);
      return false;
    }
    held_ += r.count;
    read_ += r.count;
  }
  return true;
}

bool openFileSource(const char* path, FileSource* out) {
  out->close();

  OpenMode mode;
  mode.access = kAccessRead;
  mode.share = kShareRead;
  mode.disposition = Disposition::OpenExisting;
  mode.overlapped = false;
  out->file_ = os().openFile(path, mode);
  if (out->file_ == kInvalidHandle) {
    setLastOsError("open \"" + std::string(path) + "\"", os().lastOsError());
    warn(kCouldNotOpenFile, kErrorCaption);
    return false;
  }

  out->path_ = path;
  std::int64_t found = os().fileSize(out->file_);
  if (found < 0) {
    setLastOsError("find the size of \"" + std::string(path) + "\"", os().lastOsError());
    out->close();
    warn(kFileReadUnsuccessfully, kReadFileCaption);
    return false;
  }
  if (static_cast<std::uint64_t>(found) > kMaxFileSize) {
    setLastError("\"" + std::string(path) + "\" holds " + std::to_string(found) +
                 " bytes; files of 2 GiB or more cannot be sent");
    out->close();
    warn(kFileTooLarge, kErrorCaption);
    return false;
  }
  const auto size = static_cast<std::uint32_t>(found);
  out->size_ = size;

  // One block: the whole file when it fits; at least one byte so that an
  // empty file still has a block to point at.
  const std::size_t first = std::min<std::size_t>(size, kFileBlockBytes);
  out->block_.reset(new (std::nothrow) unsigned char[first == 0 ? 1 : first]);
  if (!out->block_) {
    setLastError("no memory for " + std::to_string(first) + " bytes of \"" + std::string(path) +
                 "\"");
    out->close();
    warn(kOutOfMemory, kErrorCaption);
    return false;
  }
  // The header will announce `size`, so the bytes read now must all arrive.
  if (!out->readBlock(first)) {
    out->close();
    warn(kFileReadUnsuccessfully, kReadFileCaption);
    return false;
  }
  // A file whose size reads as 0 may still have content (the system's own
  // files, such as those under /proc): sent as empty, it would lose it all.
  if (size == 0) {
    IoResult probe = os().readFile(out->file_, out->block_.get(), 1, ReadWait::Blocking,
                                   kFileReadTimeoutMs);
    if (probe.ok && !probe.timedOut && probe.count > 0) {
      setLastError("\"" + std::string(path) +
                   "\" gives its size as 0 bytes but has content (a file the system makes "
                   "as it is read): it cannot be sent; copy it to a regular file first");
      out->close();
      warn(kFileReadUnsuccessfully, kReadFileCaption);
      return false;
    }
  }
  return true;
}

bool FileSource::send(const Writer& write, const std::optional<CopyTarget>& copyTo) {
  if (held_ > 0 && !write(block_.get(), held_)) return false;
  std::size_t done = held_;  // bytes handed on so far
  // The rest of a large file: moved by the kernel where the target takes it.
  if (done < size_ && copyTo) {
    FileCopyResult r = os().copyFile(file_, done, size_ - done, copyTo->handle, copyTo->socket);
    done += std::min(r.count, size_ - done);
    if (r.status == FileCopyResult::FileEnded) {
      noteEnded(done);
      warn(kFileReadUnsuccessfully, kReadFileCaption);
      return false;
    }
    if (r.status == FileCopyResult::Failed) {
      if (r.timedOut)
        setLastError("send \"" + path_ + "\": the printer took no bytes in time", r.error);
      else
        setLastOsError("send \"" + path_ + "\" to the printer", r.error);
      return false;
    }
  }
  // Otherwise read and written a block at a time. Reading goes on from the
  // file's position, so it can only continue where nothing was copied.
  while (done < size_) {
    if (read_ != done) return false;
    const std::size_t n = std::min<std::size_t>(size_ - done, kFileBlockBytes);
    if (!readBlock(n)) {
      warn(kFileReadUnsuccessfully, kReadFileCaption);
      return false;
    }
    if (!write(block_.get(), n)) return false;
    done += n;
  }
  return true;
}

bool formatDownloadHeader(const char* memory, const char* name, std::uint32_t size,
                          std::string* out) {
  out->clear();
  if (!name) {
    setLastError("the name argument is a null pointer");
    return false;
  }
  if ((memory && !fieldTextSafe("DOWNLOAD", "memory", memory)) ||
      !fieldTextSafe("DOWNLOAD", "name", name))
    return false;
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
