// Opening the current connection by name, by the spooler's port, and
// closing it one transport at a time.
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "connection/connection_state.h"
#include "connection/text_convert.h"
#include "connection/usb_search.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

constexpr const char* kNoDriver = "Can't Find Printer Driver, Please check Driver Name";
constexpr const char* kErrorCaption = "Error Message";

ConnectionState& conn() { return connection(); }

void clearOpenerFlags() {
  ConnectionState& c = conn();
  c.spoolerMode = c.lptMode = c.usbMode = c.serialMode = c.isOpen = 0;
}

// Opens the spooler printer held in `handle` and starts a document and a page.
void startSpoolerJob() {
  ConnectionState& c = conn();
  os().spoolerStartDoc(c.handle, ConnectionState::kDocName);
  os().spoolerStartPage(c.handle);
  c.spoolerMode = 1;
  c.isOpen = 1;
}

bool trySpooler() {
  ConnectionState& c = conn();
  Handle h = kInvalidHandle;
  c.spoolerMode = os().spoolerOpen(c.portName, &h) ? 1 : 0;
  if (c.spoolerMode == 0) return false;
  c.handle = h;
  startSpoolerJob();
  return true;
}

bool isSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

void upperCaseAndTrim(char* s) {
  for (char* p = s; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  std::size_t len = std::strlen(s);
  std::size_t begin = 0;
  while (begin < len && isSpace(s[begin])) ++begin;
  std::size_t end = len;
  while (end > begin && isSpace(s[end - 1])) --end;
  std::memmove(s, s + begin, end - begin);
  s[end - begin] = '\0';
}

bool isLptName(std::string_view n) {
  return n == "LPT1" || n == "LPT2" || n == "LPT3" || n == "LPT4";
}
bool isSerialTableName(std::string_view n) {
  return n == "COM1" || n == "COM2" || n == "COM3" || n == "COM4" || n == "COM5";
}

// Device paths on Linux: serial terminals and file ports.
bool isSerialDevicePath(std::string_view p) {
  return p.rfind("/dev/tty", 0) == 0 || p.rfind("/dev/pts/", 0) == 0;
}
bool isFileDevicePath(std::string_view p) {
  return p.rfind("/dev/lp", 0) == 0 || p.rfind("/dev/usb/lp", 0) == 0;
}

// Opens `path` as the connection's transport `kind`: on success the handle,
// the kind's flag and isOpen are set; on failure the flag and isOpen are
// cleared.
bool openTransport(TransportKind kind, std::string_view path, const OpenMode& mode) {
  ConnectionState& c = conn();
  Handle h = openPath(path, mode);
  ModeFlag flag = c.flag(kind);
  if (h == kInvalidHandle) {
    flag = 0;
    c.isOpen = 0;
    return false;
  }
  c.handle = h;
  flag = 1;
  c.isOpen = 1;
  return true;
}

int openUsb() {
  UsbDeviceRecord record;
  findUsbDevice(record);  // records why when none is found
  if (record.found)
    return openTransport(TransportKind::UsbDevice, record.devicePath, kUsbDeviceOpenMode) ? 1 : 0;
  conn().usbMode = 0;
  conn().isOpen = 0;
  return 0;
}

int openLpt(std::string_view path) {
  OpenMode mode{kAccessWrite, kShareWrite, Disposition::CreateAlways, false};
  return openTransport(TransportKind::LptFile, path, mode) ? 1 : 0;
}

// openport's serial branch: the port opened exclusively for overlapped I/O,
// purged, DTR and RTS raised, reads that return at once.
int openSerialPrepared(std::string_view path) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenTerminal, true};
  if (!openTransport(TransportKind::Serial, path, mode)) return 0;
  Handle h = conn().handle;
  os().serialPurge(h, kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
  os().serialSetMask(h, 0x83);
  os().serialEscape(h, SerialLine::SetDtr);
  os().serialEscape(h, SerialLine::SetRts);
  SerialTimeouts t;
  t.readInterval = 0xFFFFFFFFu;
  t.writeTotalMultiplier = 10;
  t.writeTotalConstant = 100;
  os().serialSetTimeouts(h, t);
  return 1;
}

