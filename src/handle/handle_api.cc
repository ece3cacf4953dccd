// The handle API: one paloma_printer per printer, each with its own link and
// lock. Handle calls never take the process-wide lock of the single
// connection and the slots, and touch no state another handle can reach.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "handle/link.h"
#include "handle/uri.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "query/info_queries.h"
#include "query/info_table.h"

namespace paloma {
namespace {

constexpr int kMaxBoundMs = 600000;
std::atomic<int> g_defaultConnectMs{LinkBounds{}.connectMs};

paloma_result notConnected() {
  return fail(PALOMA_ERROR_NOT_CONNECTED, "the printer handle is NULL: open one with paloma_open");
}

bool validBound(int ms) { return ms >= 1 && ms <= kMaxBoundMs; }

paloma_result badBound(int ms) {
  return fail(PALOMA_ERROR_ARGUMENT,
              "a bound of " + std::to_string(ms) + " ms: give 1 to " +
                  std::to_string(kMaxBoundMs) + " ms");
}

paloma_result requireOpen(const Link& link) {
  if (!link.transport)
    return fail(PALOMA_ERROR_NOT_CONNECTED,
                "the printer is not connected (its reconnect failed): call paloma_reconnect");
  return PALOMA_OK;
}

// The information keys: the query of the transport's family (the same
// request bytes as the single connection's query), and how its answer ends.
struct InfoKey {
  const char* key;
  InfoQuery query;
};
constexpr InfoKey kInfoKeys[] = {
    {"name", InfoQuery::Name},
    {"serial", InfoQuery::SerialNumber},
    {"codepage", InfoQuery::CodePage},
    {"dpi", InfoQuery::Dpi},
    {"files", InfoQuery::File},
    {"free_memory", InfoQuery::FreeMemory},
    {"mileage", InfoQuery::Mileage},
    {"peel", InfoQuery::Peel},
    {"quantity", InfoQuery::Quantity},
    {"complete_status", InfoQuery::CompleteStatus},
};

// The serial number is asked with the STX after it on every transport, so
// that its answer ends as the others do.
constexpr char kSerialNumberRequest[] = "OUT _SERIAL$\r\nOUT \"\x02\"\r\n";

InfoTransport familyOf(std::optional<TransportKind> t) {
  if (!t) return InfoTransport::Network;
  switch (*t) {
    case TransportKind::Serial: return InfoTransport::Serial;
    case TransportKind::UsbDevice: return InfoTransport::Usb;
    default: return InfoTransport::Network;
  }
}

// "setting:APP/SECTION/KEY" as its request; false for a malformed one.
bool settingRequest(std::string_view spec, std::string* request) {
  std::string parts[3];
  int i = 0;
  for (char c : spec) {
    if (c == '/') {
      if (++i > 2) return false;
      continue;
    }
    if (c == '"' || c == '\r' || c == '\n' || c == '\0') return false;
    parts[i] += c;
  }
  if (i != 2) return false;
  for (const std::string& p : parts)
    if (p.empty()) return false;
  *request = "OUT GETSETTING$(\"" + parts[0] + "\",\"" + parts[1] + "\",\"" + parts[2] +
             "\")\r\nOUT CHR$(02)\r\n";
  return true;
}

// Copies an answer into the caller's buffer, NUL-terminated.
paloma_result giveText(std::string_view text, char* buf, std::size_t size) {
  if (size == 0) {
    return fail(PALOMA_ERROR_BUFFER_TOO_SMALL,
                "the answer has " + std::to_string(text.size()) + " bytes; the buffer has no room");
  }
  std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
  if (n < text.size())
    return fail(PALOMA_ERROR_BUFFER_TOO_SMALL,
                "the answer has " + std::to_string(text.size()) + " bytes; the buffer holds " +
                    std::to_string(size - 1) + " and its NUL");
  return PALOMA_OK;
}

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

paloma_result paloma_open(const char* uri, paloma_printer** out) {
  if (!out) return fail(PALOMA_ERROR_ARGUMENT, "the place for the handle is a null pointer");
  *out = nullptr;
  if (!uri) return fail(PALOMA_ERROR_ARGUMENT, "the printer address is a null pointer");
  std::string why;
  auto parsed = parsePrinterUri(uri, &why);
  if (!parsed) return fail(PALOMA_ERROR_ARGUMENT, why);
  auto* p = new (std::nothrow) paloma_printer;
  if (!p) return fail(PALOMA_ERROR_OS, "no memory for a printer handle");
  p->link.bounds.connectMs = g_defaultConnectMs.load(std::memory_order_relaxed);
  paloma_result r = linkOpen(p->link, *parsed);
  if (r != PALOMA_OK) {
    delete p;
    return r;
  }
  *out = p;
  return PALOMA_OK;
}

paloma_result paloma_close(paloma_printer* p) {
  if (!p) return PALOMA_OK;
  paloma_result r;
  {
    std::lock_guard<std::mutex> g(p->lock);
    r = linkClose(p->link);
  }
  delete p;
  return r;
}

paloma_result paloma_reconnect(paloma_printer* p) {
  if (!p) return notConnected();
  std::lock_guard<std::mutex> g(p->lock);
  linkClose(p->link);
  PrinterUri u = p->link.uri;
  return linkOpen(p->link, u);
}

paloma_result paloma_set_reply_timeout(paloma_printer* p, int ms) {
  if (!p) return notConnected();
  if (!validBound(ms)) return badBound(ms);
  std::lock_guard<std::mutex> g(p->lock);
  p->link.bounds.replyMs = ms;
  return PALOMA_OK;
}

paloma_result paloma_set_connect_timeout(paloma_printer* p, int ms) {
  if (!validBound(ms)) return badBound(ms);
  if (!p) {
    g_defaultConnectMs.store(ms, std::memory_order_relaxed);
    return PALOMA_OK;
  }
  std::lock_guard<std::mutex> g(p->lock);
  p->link.bounds.connectMs = ms;
  return PALOMA_OK;
}

paloma_result paloma_set_stall_timeout(paloma_printer* p, int ms) {
  if (!p) return notConnected();
  if (!validBound(ms)) return badBound(ms);
  std::lock_guard<std::mutex> g(p->lock);
  p->link.bounds.stallMs = ms;
  if (p->link.transport == TransportKind::Network)
    os().setSocketTimeouts(p->link.socket, ms, p->link.bounds.replyMs);
  if (p->link.transport == TransportKind::Serial) applySerialTimeouts(p->link);
  return PALOMA_OK;
}

paloma_result paloma_write(paloma_printer* p, const void* data, size_t size) {
  if (!p) return notConnected();
  if (!data && size > 0) return fail(PALOMA_ERROR_ARGUMENT, "the data is a null pointer");
  std::lock_guard<std::mutex> g(p->lock);
  if (paloma_result r = requireOpen(p->link)) return r;
  return linkWrite(p->link, data, size);
}

paloma_result paloma_send_command(paloma_printer* p, const char* command) {
  if (!p) return notConnected();
  if (!command) return fail(PALOMA_ERROR_ARGUMENT, "the command is a null pointer");
  std::size_t n = std::strlen(command);
  if (std::memchr(command, '\r', n) || std::memchr(command, '\n', n))
    return fail(PALOMA_ERROR_ARGUMENT,
                "the command holds a CR or LF, which would end it early; nothing was sent");
  std::lock_guard<std::mutex> g(p->lock);
  if (paloma_result r = requireOpen(p->link)) return r;
  // The command and its line end in one write, so that the printer never
  // sees half a line when another program shares it.
  std::string line;
  line.reserve(n + p->link.lineEnd.size());
  line.append(command, n).append(p->link.lineEnd);
  return linkWrite(p->link, line.data(), line.size());
}

paloma_result paloma_status(paloma_printer* p, uint8_t* byte) {
  if (!p) return notConnected();
  if (!byte) return fail(PALOMA_ERROR_ARGUMENT, "the place for the status byte is a null pointer");
  std::lock_guard<std::mutex> g(p->lock);
  if (paloma_result r = requireOpen(p->link)) return r;
  return linkStatus(p->link, byte);
}

paloma_result paloma_info(paloma_printer* p, const char* key, char* buf, size_t size) {
  if (!p) return notConnected();
  if (!key) return fail(PALOMA_ERROR_ARGUMENT, "the key is a null pointer");
  if (!buf && size > 0) return fail(PALOMA_ERROR_ARGUMENT, "the buffer is a null pointer");
  std::string_view k(key);
  std::string setting;
  std::string_view request;
  ReplyEnd end = ReplyEnd::Stx;
  std::lock_guard<std::mutex> g(p->lock);
  if (paloma_result r = requireOpen(p->link)) return r;
  if (k.substr(0, 8) == "setting:") {
    if (!settingRequest(k.substr(8), &setting))
      return fail(PALOMA_ERROR_ARGUMENT,
                  "a setting is setting:APP/SECTION/KEY, three parts without quotes or line ends");
    request = setting;
  } else {
    const InfoKey* found = nullptr;
    for (const InfoKey& ik : kInfoKeys)
      if (k == ik.key) found = &ik;
    if (!found)
      return fail(PALOMA_ERROR_ARGUMENT,
                  "\"" + std::string(k) +
                      "\" is no information key (name, serial, codepage, dpi, files, "
                      "free_memory, mileage, peel, quantity, complete_status, setting:A/S/K)");
    if (found->query == InfoQuery::SerialNumber) {
      request = std::string_view(kSerialNumberRequest, sizeof kSerialNumberRequest - 1);
    } else {
      const InfoFamilyRow* row = findInfoRow(familyOf(p->link.transport), found->query);
      if (!row) return fail(PALOMA_ERROR_UNSUPPORTED, "no such query on this transport");
      request = row->request;
      if (row->mode == ArmMode::Frame) end = ReplyEnd::Frame;
    }
  }
  std::string_view text;
  paloma_result r = linkQuery(p->link, request, end, &text);
  if (r != PALOMA_OK) return r;
  return giveText(text, buf, size);
}

const char* paloma_result_text(paloma_result r) {
  switch (r) {
    case PALOMA_OK: return "done";
    case PALOMA_ERROR_NOT_CONNECTED: return "not connected";
    case PALOMA_ERROR_NO_REPLY: return "no reply";
    case PALOMA_ERROR_ARGUMENT: return "refused argument";
    case PALOMA_ERROR_OS: return "the system refused";
    case PALOMA_ERROR_CLOSED: return "the printer closed the connection";
    case PALOMA_ERROR_BUSY: return "the device is held by another";
    case PALOMA_ERROR_TIMEOUT: return "timed out";
    case PALOMA_ERROR_BUFFER_TOO_SMALL: return "buffer too small";
    case PALOMA_ERROR_UNSUPPORTED: return "not possible on this transport";
  }
  return "unknown result";
}

}  // extern "C"
