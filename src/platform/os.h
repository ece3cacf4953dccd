// The OS seam. The library core talks to the machine only through `Os`.
//
// Every operation here is one the printer logic relies on, named for what it
// does rather than for any one platform's type. `os()` returns the backend in
// force; tests install their own with `setOs`. Contracts per operation say
// whether it blocks, for how long at most, and how failure shows.
//
// Conventions:
//   - Handles and sockets are plain integers; `kInvalidHandle` / `kInvalidSocket`
//     mark "none". A backend never hands out the invalid value as a valid one.
//   - Text crossing the seam is bytes (std::string_view) or UTF-16
//     (std::u16string_view); nothing here keeps a pointer past the call.
//   - No operation blocks without a bound unless its comment says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace paloma {

using Handle = std::intptr_t;
using Socket = std::intptr_t;
using Event = std::intptr_t;
constexpr Handle kInvalidHandle = -1;
constexpr Socket kInvalidSocket = -1;
constexpr Event kInvalidEvent = 0;

// ---- files and devices ---------------------------------------------------

enum AccessFlags : unsigned { kAccessRead = 1u, kAccessWrite = 2u };
enum ShareFlags : unsigned { kShareNone = 0u, kShareRead = 1u, kShareWrite = 2u };

enum class Disposition {
  OpenExisting,  // fail if it does not exist
  CreateAlways,  // create or truncate a regular file; a device opens as it is
  OpenAlways,    // open, or create if missing; never truncates
  // An existing serial terminal only (a serial port, a USB serial adapter, a
  // pseudo-terminal). Anything else (a missing path, a regular file, a
  // directory, a device that is no terminal) is refused without being
  // created, truncated or changed.
  OpenTerminal,
};

struct OpenMode {
  unsigned access = kAccessRead | kAccessWrite;
  unsigned share = kShareNone;
  Disposition disposition = Disposition::OpenExisting;
  bool overlapped = false;  // the handle is used with the overlapped write/read forms
  // A symbolic link (on Windows any reparse point) at the path is refused,
  // never followed: a file the library creates is never written through one.
  bool noFollow = false;
};

// How a read waits for data.
enum class ReadWait {
  Arrived,   // return at once with what has arrived (possibly 0 bytes)
  AtMostMs,  // wait up to `timeoutMs` for the first bytes; 0 bytes on time-out
  Blocking,  // wait until the device completes the read; the backend still
             // bounds this by `timeoutMs` so that no call hangs forever
};

struct IoResult {
  bool ok = false;       // the system call succeeded
  std::size_t count = 0; // bytes moved
  int error = 0;         // platform error code when !ok (informational)
  bool timedOut = false; // a bounded wait ran out (count is then 0)
};

// ---- serial --------------------------------------------------------------

// The serial line settings the library reads, changes and writes back.
// `dsrSensitivity` has no termios equivalent; the POSIX backend records it
// and leaves the line alone.
struct SerialSettings {
  std::uint32_t baudRate = 9600;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 2 two
  bool parityCheck = false;
  bool dsrSensitivity = false;
};

struct SerialTimeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

enum SerialPurge : unsigned {
  kPurgeTxAbort = 0x1, kPurgeRxAbort = 0x2, kPurgeTxClear = 0x4, kPurgeRxClear = 0x8
};
enum class SerialLine { SetDtr, SetRts };

// ---- spooler -------------------------------------------------------------

struct SpoolerPrinter {
  std::string name;  // the printer (queue) name
  std::string port;  // its port, as the spooler lists it (CUPS: the device URI)
};

// ---- network -------------------------------------------------------------

// Socket error kinds, in the numbering the printer logic tests.
enum NetError : int {
  kNetOk = 0,
  kNetWouldBlock = 10035,
  kNetTimedOut = 10060,
  kNetConnReset = 10054,
  kNetOther = 10004,
};

struct NetResult {
  long result = 0;    // bytes (>= 0) or -1 on error, like send/recv
  int error = kNetOk; // NetError kind of the last call (kNetOk on success)
  int osError = 0;    // the OS error number behind a failure (errno,
                      // WSAGetLastError), 0 when there is none
};

// ---- host-font text ------------------------------------------------------

