// The printer information queries: one fixed request per query and
// transport, one reply reader, one result buffer. The family table in
// info_table.h says, for every query, what is sent and how the reply is
// framed; the runners in info_queries.cc carry a row of it out on a
// transport. The setting queries declared here serve the slots too, on a
// slot's own handle or socket.
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
