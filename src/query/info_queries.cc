#include "query/info_queries.h"
#include "query/status.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "platform/field_check.h"
#include "platform/last_error.h"
#include "query/bstr.h"
#include "query/info_table.h"
#include "query/readers.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

// The failure text of the queries, and the constant empty text.
const char kQueryFailed[] = "-1";
const char kEmptyText[] = "";

// The setting request block.
constexpr std::size_t kSettingBlockSize = 1024;

constexpr int kUsbSerialNumberPauseMs = 100;

// A buffer handed back as text keeps every byte of the reply: a reply that
// fills the whole buffer still ends at the zero byte the record keeps behind
// it (ReplyState's ...End bytes).
const char* resultBuffer(const ReplyState& r, InfoBuffer which) {
  return reinterpret_cast<const char*>(which == InfoBuffer::Reply ? r.ReplyBuffer
                                                                  : r.NetworkReceiveBuffer);
}

// Sends a whole fixed-size block on the socket; a short send is continued.
bool sendBlock(Socket s, const void* block, std::size_t n) {
  return writeAll(WriteTarget{TransportKind::Network, kInvalidHandle, s}, block, n);
}

// The USB query handle: read and write, no sharing, overlapped.
Handle openUsbQueryHandle(const UsbDeviceRecord& record) {
  if (!record.found || record.devicePath[0] == '\0') return kInvalidHandle;
  return openPath(record.devicePath, kUsbQueryOpenMode);
}

}  // namespace

const InfoFamilyRow* findInfoRow(InfoTransport transport, InfoQuery query) {
  for (const InfoFamilyRow& row : kInfoFamily)
    if (row.transport == transport && row.query == query) return &row;
  return nullptr;
}

namespace {

// Fills `block` (kSettingBlockSize bytes) with
// OUT GETSETTING$("a","b","c") CR LF OUT CHR$(02) CR LF, then NUL bytes to
// the end. Returns the text's length, or 0 when refused: a null argument, or
// a text that does not leave room for its NUL in the block. A refused block
// is left all NUL.
std::size_t formatSettingRequest(const char* a, const char* b, const char* c, char* block) {
  std::memset(block, 0, kSettingBlockSize);
  if (!a || !b || !c) {
    setLastError("a setting argument is a null pointer");
    return 0;
  }
  if (!fieldTextSafe("GETSETTING$", "a", a) || !fieldTextSafe("GETSETTING$", "b", b) ||
      !fieldTextSafe("GETSETTING$", "c", c))
    return 0;
  int n = std::snprintf(block, kSettingBlockSize,
                        "OUT GETSETTING$(\"%s\",\"%s\",\"%s\")\r\nOUT CHR$(02)\r\n", a, b, c);
  if (n <= 0 || static_cast<std::size_t>(n) >= kSettingBlockSize) {
    std::memset(block, 0, kSettingBlockSize);  // refused, never truncated
    setLastError("the setting request would be longer than " +
                 std::to_string(kSettingBlockSize - 1) + " bytes; nothing was sent");
    return 0;
  }
  return static_cast<std::size_t>(n);
}

// The per-transport runners. Each carries one row out on the given handle or
// socket, reads into `r` and returns the row's result text (a buffer of `r`
// or a constant text).
const char* runSerialInfoQuery(ReplyState& r, const InfoFamilyRow& row, Handle port) {
  r.clearReply();
  if (row.mode == ArmMode::Frame) r.FrameMode = 1;
  if (row.mode == ArmMode::LineBefore || row.mode == ArmMode::LineAfter) r.LineMode = 1;
  // The raw serial write of ComportSendData, on the given port. A failed
  // write leaves the reader nothing to find: the result is the empty text.
  serialWriteAll(port, row.request.data(), row.request.size(), SerialEventUse::WithEvent);
  ReadSerialReply(r, port);
  return resultBuffer(r, row.result);
}

const char* runNetworkInfoQuery(ReplyState& r, const InfoFamilyRow& row, Socket s) {
  r.clearReply();
  sendRequestBlock(s, row.request);
  if (row.mode == ArmMode::Frame) r.FrameMode = 1;
  if (row.mode == ArmMode::LineAfter || row.mode == ArmMode::LineBefore) r.LineMode = 1;
  if (ReadNetworkReply(r, s) && r.NetworkError != 0) noteEarlierNetworkError();
  if (row.failure == InfoFailure::MinusOneOnError) {
    if (r.NetworkError != 0) {
      // Reporting the error clears it; a serial-number query's LineMode
      // stays armed.
      r.NetworkError = 0;
      return kQueryFailed;
    }
    if (row.mode == ArmMode::LineAfter) r.LineMode = 0;
  }
  return resultBuffer(r, row.result);
}

// On a device handle the caller holds (kInvalidHandle: the write and the
// read fail, and the row's failure rule applies).
const char* runUsbInfoQueryOn(ReplyState& r, const InfoFamilyRow& row, Handle device) {
  if (row.mode == ArmMode::LineBefore) r.LineMode = 1;
  // The request write clears ReplyBuffer and ReplyPosition itself.
  usbOverlappedWrite(r, device, row.request.data(), static_cast<int>(row.request.size()));
  if (row.mode == ArmMode::Frame) r.FrameMode = 1;
  if (row.mode == ArmMode::LineAfter) r.LineMode = 1;
  if (row.reads == UsbReads::OnceAfterPause) {
    os().sleepMs(kUsbSerialNumberPauseMs);
    usbReadDataToBuffer(r, device);
  } else {
    usbReadWhile(&usbReadDataToBuffer, r, device);
  }
  const char* text = resultBuffer(r, InfoBuffer::Reply);
  if (row.failure == InfoFailure::MinusOneWhenEmpty && text[0] == '\0') {
    // A device that did not open has its reason recorded already.
    if (device != kInvalidHandle) setLastError("the USB printer sent no reply");
    return kQueryFailed;
  }
  if (row.mode == ArmMode::Frame) r.FrameMode = 0;
  return text;
}

// Finds the printer, opens a query handle of its own, runs, closes. With no
// printer attached there is no handle: the row's failure text comes at once.
const char* runUsbInfoQuery(ReplyState& r, const InfoFamilyRow& row) {
  UsbDeviceRecord record;
  findUsbDevice(record);
  Handle device = openUsbQueryHandle(record);
  const char* result = runUsbInfoQueryOn(r, row, device);
  if (device != kInvalidHandle) os().closeHandle(device);
  return result;
}

}  // namespace

