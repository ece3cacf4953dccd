// Fetching the data of an RFID read: the printer answers an empty request
// followed by the end-marker request, read with the transport's string read.
#include <cstring>

#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "query/bstr.h"
#include "platform/api_lock.h"

using namespace paloma;

namespace {

constexpr int kRfidPauseMs = 1;

const char* usbRead() { return usb_getstring("", kRfidPauseMs); }
const char* serialRead() { return comport_getstring("", kRfidPauseMs); }
const char* networkRead() { return ethernet_getstring("", kRfidPauseMs); }

}  // namespace

extern "C" {

const char* rfidGetReadData(void) {
  paloma::ApiLock lock;
  const ConnectionState& c = connection();
  if (c.usbMode == 1) return usbRead();
  if (c.serialMode == 1) return serialRead();
  if (c.networkMode == 1) return networkRead();
  setLastError("no USB, serial or network connection is open to read RFID data from");
  return "";
}

paloma_bstr rfidGetReadDatavb6(void) {
  paloma::ApiLock lock;
  const ConnectionState& c = connection();
  const char* reply = "";
  if (c.usbMode == 1) reply = usbRead();
  if (c.serialMode == 1) reply = serialRead();
  if (c.networkMode == 1) reply = networkRead();
  return bstrAlloc(reply, std::strlen(reply));
}

}  // extern "C"
