// The status query: ESC "!?" on each transport, the status byte it brings
// back, and the table that maps that byte to a text.
#include "query/status.h"

#include <cstdio>
#include <cstring>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "query/readers.h"
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

// The network sends every status and information request as one 200-byte
// block: the request, then NUL bytes.
constexpr int kNetworkRequestBlock = 200;

// statusText for a byte the printer sent: a byte outside the table is also
// recorded as the reason the call failed.
const char* answeredStatusText(unsigned char byte, StatusFamily family) {
  const char* text = statusText(byte, family);
  // The texts of a byte outside the table.
  if (std::strcmp(text, "-2") == 0 || std::strcmp(text, "other error") == 0) {
    char why[64];
    std::snprintf(why, sizeof why, "the printer answered with the unknown status byte 0x%02X",
                  static_cast<unsigned>(byte));
    setLastError(why);
  }
  return text;
}

ConnectionState& conn() { return connection(); }

// The serial status read: the request, then the read with StatusByteMode
// armed. ReplyBuffer[0] holds `unanswered` until the read stores a byte
// there, and keeps it when the read fails. The text query (the one that
// reads no answer as 0xFF) also records a byte the printer sent from outside
// the table as the reason for its "-2"; to the integer queries every byte is
// a result.
unsigned char serialStatusByte(unsigned char unanswered) {
  PrinterLink& port = conn().device;
  ReplyState& r = *port.replies;
  r.clearReply();
  ComportSendData(kStatusRequest);
  r.StatusByteMode = 1;
  r.ReplyBuffer[0] = unanswered;
  ReadSerialStatus(r, port.handle);
  // The read disarms the mode when it stores the printer's byte.
  const bool answered = r.StatusByteMode == 0;
  r.StatusByteMode = 0;
  if (answered && unanswered == 0xFF)
    answeredStatusText(r.ReplyBuffer[0], StatusFamily::SerialPort);
  return r.ReplyBuffer[0];
}

}  // namespace

void noteEarlierNetworkError() {
  setLastError("an earlier network error is still recorded: open the connection again with "
               "openethernet");
}

bool sendRequestBlock(Socket s, std::string_view request) {
  char block[kNetworkRequestBlock] = {};
  if (request.size() > sizeof block) return false;
  std::memcpy(block, request.data(), request.size());
  return writeAll(WriteTarget{TransportKind::Network, kInvalidHandle, s}, block, sizeof block);
}

const char* networkStatusOn(PrinterLink& link) {
  ReplyState& r = *link.replies;
  r.clearReply();
  sendRequestBlock(link.socket, kStatusRequest);
  r.StatusByteMode = 1;
  if (ReadNetworkStatus(r, link.socket) && r.NetworkError) noteEarlierNetworkError();
  if (r.NetworkError) return "-1";
  r.StatusByteMode = 0;
  return answeredStatusText(r.NetworkReceiveBuffer[0], StatusFamily::NetworkOrUsb);
}

const char* usbStatusOn(ReplyState& r, Handle device) {
  // A printer the request cannot reach (unplugged, a device that fails) is
  // never reported ready: "-1", the write's failure recorded.
  if (usbOverlappedWrite(r, device, kStatusRequest,
                         static_cast<int>(sizeof kStatusRequest - 1)) == 0) {
    r.ReplyBuffer[0] = 0;
    return "-1";
  }
  r.StatusByteMode = 1;
  usbReadWhile(&usbReadStatus, r, device);
  r.StatusByteMode = 0;
  return statusText(r.ReplyBuffer[0], StatusFamily::NetworkOrUsb);
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
  if (!port) {
    noteNull("the port");
    return 0;
  }
  openport(port);
  os().sleepMs(50);
  serialStatusByte(0);
  closeport();
  return static_cast<signed char>(conn().device.replies->ReplyBuffer[0]);
}

const char* ethernetprinterstatus(void) {
  paloma::ApiLock lock;
  return networkStatusOn(conn().network);
}

const char* usbprinterstatus(void) {
  paloma::ApiLock lock;
  UsbDeviceRecord record;
  findUsbDevice(record);
  if (!record.found) return "-1";
  Handle h = openPath(record.devicePath, kUsbQueryOpenMode);
  // A printer that is there but does not open has no status to give.
  if (h == kInvalidHandle) return "-1";
  const char* result = usbStatusOn(*conn().device.replies, h);
  os().closeHandle(h);
  return result;
}

int usbportqueryprinter(void) {
  paloma::ApiLock lock;
  UsbDeviceRecord record;
  findUsbDevice(record);
  if (!record.found) return -1;
  Handle h = openPath(record.devicePath, kUsbDeviceOpenMode);
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
  if (c.isOpen == 0) {
    noteNoTransport();
    return "-1";
  }
  if (c.spoolerMode == 1 || c.lptMode == 1 || c.usbMode == 1) return "";
  if (c.serialMode == 1) return comportprinterstatus();
  if (c.networkMode == 1) return ethernetprinterstatus();
  noteNoTransport();
  return "-1";  // marked open, but no transport left to ask
}

}  // extern "C"
