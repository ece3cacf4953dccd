// Files: streaming a local file to the printer, raw or framed as a DOWNLOAD
// command.
//
// A download is three pieces sent back to back: the header (without line
// end), exactly as many payload bytes as the header announces, and the line
// end ("\r\n", or CR LF NUL on the network). The single connection and the
// printer slots share the file source and the header; each sends the pieces
// through its own writes. A large file never sits in memory whole: the
// kernel moves it to a socket or device, or it goes a block at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/write_path.h"
#include "platform/os.h"

namespace paloma {

// The most bytes of a file held in memory at once: a file up to this size is
// read whole before anything is sent; a larger one is sent in pieces.
inline constexpr std::size_t kFileBlockBytes = 1u << 20;

// Where a file's bytes may be moved by the kernel (Os::copyFile): a file or
// device handle, or a socket.
struct CopyTarget {
  Handle handle = kInvalidHandle;
  Socket socket = kInvalidSocket;
};

// A local file opened for sending, with its size and its first block (the
// whole file when it fits one) already read, so that a file that cannot be
// read sends nothing. The file is closed when the source goes, on every path.
class FileSource {
 public:
  FileSource() = default;
  ~FileSource();
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::uint32_t size() const { return size_; }

  // Hands on every one of size() bytes, in order: the first block through
  // `write`; the rest moved by the kernel to `copyTo` when given and the
  // platform can, otherwise read and passed to `write` one block at a time.
  // `write` returns true once it has written all it was given. False when a
  // write or copy failed, or when the file could not be read up to its size
  // (shortened meanwhile): that shows "File read unsuccessfully" as the
  // loader does. The bytes already written stay written.
  using Writer = std::function<bool(const unsigned char* data, std::size_t n)>;
  bool send(const Writer& write, const std::optional<CopyTarget>& copyTo);

 private:
  friend bool openFileSource(const char* path, FileSource* out);
  void close();
  bool readBlock(std::size_t n);
  void noteEnded(std::size_t after) const;  // the reason for a file shorter than its size
  Handle file_ = kInvalidHandle;
  std::string path_;  // for the reasons of failures
  std::uint32_t size_ = 0;
  std::unique_ptr<unsigned char[]> block_;
  std::size_t held_ = 0;  // bytes of the file now in block_
  std::size_t read_ = 0;  // bytes read from the file so far
};

// The messages of the loader, word for word.
inline constexpr const char* kErrorCaption = "Error Message";
inline constexpr const char* kReadFileCaption = "Read File Message";
inline constexpr const char* kFileReadUnsuccessfully = "File read unsuccessfully";
inline constexpr const char* kFileTooLarge = "File too large: 2 GiB or more cannot be sent";

// Opens `path` for reading (reads shared, existing files only), finds its
// size and reads its first min(size, kFileBlockBytes) bytes into `out`,
// continuing short reads until they have arrived.
//
// On failure it closes the file, shows the matching message with the
// warning icon and returns false:
//   - the file does not open (a directory does not): "Could not open file"
//     ("Error Message");
//   - the size is 2 GiB or more: kFileTooLarge ("Error Message");
//   - no memory for the block: "Out of memory" ("Error Message");
//   - the size cannot be found, a read fails, or the file ends before the
//     bytes to read: "File read unsuccessfully" ("Read File Message").
// `path` must not be null.
bool openFileSource(const char* path, FileSource* out);

// Where a target's payload may be moved by the kernel: every transport but
// the spooler, whose client library takes the bytes itself.
inline std::optional<CopyTarget> copyTargetOf(const WriteTarget& t) {
  if (t.kind == TransportKind::Spooler) return std::nullopt;
  CopyTarget c;
  if (t.kind == TransportKind::Network)
    c.socket = t.socket;
  else
    c.handle = t.handle;
  return c;
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
