#include "paloma_scheme.h"

#include <paloma.h>

#include <cstring>

#include "device_link.h"
#include "status_reasons.h"

namespace paloma::printapp {

namespace {

paloma_printer* handleOf(pappl_device_t* device) {
  return static_cast<paloma_printer*>(papplDeviceGetData(device));
}

bool palomaOpen(pappl_device_t* device, const char* deviceUri, const char*) {
  const std::string uri = palomaUriOf(deviceUri);
  paloma_printer* printer = nullptr;
  const paloma_result r = paloma_open(uri.c_str(), &printer);
  if (r != PALOMA_OK) {
    const char* detail = paloma_last_error();
    papplDeviceError(device, "Unable to open \"%s\": %s%s%s", uri.c_str(), paloma_result_text(r),
                     detail && *detail ? ": " : "", detail ? detail : "");
    return false;
  }
  papplDeviceSetData(device, printer);
  return true;
}

void palomaClose(pappl_device_t* device) {
  paloma_close(handleOf(device));
  papplDeviceSetData(device, nullptr);
}

ssize_t palomaRead(pappl_device_t*, void*, size_t) {
  // Replies are read by the queries of the handle, never raw.
  return -1;
}

ssize_t palomaWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
  const paloma_result r = paloma_write(handleOf(device), buffer, bytes);
  if (r != PALOMA_OK) {
    const char* detail = paloma_last_error();
    papplDeviceError(device, "Unable to send %zu bytes: %s%s%s", bytes, paloma_result_text(r),
                     detail && *detail ? ": " : "", detail ? detail : "");
    return -1;
  }
  return static_cast<ssize_t>(bytes);
}

pappl_preason_t palomaStatus(pappl_device_t* device) {
  uint8_t byte = 0;
  if (paloma_status(handleOf(device), &byte) != PALOMA_OK) return PAPPL_PREASON_OFFLINE;
  return reasonsForStatus(byte).reasons;
}

bool palomaList(pappl_device_cb_t, void*, pappl_deverror_cb_t, void*) {
  // Devices are named by the user (add -v paloma:...); none are searched.
  return false;
}

}  // namespace

bool palomaDeviceStatus(pappl_device_t* device, int timeoutMs, uint8_t* byte) {
  paloma_printer* printer = handleOf(device);
  if (!printer) return false;
  papplDeviceFlush(device);
  paloma_set_reply_timeout(printer, timeoutMs);
  return paloma_status(printer, byte) == PALOMA_OK;
}

bool palomaDeviceDpi(pappl_device_t* device, int timeoutMs, std::string* reply) {
  paloma_printer* printer = handleOf(device);
  if (!printer) return false;
  papplDeviceFlush(device);
  paloma_set_reply_timeout(printer, timeoutMs);
  char buffer[64];
  if (paloma_info(printer, "dpi", buffer, sizeof buffer) != PALOMA_OK) return false;
  *reply = buffer;
  return !reply->empty();
}

void addPalomaScheme() {
  // The framework sets up its own schemes (socket, usb, file, ...) on first
  // use, but only while none is registered: use it once before adding ours.
  papplDeviceIsSupported("socket://127.0.0.1");
  papplDeviceAddScheme("paloma", PAPPL_DEVTYPE_CUSTOM_LOCAL, palomaList, palomaOpen, palomaClose,
                       palomaRead, palomaWrite, palomaStatus, nullptr);
}

}  // namespace paloma::printapp