// openportW's serial branch: the plain name, shared writes, no preparation.
// Like every serial opener it opens only an existing terminal.
int openSerialPlain(std::string_view path) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareWrite, Disposition::OpenTerminal, true};
  if (!openTransport(TransportKind::Serial, path, mode)) {
    os().message("Couldn't open the specific COM port.", "Message", MessageIcon::Warning);
    return 0;
  }
  return 1;
}

enum class Flavor { Narrow, Wide };

int openByName(std::string_view name, Flavor flavor) {
  closeport();
  // A handle closeport left (a name lookup's spooler printer, a second
  // transport) would be lost when the flags are cleared.
  releaseHandle(conn());
  clearOpenerFlags();
  if (!conn().setPortName(name)) {
    setLastError("the printer name is " + std::to_string(name.size()) + " bytes long; at most " +
                 std::to_string(ConnectionState::kPortNameSize - 1) + " fit");
    return 0;
  }
  // A queue on a print server (//SERVER/QUEUE, \\SERVER\QUEUE) is no port
  // either: the spooler's reason (what the server did) is the one kept.
  bool serverForm = (name.substr(0, 2) == "//" || name.substr(0, 2) == "\\\\") &&
                    name.substr(2, 2) != ".\\" && name.substr(2, 2) != "?\\";
  if (serverForm) setLastError("");
  if (trySpooler()) return 1;

  ConnectionState& c = conn();
  if (serverForm && *paloma_last_error() != '\0') {
    c.spoolerMode = 0;
    c.isOpen = 0;
    return 0;
  }
  // Device paths are taken as they are, before any upper-casing.
  std::string_view given(c.portName);
  if (isSerialDevicePath(given))
    return flavor == Flavor::Narrow ? openSerialPrepared(given) : openSerialPlain(given);
  if (isFileDevicePath(given)) return openLpt(given);

  upperCaseAndTrim(c.portName);
  std::string_view port(c.portName);
  if (port == "USB") return openUsb();
  if (isLptName(port)) return openLpt(port);
  if (flavor == Flavor::Narrow && port.substr(0, 3) == "COM") {
    return openSerialPrepared(std::string("\\\\.\\") + std::string(port));
  }
  if (flavor == Flavor::Wide && isSerialTableName(port)) return openSerialPlain(port);

  if (flavor == Flavor::Wide) {
    os().message(std::string(name), kErrorCaption, MessageIcon::Warning);
    os().message(kNoDriver, kErrorCaption, MessageIcon::Warning);
  }
  setLastError("no spooler printer named \"" + std::string(name) + "\", and \"" +
               std::string(name) +
               "\" is not a port name (USB, LPT1 to LPT4, COM<n> or a /dev/ device path)");
  c.spoolerMode = 0;
  c.isOpen = 0;
  return 0;
}

// The spooler printer whose port equals `port` exactly; -1 when none or
// when the spooler gives no list. A port naming a printer on a print server
// is asked of that server.
int findPrinterOnPort(const char* port, std::vector<SpoolerPrinter>* printers) {
  SpoolerPrinter onServer;
  switch (os().spoolerPrinterOnServer(port, &onServer)) {
    case Os::ServerLookup::Found:
      printers->assign(1, onServer);
      return 0;
    case Os::ServerLookup::Missing:
      printers->clear();  // the backend has recorded why
      return -1;
    case Os::ServerLookup::NotServerName:
      break;
  }
  if (!os().spoolerList(printers)) {
    setLastError("the spooler's list of printers cannot be had: is the print service running?");
    return -1;
  }
  for (std::size_t i = 0; i < printers->size(); ++i)
    if ((*printers)[i].port == port) return static_cast<int>(i);
  setLastError("no spooler printer has the port \"" + std::string(port) + "\"");
  return -1;
}