const char* runNetworkSettingQuery(ReplyState& r, Socket s, const char* a, const char* b,
                                   const char* c) {
  char block[kSettingBlockSize];
  if (formatSettingRequest(a, b, c, block) == 0) return kQueryFailed;
  r.clearReply();
  sendBlock(s, block, sizeof block);
  if (ReadNetworkSetting(r, s) && r.NetworkError != 0) noteEarlierNetworkError();
  // An error left by any earlier network read also answers "-1"; the flag
  // stays set for the queries that report and clear it.
  if (r.NetworkError != 0) return kQueryFailed;
  return resultBuffer(r, InfoBuffer::NetworkReceive);
}

const char* runUsbSettingQuery(ReplyState& r, Handle device, const char* a, const char* b,
                               const char* c, UsbPacketReader reader) {
  char block[kSettingBlockSize];
  std::size_t n = formatSettingRequest(a, b, c, block);
  if (n == 0) return kEmptyText;
  usbOverlappedWrite(r, device, block, static_cast<int>(n));
  usbReadWhile(reader, r, device);
  const char* text = resultBuffer(r, InfoBuffer::Reply);
  if (text[0] == '\0') setLastError("the USB printer sent no reply");
  return text;
}

}  // namespace paloma

using namespace paloma;

namespace {

const InfoFamilyRow& row(InfoTransport t, InfoQuery q) { return *findInfoRow(t, q); }

// Every exported query below goes through one of these, which take the
// library's lock for it.
const char* comport(InfoQuery q) {
  paloma::ApiLock lock;
  PrinterLink& port = connection().device;
  return runSerialInfoQuery(*port.replies, row(InfoTransport::Serial, q), port.handle);
}
const char* ethernet(InfoQuery q) {
  paloma::ApiLock lock;
  PrinterLink& net = connection().network;
  return runNetworkInfoQuery(*net.replies, row(InfoTransport::Network, q), net.socket);
}
// The USB queries open a device handle of their own; the answer goes where
// the connection's device link keeps its replies.
const char* usb(InfoQuery q) {
  paloma::ApiLock lock;
  return runUsbInfoQuery(*connection().device.replies, row(InfoTransport::Usb, q));
}

// The vb6 form of a USB query: on success all of ReplyBuffer (the reply and
// the NUL bytes after it), on failure the text "-1"; either way a string the
// caller releases.
paloma_bstr usbVb6(InfoQuery q) {
  paloma::ApiLock lock;
  const char* text = usb(q);
  if (text == kQueryFailed) return bstrFromText(kQueryFailed);
  return bstrAlloc(connection().device.replies->ReplyBuffer, ReplyState::kBufferSize);
}

}  // namespace