struct FontSpec {
  int height = 0;          // >0 cell height, <0 character height, pixels
  int escapementTenths = 0;  // counter-clockwise, tenths of a degree
  int weight = 400;        // 400 regular, 700 bold
  bool italic = false;
  bool underline = false;
  std::string faceName;    // at most 31 bytes
};

// A text to draw: either 8-bit in the process's character set, or UTF-16.
struct HostText {
  std::string_view bytes;
  std::u16string_view utf16;
  bool wide = false;
};

// One-bit block: `rows` rows of `widthBytes` bytes, top row first, leftmost
// pixel in the most significant bit, text 0 and background 1.
struct BitBlock {
  int widthBytes = 0;
  int rows = 0;
  std::vector<std::uint8_t> bits;
};

// What copyFile made of a copy.
struct FileCopyResult {
  enum Status {
    Done,         // every byte moved
    FileEnded,    // the file ended before `n` bytes: `count` moved
    Failed,       // the target (or the file) failed: `count` moved
    Unsupported,  // this file or target cannot be copied so; nothing moved
  };
  Status status = Unsupported;
  std::size_t count = 0;
  int error = 0;          // platform error code when Failed
  bool timedOut = false;  // the target took nothing within its bound
};

// ---- messages ------------------------------------------------------------

enum class MessageIcon { Warning, Information, Exclamation, None };

// ---- the seam --------------------------------------------------------------

class Os {
 public:
  virtual ~Os() = default;

  // Spooler. Non-blocking apart from the spooler's own calls.
  virtual bool spoolerOpen(std::string_view name, Handle* out) = 0;
  virtual bool spoolerStartDoc(Handle h, std::string_view docName) = 0;
  virtual bool spoolerStartPage(Handle h) = 0;
  virtual IoResult spoolerWrite(Handle h, const void* data, std::size_t n) = 0;
  virtual bool spoolerEndPage(Handle h) = 0;
  virtual bool spoolerEndDoc(Handle h) = 0;
  virtual bool spoolerClose(Handle h) = 0;
  // The local printers with their ports, in the spooler's order. False when
  // the list cannot be had.
  virtual bool spoolerList(std::vector<SpoolerPrinter>* out) = 0;
  // A port that names a printer on a print server by itself ("\\SERVER\QUEUE"
  // on Linux), asked of that server instead of looked up in the local list:
  // Found (with the printer, its name as spoolerOpen takes it), Missing (the
  // server has no such printer or does not answer within the spooler's
  // bounds; the last error names the server), or NotServerName (the caller
  // looks in the local list). Backends whose spooler lists such printers
  // itself keep the default.
  enum class ServerLookup { NotServerName, Found, Missing };
  virtual ServerLookup spoolerPrinterOnServer(std::string_view port, SpoolerPrinter* out) {
    (void)port, (void)out;
    return ServerLookup::NotServerName;
  }