// Steps shared by compareport and returndriver: close, clear, remember the
// port, find its printer and open it. Returns the printer's index, or -1
// when none was found; *opened tells whether the spooler opened it.
int openPrinterOnPort(const char* port, std::vector<SpoolerPrinter>* printers, bool* opened) {
  closeport();
  releaseHandle(conn());
  clearOpenerFlags();
  *opened = false;
  // A port name too long to keep leaves the one before it.
  conn().setPortName(port);
  int index = findPrinterOnPort(port, printers);
  if (index < 0) return -1;
  ConnectionState& c = conn();
  Handle h = kInvalidHandle;
  c.spoolerMode = os().spoolerOpen((*printers)[index].name, &h) ? 1 : 0;
  if (c.spoolerMode == 1) {
    c.handle = h;
    *opened = true;
  } else {
    setLastError("the spooler printer \"" + (*printers)[index].name + "\" on port \"" + port +
                 "\" could not be opened");
  }
  return index;
}

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

int openport(const char* name) {
  paloma::ApiLock lock;
  if (!name) {
    noteNull("the name");
    return 0;
  }
  return openByName(name, Flavor::Narrow);
}

int openportW(const paloma_wchar* name) {
  paloma::ApiLock lock;
  if (!name) {
    noteNull("the name");
    return 0;
  }
  std::string narrow;
  if (!narrowWide(name, kWideArgCapacity, &narrow)) return 0;
  return openByName(narrow, Flavor::Wide);
}

int compareport(const char* port) {
  paloma::ApiLock lock;
  if (!port) {
    noteNull("the port");
    return 0;
  }
  std::vector<SpoolerPrinter> printers;
  bool opened = false;
  int index = openPrinterOnPort(port, &printers, &opened);
  ConnectionState& c = conn();
  if (index < 0) {
    os().message(port, kErrorCaption, MessageIcon::Warning);
    os().message(kNoDriver, kErrorCaption, MessageIcon::Warning);
    c.spoolerMode = 0;
    c.isOpen = 0;
    return 0;
  }
  if (!opened) return -1;
  startSpoolerJob();
  return 1;
}

const char* returndriver(const char* port) {
  paloma::ApiLock lock;
  static std::string result;
  if (!port) {
    setLastError("the port is a null pointer");
    return "-1";
  }
  std::vector<SpoolerPrinter> printers;
  bool opened = false;
  int index = openPrinterOnPort(port, &printers, &opened);
  if (index < 0 || !opened) return "-1";
  // The printer stays open with spoolerMode 1 and isOpen 0, as the spooler
  // handle of a name lookup; closeport leaves it alone in that state.
  result = ansiToUtf8(printers[static_cast<std::size_t>(index)].name);
  return result.c_str();
}

int closeport(void) {
  paloma::ApiLock lock;
  ConnectionState& c = conn();
  if (c.isOpen == 0) return 0;
  if (c.spoolerMode == 1) {
    os().spoolerEndPage(c.handle);
    os().spoolerEndDoc(c.handle);
    os().spoolerClose(c.handle);
    c.handle = kInvalidHandle;
    c.spoolerMode = 0;
  } else if (c.lptMode == 1) {
    os().closeHandle(c.handle);
    c.handle = kInvalidHandle;
    c.lptMode = 0;
  } else if (c.usbMode == 1) {
    os().closeHandle(c.handle);
    c.handle = kInvalidHandle;
    c.usbMode = 0;
  } else if (c.serialMode == 1) {
    os().sleepMs(100);
    os().closeHandle(c.handle);
    c.handle = kInvalidHandle;  // its number may soon name another file
    c.serialMode = 0;
  } else if (c.networkMode == 1) {
    os().sleepMs(1000);
    os().closeSocket(c.socket);
    c.socket = kInvalidSocket;
    c.networkMode = 0;
  } else {
    return 0;
  }
  c.isOpen = 0;
  return 1;
}

}  // extern "C"