extern "C" {

// ---- serial ----
const char* comportprintercodepage(void) { return comport(InfoQuery::CodePage); }
const char* comportprintercompletestatus(void) { return comport(InfoQuery::CompleteStatus); }
const char* comportprinterdpi(void) { return comport(InfoQuery::Dpi); }
const char* comportprinterfile(void) { return comport(InfoQuery::File); }
const char* comportprinterfreememory(void) { return comport(InfoQuery::FreeMemory); }
const char* comportprintermileage(void) { return comport(InfoQuery::Mileage); }
const char* comportprintername(void) { return comport(InfoQuery::Name); }
const char* comportprinterpeel(void) { return comport(InfoQuery::Peel); }
const char* comportprinterquantity(void) { return comport(InfoQuery::Quantity); }
const char* comportprinterserial(void) { return comport(InfoQuery::SerialNumber); }

int comportprinterrestart(void) {
  paloma::ApiLock lock;
  connection().device.replies->clearReply();
  return ComportSendData("\x1b!R\n");
}

// ---- network ----
const char* ethernetprintercodepage(void) { return ethernet(InfoQuery::CodePage); }
const char* ethernetprintercompletestatus(void) { return ethernet(InfoQuery::CompleteStatus); }
const char* ethernetprinterdpi(void) { return ethernet(InfoQuery::Dpi); }
const char* ethernetprinterfile(void) { return ethernet(InfoQuery::File); }
const char* ethernetprinterfreememory(void) { return ethernet(InfoQuery::FreeMemory); }
const char* ethernetprintermileage(void) { return ethernet(InfoQuery::Mileage); }
const char* ethernetprintername(void) { return ethernet(InfoQuery::Name); }
const char* ethernetprinterpeel(void) { return ethernet(InfoQuery::Peel); }
const char* ethernetprinterquantity(void) { return ethernet(InfoQuery::Quantity); }
const char* ethernetprinterserial(void) { return ethernet(InfoQuery::SerialNumber); }

int ethernetprinterrestart(void) {
  paloma::ApiLock lock;
  return sendRequestBlock(connection().socket, "\x1b!R\n") ? 1 : 0;
}

const char* ethernetprintersetting(const char* a, const char* b, const char* c) {
  paloma::ApiLock lock;
  PrinterLink& net = connection().network;
  return runNetworkSettingQuery(*net.replies, net.socket, a, b, c);
}

// ---- USB ----
const char* usbprintercodepage(void) { return usb(InfoQuery::CodePage); }
const char* usbprintercompletestatus(void) { return usb(InfoQuery::CompleteStatus); }
const char* usbprinterfile(void) { return usb(InfoQuery::File); }
const char* usbprinterfreememory(void) { return usb(InfoQuery::FreeMemory); }
const char* usbprintermileage(void) { return usb(InfoQuery::Mileage); }
const char* usbprintername(void) { return usb(InfoQuery::Name); }
const char* usbprinterpeel(void) { return usb(InfoQuery::Peel); }
const char* usbprinterquantity(void) { return usb(InfoQuery::Quantity); }
const char* usbprinterserial(void) { return usb(InfoQuery::SerialNumber); }

paloma_bstr usbprinternamevb6(void) { return usbVb6(InfoQuery::Name); }
paloma_bstr usbprinterserialvb6(void) { return usbVb6(InfoQuery::SerialNumber); }

const char* usbprintersetting(const char* a, const char* b, const char* c) {
  paloma::ApiLock lock;
  PrinterLink& device = connection().device;
  return runUsbSettingQuery(*device.replies, device.handle, a, b, c, &usbReadData);
}

int usbprinterrestart(void) {
  paloma::ApiLock lock;
  UsbDeviceRecord record;
  findUsbDevice(record);
  if (!record.found) return -1;
  ConnectionState& conn = connection();
  conn.usbOneShotHandle = openPath(record.devicePath, kUsbDeviceOpenMode);
  if (conn.usbOneShotHandle == kInvalidHandle) return -2;
  // Told truthfully: 1 only when the device took all four bytes.
  bool written = writeAll(WriteTarget{TransportKind::UsbDevice, conn.usbOneShotHandle, kInvalidSocket},
                          "\x1b!R\r", 4);
  os().closeHandle(conn.usbOneShotHandle);
  conn.usbOneShotHandle = kInvalidHandle;
  return written ? 1 : 0;
}

}  // extern "C"

// C++ linkage.
const char* usbprinterdpi() { return usb(InfoQuery::Dpi); }