  // Files and devices. `path` is a port name ("LPT1", "COM3", "\\.\COM12"),
  // a USB interface path from `usbInterfaces`, a device path ("/dev/...") or a
  // file name. Returns kInvalidHandle on failure.
  virtual Handle openFile(std::string_view path, const OpenMode& mode) = 0;
  // The device or file openFile opens for `path` ("COM3" is /dev/ttyS2 on
  // Linux), for reasons that name what was tried; `path` itself by default.
  virtual std::string deviceFor(std::string_view path) { return std::string(path); }
  // Whether `path` itself is a symbolic link (on Windows a reparse point).
  virtual bool isSymbolicLink(std::string_view) { return false; }
  // Synchronous write: blocks until the bytes are handed on (device writes
  // are bounded by the backend's write time-out).
  virtual IoResult writeFile(Handle h, const void* data, std::size_t n) = 0;
  // The overlapped write the serial port and the USB queries use: starts the
  // write and waits for its completion. `event` is the caller's event, or
  // kInvalidEvent for the event-less form.
  virtual IoResult writeOverlapped(Handle h, const void* data, std::size_t n, Event event) = 0;
  virtual IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) = 0;
  // Size of an open file in bytes; -1 if unknown.
  virtual std::int64_t fileSize(Handle h) = 0;
  // Copies `n` bytes of an open regular file, from byte `offset` on (the
  // file's position is left alone), to the file or device handle `to`, or,
  // when `to` is kInvalidHandle, to the socket `sock`, without passing them
  // through the caller's memory. Blocks until all have moved, the file ends,
  // or the target fails; a device's wait is bounded as in writeFile, a
  // socket's by its send time-out while nothing moves. Unsupported, with
  // nothing moved, where the platform, the file or the target cannot do it;
  // the caller then reads and writes.
  virtual FileCopyResult copyFile(Handle file, std::uint64_t offset, std::size_t n, Handle to,
                                  Socket sock) {
    (void)file, (void)offset, (void)n, (void)to, (void)sock;
    return {};
  }
  virtual bool closeHandle(Handle h) = 0;

  // Events for overlapped I/O. Creation may fail; the logic then gives up.
  virtual Event createEvent() = 0;
  virtual void closeEvent(Event e) = 0;

  // Serial port control, on a handle from openFile.
  virtual bool serialGetState(Handle h, SerialSettings* out) = 0;
  virtual bool serialSetState(Handle h, const SerialSettings& s) = 0;
  virtual bool serialSetTimeouts(Handle h, const SerialTimeouts& t) = 0;
  virtual bool serialSetMask(Handle h, unsigned mask) = 0;
  virtual bool serialPurge(Handle h, unsigned flags) = 0;
  virtual bool serialEscape(Handle h, SerialLine line) = 0;

  // USB device interfaces present, in enumeration order. An entry whose
  // details could not be read is an empty string. False: no device list.
  virtual bool usbInterfaces(std::vector<std::string>* paths) = 0;
  // The serial number the USB device at an interface path from usbInterfaces
  // reports, as UTF-8 with control characters written as '?'. Blocks at most
  // about a second (each request to the device is bounded). False when the
  // device reports none, has gone, or cannot be asked (another program's
  // permissions, say); the caller lists it without a serial number. The
  // default knows none.
  virtual bool usbSerialNumber(std::string_view path, std::string* serial) {
    (void)path, (void)serial;
    return false;
  }

  // Sockets. netStartup/netCleanup bracket socket use (no-ops where the
  // platform needs none).
  virtual void netStartup() = 0;
  virtual void netCleanup() = 0;
  virtual Socket tcpSocket() = 0;
  // Blocking connect to an IPv4 address (host byte order) and port; bounded
  // by the system's connect time-out.
  virtual NetResult tcpConnect(Socket s, std::uint32_t addr, std::uint16_t port) = 0;
  // As tcpConnect, bounded by `timeoutMs` instead of the system's time-out
  // (a time-out is kNetTimedOut). Backends that cannot bound it keep the
  // default, which is tcpConnect.
  virtual NetResult tcpConnectWithin(Socket s, std::uint32_t addr, std::uint16_t port,
                                     int timeoutMs) {
    (void)timeoutMs;
    return tcpConnect(s, addr, port);
  }
  // A host name or address text as an IPv4 address (host byte order). The
  // default takes address texts only (ipv4FromText); a backend with a
  // resolver also looks names up, bounded by the resolver's own time-outs.
  // False with the reason recorded as the last error.
  virtual bool resolveIPv4(const std::string& host, std::uint32_t* hostOrder);
  // Shuts down the sending side of a connected socket: the printer reads the
  // end of the stream after the bytes sent. False when the system refused.
  virtual bool shutdownSend(Socket s) {
    (void)s;
    return false;
  }
  // Bytes sent on the socket that the peer has not yet acknowledged (the end
  // of the stream counts as one once the sending side is shut down); -1
  // where the platform cannot tell (the default).
  virtual long unsentBytes(Socket s) {
    (void)s;
    return -1;
  }
  // Whether an OS error number says the device is held by another.
  virtual bool isBusyError(int osError) {
    (void)osError;
    return false;
  }
  virtual void setSocketTimeouts(Socket s, int sendMs, int recvMs) = 0;
  // TCP_NODELAY on a connected socket.
  virtual void setNoDelay(Socket s) = 0;
  // send(); `more` says another piece follows at once (MSG_MORE). Never
  // raises a signal when the peer has gone.
  virtual NetResult send(Socket s, const void* data, std::size_t n, bool more) = 0;
  // recv(); a receive time-out is an error (kNetTimedOut), never would-block.
  virtual NetResult recv(Socket s, void* buf, std::size_t cap) = 0;
  virtual void closeSocket(Socket s) = 0;
  virtual Socket udpSocket() = 0;
  virtual void setBroadcast(Socket s) = 0;
  virtual bool bindAny(Socket s, std::uint16_t port) = 0;
  virtual NetResult sendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr,
                           std::uint16_t port) = 0;
  // Waits at most `timeoutMs` for one datagram.
  virtual NetResult recvFrom(Socket s, void* buf, std::size_t cap, int timeoutMs) = 0;
  // As recvFrom, and says who sent the datagram: `from` gets the sender's
  // IPv4 address (host byte order) and UDP port. A backend that cannot tell
  // leaves both 0, so a caller never takes a sender it was not told.
  struct Sender {
    std::uint32_t addr = 0;
    std::uint16_t port = 0;
  };
  virtual NetResult recvFromSender(Socket s, void* buf, std::size_t cap, int timeoutMs,
                                   Sender* from) {
    if (from) *from = Sender{};
    return recvFrom(s, buf, cap, timeoutMs);
  }

  // Host-font text. `textExtent` measures the unrotated text; `drawText`
  // draws it turned by the escapement about (x0, y0) into a fresh block of
  // w x h pixels (all background before drawing) and returns the block.
  virtual bool textExtent(const FontSpec& font, const HostText& text, int* cx, int* cy) = 0;
  virtual bool drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                        BitBlock* out) = 0;
  // The face the system draws for the font: its own name, or that of the
  // face substituted for a name it does not have. Empty when it cannot say
  // (the default).
  virtual std::string fontFaceUsed(const FontSpec& font) {
    (void)font;
    return {};
  }
  // How many characters of the text no installed font has a glyph for (they
  // are drawn as empty boxes). 0 when it cannot say (the default).
  virtual int missingGlyphs(const FontSpec& font, const HostText& text) {
    (void)font;
    (void)text;
    return 0;
  }

  // Text conversion from the process's 8-bit character set.
  virtual std::u16string ansiToUtf16(std::string_view bytes) = 0;

  // Messages go to the application's handler (or standard error). Never
  // block on a user.
  virtual void message(std::string_view text, std::string_view caption, MessageIcon icon) = 0;

  // Strings handed to the application, which releases them later (the vb6
  // results): `n` bytes copied from `bytes` (which may be null when n is 0),
  // then two NUL bytes, the byte length kept in the 32 bits in front of the
  // first byte. Null when the memory cannot be had or n does not fit. A
  // string is released, and its length read, only by the backend that made
  // it. The defaults use the C heap; the Windows backend hands out OLE
  // Automation strings. freeByteString ignores null; byteStringLength of
  // null is 0.
  virtual char* allocByteString(const char* bytes, std::size_t n);
  virtual void freeByteString(char* s);
  virtual std::uint32_t byteStringLength(const char* s);

  // Why an operation failed. lastOsError is the OS error number the calling
  // thread's last failed system call left (errno, GetLastError), read right
  // after an operation that reports failure by its result alone (a bool, an
  // invalid handle); IoResult and NetResult carry theirs. osErrorText is the
  // system's sentence for such a number (strerror, FormatMessage), without a
  // line end. The defaults use the C library's errno and strerror.
  virtual int lastOsError();
  virtual std::string osErrorText(int code);

  // Time. sleepMs blocks for the given time; nowMs is a monotonic clock.
  virtual void sleepMs(int ms) = 0;
  virtual std::uint64_t nowMs() = 0;
};

// An IPv4 address text converted as the platform's address conversion
// takes it (inet_aton on POSIX, inet_addr on Windows): one to four parts
// separated by dots, each decimal, octal with a leading 0 or hexadecimal
// with 0x, the last part filling the bytes that remain ("127.1" is
// 127.0.0.1). `*hostOrder` gets the address in host byte order. False for a
// null or empty text, a host name, a part out of range, and for the all-ones
// address 255.255.255.255, which the Windows conversion cannot tell from a
// failure and no printer can have. Pure: the same on every backend, so it
// is no operation of the seam.
bool ipv4FromText(const char* text, std::uint32_t* hostOrder);

// The backend in force. Never null.
Os& os();
// Installs a backend (tests); nullptr restores the platform's own.
void setOs(Os* backend);
// The platform's own backend.
Os& platformOs();

}  // namespace paloma
