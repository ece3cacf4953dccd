// The status query: ESC "!?" on each transport, the status byte it brings
// back, and the table that maps that byte to a text.
#include "query/status.h"

#include <cstring>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "query/readers.h"
#include "query/reply_state.h"
#include "platform/api_lock.h"

namespace paloma {

const char* statusText(unsigned char byte, StatusFamily family) {
  static constexpr struct {
    unsigned char byte;
    const char* text;
  } kTable[] = {
      {0x00, "00"}, {0x01, "01"}, {0x02, "02"}, {0x03, "03"}, {0x04, "04"},
      {0x05, "05"}, {0x08, "08"}, {0x09, "09"}, {0x0A, "0A"}, {0x0B, "0B"},
      {0x0C, "0C"}, {0x0D, "0D"}, {0x10, "10"}, {0x20, "20"}, {0x80, "80"},
  };
  for (const auto& row : kTable)
    if (row.byte == byte) return row.text;
  return family == StatusFamily::SerialPort ? "-2" : "other error";
}

namespace {

ReplyState& rs() { return replies(); }
ConnectionState& conn() { return connection(); }

// The serial status read: the request, then the read with StatusByteMode
// armed. ReplyBuffer[0] holds `unanswered` until the read stores a byte
// there, and keeps it when the read fails.
unsigned char serialStatusByte(unsigned char unanswered) {
  clearReply();
  ComportSendData(kStatusRequest);
  rs().StatusByteMode = 1;
  rs().ReplyBuffer[0] = unanswered;
  ReadSerialStatus(conn().handle);
  rs().StatusByteMode = 0;
  return rs().ReplyBuffer[0];
}

}  // namespace

bool sendRequestBlock(Socket s, std::string_view request) {
  char block[kNetworkRequestBlock] = {};
  if (request.size() > sizeof block) return false;
  std::memcpy(block, request.data(), request.size());
  return writeAll(WriteTarget{TransportKind::Network, kInvalidHandle, s}, block, sizeof block);
}

const char* networkStatusOn(Socket s) {
  clearReply();
  sendRequestBlock(s, kStatusRequest);
  rs().StatusByteMode = 1;
  ReadNetworkStatus(s);
  if (rs().NetworkError) return "-1";
  rs().StatusByteMode = 0;
  return statusText(rs().NetworkReceiveBuffer[0], StatusFamily::NetworkOrUsb);
}

const char* usbStatusOn(Handle device) {
  usbOverlappedWrite(device, kStatusRequest, static_cast<int>(sizeof kStatusRequest - 1));
  rs().StatusByteMode = 1;
  usbReadWhile(&usbReadStatus, device);
  rs().StatusByteMode = 0;
  return statusText(rs().ReplyBuffer[0], StatusFamily::NetworkOrUsb);
}

}  // namespace paloma

using namespace paloma;

extern "C" {

const char* comportprinterstatus(void) {
  paloma::ApiLock lock;
  return statusText(serialStatusByte(0xFF), StatusFamily::SerialPort);
}

// The integer queries read a failed read as 0.
int comportqueryprinter(void) {
  paloma::ApiLock lock;
  return static_cast<signed char>(serialStatusByte(0));
}

int comportqueryprinter_port(const char* port) {
  paloma::ApiLock lock;
  if (!port) return 0;
  openport(port);
  os().sleepMs(50);
  serialStatusByte(0);
  closeport();
  return static_cast<signed char>(rs().ReplyBuffer[0]);
}

const char* ethernetprinterstatus(void) {
  paloma::ApiLock lock;
  return networkStatusOn(conn().socket);
}

const char* usbprinterstatus(void) {
  paloma::ApiLock lock;
  UsbDeviceRecord record;
  findUsbDevice(record);
  if (!record.found) return "-1";
  Handle h = os().openFile(record.devicePath, kUsbQueryOpenMode);
  const char* result = usbStatusOn(h);
  if (h != kInvalidHandle) os().closeHandle(h);
  return result;
}

int usbportqueryprinter(void) {
  paloma::ApiLock lock;
  UsbDeviceRecord record;
  findUsbDevice(record);
  if (!record.found) return -1;
  Handle h = os().openFile(record.devicePath, kUsbDeviceOpenMode);
  conn().usbOneShotHandle = h;
  unsigned char answer[100] = {};
  // A device that did not open is neither written nor read, but the pause
  // before the read is kept.
  if (h != kInvalidHandle) os().writeFile(h, "\x1b!?", 3);
  os().sleepMs(300);
  if (h != kInvalidHandle) {
    os().readFile(h, answer, sizeof answer, ReadWait::Blocking, kUsbReadTimeoutMs);
    os().closeHandle(h);
  }
  conn().usbOneShotHandle = kInvalidHandle;
  return static_cast<signed char>(answer[0]);
}

const char* printerstatus(void) {
  paloma::ApiLock lock;
  ConnectionState& c = conn();
  if (c.isOpen == 0) return "-1";
  if (c.spoolerMode == 1 || c.lptMode == 1 || c.usbMode == 1) return "";
  if (c.serialMode == 1) return comportprinterstatus();
  if (c.networkMode == 1) return ethernetprinterstatus();
  return "-1";  // marked open, but no transport left to ask
}

}  // extern "C"
