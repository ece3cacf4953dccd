// Files and images: reading a local file whole and framing it as a DOWNLOAD
// command for the printer.
//
// A download is three pieces sent back to back: the header (without line
// end), exactly as many payload bytes as the header announces, and the line
// end ("\r\n", or CR LF NUL on the network). The single connection and the
// printer slots share the file loading and the header; each sends the pieces
// through its own writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "connection/write_path.h"
#include "platform/os.h"

namespace paloma {

// One memory block holding a whole local file, owned by the call that loaded
// it and released when it goes out of scope: a read-only view of the file
// where the platform maps files, else a copy read into memory.
class FileBlock {
 public:
  FileBlock() = default;
  ~FileBlock();
  FileBlock(const FileBlock&) = delete;
  FileBlock& operator=(const FileBlock&) = delete;

  const unsigned char* data() const { return view_.data ? view_.data : bytes_.get(); }
  std::uint32_t size() const { return size_; }

 private:
  friend bool loadWholeFile(const char* path, FileBlock* out, bool mayMap);
  void release();
  std::unique_ptr<unsigned char[]> bytes_;
  FileView view_;
  std::uint32_t size_ = 0;
};

// The largest file the download command can announce: its size must stay
// below 2 GiB.
inline constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFFu;

// The messages of the loader, word for word.
inline constexpr const char* kErrorCaption = "Error Message";
inline constexpr const char* kReadFileCaption = "Read File Message";
inline constexpr const char* kCouldNotOpenFile = "Could not open file";
inline constexpr const char* kOutOfMemory = "Out of memory";
inline constexpr const char* kFileReadUnsuccessfully = "File read unsuccessfully";
inline constexpr const char* kFileTooLarge = "File too large: 2 GiB or more cannot be sent";

// Opens `path` for reading (reads shared, existing files only), finds its
// size, allocates one block for it and reads the whole file into `out`,
// continuing short reads until every byte has arrived. The file is closed
// before returning on every path.
//
// On failure it shows the matching message with the warning icon and returns
// false:
//   - the file does not open (a directory does not): "Could not open file"
//     ("Error Message");
//   - the size is 2 GiB or more: kFileTooLarge ("Error Message");
//   - no memory for the block: "Out of memory" ("Error Message");
//   - the size cannot be found, a read fails, or the file ends before the
//     size found: "File read unsuccessfully" ("Read File Message").
// `path` must not be null.
//
// With `mayMap`, the block may be a read-only view of the file instead of a
// copy. Only transports whose writes go straight to the kernel may take a
// view (a file shortened by another process then fails the write instead of
// faulting in a library's own copy); the spooler's client library copies
// small writes itself, so spooler targets read.
bool loadWholeFile(const char* path, FileBlock* out, bool mayMap = false);

// Whether a target's writes may come from a mapped view.
inline bool targetTakesMappedFiles(const std::optional<WriteTarget>& t) {
  return t && t->kind != TransportKind::Spooler;
}

// The header of a DOWNLOAD command, at most this many characters.
inline constexpr std::size_t kMaxDownloadHeader = 99;

// Formats the DOWNLOAD header for a file of `size` bytes stored under `name`:
// "DOWNLOAD \"<name>\",<size>," when `memory` is null, and
// "DOWNLOAD <memory>,\"<name>\",<size>," otherwise (the operand verbatim).
// Returns false, leaving `out` empty, when the header would be longer than
// kMaxDownloadHeader characters or `name` is null.
bool formatDownloadHeader(const char* memory, const char* name, std::uint32_t size,
                          std::string* out);

}  // namespace paloma
