// Saving a text to the host file "testfile.txt" in the current directory.
#include <cstring>
#include <string>
#include <string_view>

#include "connection/text_convert.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {

namespace {

constexpr const char* kTextFileName = "testfile.txt";

// Replaces the file's content with exactly `bytes`: the file is created, or
// emptied when it exists, so no older, longer content remains behind the text.
// Failures are not reported; the caller's result does not depend on them.
void replaceTextFile(std::string_view bytes) {
  OpenMode mode;
  mode.access = kAccessWrite;
  mode.share = kShareNone;
  mode.disposition = Disposition::CreateAlways;
  mode.overlapped = false;
  mode.noFollow = true;  // a link would have its target overwritten
  Handle h = os().openFile(kTextFileName, mode);
  if (h == kInvalidHandle) {
    int err = os().lastOsError();
    if (os().isSymbolicLink(kTextFileName))
      setLastError(std::string("\"") + kTextFileName +
                       "\" is a symbolic link: the text is never written through one "
                       "(remove the link to save the text)",
                   err);
    else
      setLastOsError(std::string("open \"") + kTextFileName + "\"", err);
    return;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    IoResult r = os().writeFile(h, bytes.data() + done, bytes.size() - done);
    if (!r.ok || r.count == 0) {
      setLastOsError(std::string("write \"") + kTextFileName + "\"", r.ok ? 0 : r.error);
      break;
    }
    done += r.count;
  }
  os().closeHandle(h);
}

}  // namespace

}  // namespace paloma

extern "C" {

int savetotext(const paloma_wchar* text) {
  paloma::ApiLock lock;
  if (!text) return 0;
  const std::size_t units = paloma::wideLength(text);
  // Each UTF-16 unit as two bytes, low byte first, without a byte-order mark.
  std::string bytes;
  bytes.resize(units * 2);
  for (std::size_t i = 0; i < units; ++i) {
    const auto u = static_cast<std::uint16_t>(text[i]);
    bytes[2 * i] = static_cast<char>(u & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(u >> 8);
  }
  paloma::replaceTextFile(bytes);
  return 0;
}

int savetotext_array(const char* text) {
  paloma::ApiLock lock;
  if (!text) return 0;
  paloma::replaceTextFile(std::string_view(text, std::strlen(text)));
  return 0;
}

}  // extern "C"
