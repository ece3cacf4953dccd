#include "connection/usb_search.h"

#include <cstring>
#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

#ifndef PALOMA_USB_VENDOR_ID
#define PALOMA_USB_VENDOR_ID "fff0"
#endif

namespace paloma {

const char* usbVendorFilter() { return "vid_" PALOMA_USB_VENDOR_ID; }

bool usbPathMatches(const char* path) {
  std::size_t len = std::strlen(path);
  // A path that does not fit the record is no match.
  if (len < 16 || len >= UsbDeviceRecord::kPathSize) return false;
  return std::memcmp(path + 8, usbVendorFilter(), 8) == 0;
}

int findUsbDevice(UsbDeviceRecord& record, bool fillSlots) {
  std::memset(record.devicePath, 0, sizeof record.devicePath);
  record.found = false;
  if (fillSlots) std::memset(record.slotPaths, 0, sizeof record.slotPaths);
  int nextSlot = 0;
  std::vector<std::string> paths;
  if (!os().usbInterfaces(&paths)) {
    setLastError("the list of USB devices cannot be read");
    return 0;
  }
  for (const std::string& path : paths) {
    if (path.empty()) continue;  // details could not be read
    if (!usbPathMatches(path.c_str())) continue;
    std::memset(record.devicePath, 0, sizeof record.devicePath);
    std::memcpy(record.devicePath, path.data(), path.size());
    record.found = true;
    if (fillSlots && nextSlot < UsbDeviceRecord::kSlots)
      std::memcpy(record.slotPaths[nextSlot++], path.data(), path.size());
  }
  if (!record.found)
    setLastError(std::string("no USB printer with vendor ID ") + PALOMA_USB_VENDOR_ID +
                 " is connected");
  return 1;
}

}  // namespace paloma

using namespace paloma;

int usbportwrite(const char* text) {
  paloma::ApiLock lock;
  static constexpr std::size_t kBufferSize = 4096;
  UsbDeviceRecord record;
  findUsbDevice(record);
  if (!record.found) return -1;
  // text, space, CR, LF and the NUL must fit the 4096-byte buffer; a longer
  // text is refused before the device is touched.
  if (!text || std::strlen(text) + 4 > kBufferSize) {
    setLastError(text ? "the text is longer than " + std::to_string(kBufferSize - 4) + " bytes"
                      : std::string("the text is a null pointer"));
    return -2;
  }
  ConnectionState& c = connection();
  c.usbOneShotHandle = openPath(record.devicePath, kUsbDeviceOpenMode);
  if (c.usbOneShotHandle == kInvalidHandle) return -2;
  std::string line(text);
  line.append(" \r\n");
  // The second line end goes out even after a failed first piece. A device
  // that refused bytes is a failed device (-2), never "written".
  const WriteTarget device{TransportKind::UsbDevice, c.usbOneShotHandle, kInvalidSocket};
  bool ok = writeWithEnd(device, line.data(), line.size(), kCrlf);
  os().closeHandle(c.usbOneShotHandle);
  c.usbOneShotHandle = kInvalidHandle;
  return ok ? 0 : -2;
}
