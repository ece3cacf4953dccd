// The printer information queries: one fixed request per query and
// transport, one reply reader, one result buffer. The family table in
// info_table.h says, for every query, what is sent and how the reply is
// framed; the runners here carry a row of it out on a transport. The slot
// queries reuse the runners with a slot's own handle or socket.
#pragma once

#include <cstddef>
#include <string_view>

#include "connection/printer_link.h"
#include "platform/os.h"

namespace paloma {

enum class InfoTransport { Serial, Network, Usb };

enum class InfoQuery {
  CodePage,
  CompleteStatus,
  Dpi,
  File,
  FreeMemory,
  Mileage,
  Name,
  Peel,
  Quantity,
  SerialNumber,
};

// The reply mode a query arms, and when.
enum class ArmMode {
  None,
  Frame,       // FrameMode, after the request is written
  LineBefore,  // LineMode, before the request is written
  LineAfter,   // LineMode, after the request is written
};

// The buffer a query returns.
enum class InfoBuffer { Reply, NetworkReceive };

// When a query answers "-1" instead of its buffer.
enum class InfoFailure {
  None,               // the buffer in every case
  MinusOneOnError,    // network: NetworkError is set (and is cleared by reporting it)
  MinusOneWhenEmpty,  // USB: nothing was kept
};

// How a USB query reads its reply.
enum class UsbReads {
  UntilDone,       // UsbReadDataToBuffer while it asks to be called again
  OnceAfterPause,  // a 100 ms pause, then one UsbReadDataToBuffer
};

struct InfoFamilyRow {
  const char* function;  // the exported name
  InfoTransport transport;
  InfoQuery query;
  std::string_view request;  // exact bytes (the network block pads them with NULs)
  ArmMode mode;
  InfoBuffer result;
  InfoFailure failure;
  UsbReads reads;
};

// The row of one query on one transport; null if the family has no such member.
const InfoFamilyRow* findInfoRow(InfoTransport transport, InfoQuery query);

inline constexpr std::size_t kSettingBlockSize = 1024;

// The failure text of the queries.
extern const char kQueryFailed[];  // "-1"
// The constant empty text.
extern const char kEmptyText[];    // ""

// Fills `block` (kSettingBlockSize bytes) with
// OUT GETSETTING$("a","b","c") CR LF OUT CHR$(02) CR LF, then NUL bytes to
// the end. Returns the text's length, or 0 when refused: a null argument, or
// a text that does not leave room for its NUL in the block. A refused block
// is left all NUL.
std::size_t formatSettingRequest(const char* a, const char* b, const char* c, char* block);

// The per-transport runners. Each carries one row out on the given handle or
// socket, reads into `r` and returns the row's result text (a buffer of `r`
// or a constant text).
const char* runSerialInfoQuery(ReplyState& r, const InfoFamilyRow& row, Handle port);
const char* runNetworkInfoQuery(ReplyState& r, const InfoFamilyRow& row, Socket s);
// Finds the printer, opens a query handle of its own, runs, closes. With no
// printer attached there is no handle: the row's failure text comes at once.
const char* runUsbInfoQuery(ReplyState& r, const InfoFamilyRow& row);

// A USB packet reader: true means call again. The queries call theirs with
// usbReadWhile (readers.h), which ends the loop once kReplyBoundMs have
// passed, so a printer that never ends its reply cannot hold the caller.
using UsbPacketReader = bool (*)(ReplyState&, Handle);

// The setting queries. Network: sends the 1024-byte block on `s`, reads with
// ReadNetworkSetting; "-1" while NetworkError is set (not cleared here), or
// when the request is refused; else NetworkReceiveBuffer.
const char* runNetworkSettingQuery(ReplyState& r, Socket s, const char* a, const char* b,
                                   const char* c);
// USB: writes the text (no NUL) with the USB request write on `device`, then
// calls `reader` while it asks; returns ReplyBuffer, or the empty text when
// the request is refused (nothing is written then).
const char* runUsbSettingQuery(ReplyState& r, Handle device, const char* a, const char* b,
                               const char* c, UsbPacketReader reader);

}  // namespace paloma
