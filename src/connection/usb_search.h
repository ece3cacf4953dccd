// Finding the printer's USB device interface by the maker's vendor ID.
#pragma once

#include <cstddef>

#include "platform/os.h"

namespace paloma {

struct UsbDeviceRecord {
  static constexpr std::size_t kPathSize = 128;
  static constexpr int kSlots = 5;
  char devicePath[kPathSize] = {};
  char slotPaths[kSlots][kPathSize] = {};
  bool found = false;
};

// How the found printer is opened: read and write, not shared, existing
// device, synchronous writes (the connection, the one-shot writer, a slot).
inline constexpr OpenMode kUsbDeviceOpenMode{kAccessRead | kAccessWrite, kShareNone,
                                             Disposition::OpenExisting, false};
// How the USB queries open it for their overlapped request and reads.
inline constexpr OpenMode kUsbQueryOpenMode{kAccessRead | kAccessWrite, kShareNone,
                                            Disposition::CreateAlways, true};

// "vid_" and the maker's vendor ID in four lowercase hex digits.
const char* usbVendorFilter();

// Whether a device-interface path carries the vendor filter at characters
// 8 to 15 (case-sensitive), and fits a record's path field.
bool usbPathMatches(const char* path);

// Enumerates the present USB device interfaces; the last matching one is
// kept in devicePath. With `fillSlots`, the matching paths are also copied in
// enumeration order into slotPaths (the first into slot 1's entry, up to
// five; the entries start empty). Returns 0 if no device list was obtained,
// else 1.
int findUsbDevice(UsbDeviceRecord& record, bool fillSlots = false);

}  // namespace paloma
