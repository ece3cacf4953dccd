// The Windows backend: the print spooler, file and device I/O (synchronous
// and overlapped), serial port control, the USB device interface list,
// Windows Sockets 2.2, the graphics interface and the strings handed to the
// application (OLE Automation strings), behind the OS seam.
//
// Every wait here is bounded. Where the printer logic waits "until the device
// completes", the backend still gives up after a generous bound and cancels
// the I/O (CancelIo for overlapped handles, CancelSynchronousIo for
// synchronous ones), so a printer that is switched off never holds the
// caller forever.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <setupapi.h>
#include <winspool.h>
#include <oleauto.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/message_handler.h"
#include "platform/os.h"

namespace paloma {
namespace {

// The USB device interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// A device write of n bytes is given the port's own write time-out budget
// (10 ms a byte plus a constant) and this much more before it is cancelled.
constexpr DWORD kWriteGraceMs = 5000;
constexpr DWORD kWriteMsPerByte = 10;

// A read that is to wait until the device completes, given no bound of its
// own, is given this one.
constexpr DWORD kDefaultReadBoundMs = 30000;

// Once a guarded synchronous I/O is past its bound, it is cancelled again at
// this interval until it has returned: a cancel that came before the I/O had
// started would otherwise leave it waiting without end.
constexpr DWORD kRecancelMs = 50;

// The canvas limits of the host-font text.
constexpr int kCanvasWidth = 2400;
constexpr int kCanvasHeight = 12000;

HANDLE toHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle fromHandle(HANDLE h) { return reinterpret_cast<Handle>(h); }
SOCKET toSocket(Socket s) { return static_cast<SOCKET>(s); }

DWORD clampDword(std::size_t n) {
  return n > 0x7FFFFFFFu ? static_cast<DWORD>(0x7FFFFFFFu) : static_cast<DWORD>(n);
}
int clampInt(std::size_t n) { return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

DWORD writeBound(std::size_t n) {
  std::size_t ms = n > (0xFFFFFFF0u - kWriteGraceMs) / kWriteMsPerByte
                       ? 0xFFFFFFF0u
                       : n * kWriteMsPerByte + kWriteGraceMs;
  return static_cast<DWORD>(ms);
}

int netErrorKind(int wsa) {
  switch (wsa) {
    case 0: return kNetOk;
    case WSAEWOULDBLOCK: return kNetWouldBlock;
    case WSAETIMEDOUT: return kNetTimedOut;
    case WSAECONNRESET:
    case WSAECONNABORTED: return kNetConnReset;
    default: return kNetOther;
  }
}

NetResult netFailure() {
  int wsa = WSAGetLastError();
  return NetResult{-1, netErrorKind(wsa), wsa};
}

// A socket of the kind socket() makes, but not inherited by the processes
// the application starts: an inherited copy would keep the printer's
// connection open after we close ours.
Socket newSocket(int type, int protocol) {
  SOCKET s = WSASocketW(AF_INET, type, protocol, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    // Systems older than the flag refuse it.
    s = ::socket(AF_INET, type, protocol);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  return static_cast<Socket>(s);
}

// While it lives, the calling thread's file operations fail with an error
// instead of asking the user (no "insert a disk" or "drive not ready" box
// for a path on a drive without its medium).
class QuietErrors {
 public:
  QuietErrors() {
    ok_ = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_) != 0;
  }
  ~QuietErrors() {
    if (ok_) SetThreadErrorMode(previous_, nullptr);
  }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  DWORD previous_ = 0;
  bool ok_ = false;
};

// Whether the spooler would ask the user for a file name when a document
// starts on this printer: a printer on the file port, or on a port that
// prompts, with no output file given.
bool portAsksUser(HANDLE printer) {
  DWORD needed = 0;
  GetPrinterA(printer, 5, nullptr, 0, &needed);
  if (needed < sizeof(PRINTER_INFO_5A)) return false;
  std::vector<BYTE> buf(needed);
  if (!GetPrinterA(printer, 5, buf.data(), needed, &needed)) return false;
  const char* ports = reinterpret_cast<PRINTER_INFO_5A*>(buf.data())->pPortName;
  if (!ports) return false;
  // A pooled printer lists its ports separated by commas.
  std::string list(ports);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string port = list.substr(start, end - start);
    port.erase(0, port.find_first_not_of(' '));
    port.erase(port.find_last_not_of(' ') + 1);
    if (lstrcmpiA(port.c_str(), "FILE:") == 0 || lstrcmpiA(port.c_str(), "PORTPROMPT:") == 0)
      return true;
    start = end + 1;
  }
  return false;
}

// Cancels a synchronous I/O of the calling thread if it is still running when
// the time is up, and again every kRecancelMs until disarmed. The timer
// callback runs on a pool thread; deleting the timer waits for a callback in
// flight, so a later I/O is never cancelled.
class SyncIoWatchdog {
 public:
  explicit SyncIoWatchdog(DWORD ms) {
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread_,
                         THREAD_TERMINATE, FALSE, 0)) {
      thread_ = nullptr;
      return;
    }
    if (!CreateTimerQueueTimer(&timer_, nullptr, &SyncIoWatchdog::fire, this, ms, kRecancelMs,
                               WT_EXECUTEDEFAULT)) {
      timer_ = nullptr;
    }
  }
  ~SyncIoWatchdog() {
    stop();
    if (thread_) CloseHandle(thread_);
  }
  // Disarms the watchdog (waiting for a callback in flight) and tells whether
  // it cancelled the I/O.
  bool stop() {
    if (timer_) DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
    timer_ = nullptr;
    return fired_ != 0;
  }
  SyncIoWatchdog(const SyncIoWatchdog&) = delete;
  SyncIoWatchdog& operator=(const SyncIoWatchdog&) = delete;

 private:
  static VOID CALLBACK fire(PVOID self, BOOLEAN) {
    auto* w = static_cast<SyncIoWatchdog*>(self);
    InterlockedExchange(&w->fired_, 1);
    CancelSynchronousIo(w->thread_);
  }
  HANDLE thread_ = nullptr;
  HANDLE timer_ = nullptr;
  volatile LONG fired_ = 0;
};

bool needsWatchdog(HANDLE h) { return GetFileType(h) != FILE_TYPE_DISK; }

enum class IoKind { Read, Write };

// Waits for an overlapped operation on `h` whose record is `ov`; after
// `boundMs` it is cancelled. Always returns with the operation finished, so
// the record may go out of scope.
IoResult finishOverlapped(HANDLE h, OVERLAPPED* ov, DWORD boundMs, IoKind kind) {
  IoResult r;
  HANDLE waitOn = ov->hEvent ? ov->hEvent : h;
  DWORD w = WaitForSingleObject(waitOn, boundMs);
  DWORD count = 0;
  if (w == WAIT_OBJECT_0) {
    SetLastError(0);
    if (GetOverlappedResult(h, ov, &count, FALSE)) {
      r.ok = true;
      r.count = count;
      return r;
    }
    DWORD err = GetLastError();
    if (err != ERROR_IO_INCOMPLETE) {
      r.error = static_cast<int>(err);
      r.count = err == ERROR_OPERATION_ABORTED ? 0 : count;
      return r;
    }
    // Signalled, yet still running: never leave with the record in use.
  }
  CancelIo(h);
  // The cancelled operation completes promptly; wait for it so that the
  // record and the buffer are no longer in use.
  BOOL done = GetOverlappedResult(h, ov, &count, TRUE);
  // A read that was cancelled may still have taken bytes from the device
  // (a serial port hands over what it has): they are in the buffer now and
  // nowhere else, so they are the result. A write cut short stays a failure.
  if (count > 0 && (done || kind == IoKind::Read)) {
    r.ok = true;
    r.count = count;
    return r;
  }
  r.timedOut = true;
  r.error = ERROR_TIMEOUT;
  return r;
}

class Win32Os final : public Os {
 public:
  Win32Os() { InitializeSRWLock(&lock_); }

  // ---- spooler -----------------------------------------------------------

  bool spoolerOpen(std::string_view name, Handle* out) override {
    std::string n(name);
    PRINTER_DEFAULTSA defaults{};
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = 0;
    HANDLE h = nullptr;
    if (!OpenPrinterA(&n[0], &h, &defaults)) return false;
    *out = fromHandle(h);
    return true;
  }

  bool spoolerStartDoc(Handle h, std::string_view docName) override {
    // With no output file named, a printer on the file port would make the
    // spooler ask the user for one. Nobody may be asked: refuse instead.
    if (portAsksUser(toHandle(h))) {
      SetLastError(ERROR_CANCELLED);
      return false;
    }
    std::string doc(docName);
    DOC_INFO_1A info{};
    info.pDocName = &doc[0];
    info.pOutputFile = nullptr;
    info.pDatatype = nullptr;
    return StartDocPrinterA(toHandle(h), 1, reinterpret_cast<LPBYTE>(&info)) != 0;
  }

  bool spoolerStartPage(Handle h) override { return StartPagePrinter(toHandle(h)) != 0; }

  IoResult spoolerWrite(Handle h, const void* data, std::size_t n) override {
    IoResult r;
    DWORD written = 0;
    r.ok = WritePrinter(toHandle(h), const_cast<void*>(data), clampDword(n), &written) != 0;
    r.count = written;
    if (!r.ok) r.error = static_cast<int>(GetLastError());
    return r;
  }

  bool spoolerEndPage(Handle h) override { return EndPagePrinter(toHandle(h)) != 0; }
  bool spoolerEndDoc(Handle h) override { return EndDocPrinter(toHandle(h)) != 0; }
  bool spoolerClose(Handle h) override { return ClosePrinter(toHandle(h)) != 0; }

  bool spoolerList(std::vector<SpoolerPrinter>* out) override {
    out->clear();
    DWORD needed = 0, returned = 0;
    // The first call asks for the size the list needs.
    if (EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &returned))
      return true;  // no printers
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return false;
    HGLOBAL mem = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, needed);
    if (!mem) return false;
    auto* buf = static_cast<BYTE*>(mem);
    bool ok = EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 5, buf, needed, &needed, &returned) != 0;
    if (ok) {
      auto* records = reinterpret_cast<PRINTER_INFO_5A*>(buf);
      for (DWORD i = 0; i < returned; ++i) {
        SpoolerPrinter p;
        if (records[i].pPrinterName) p.name = records[i].pPrinterName;
        if (records[i].pPortName) p.port = records[i].pPortName;
        out->push_back(std::move(p));
      }
    }
    GlobalFree(mem);
    return ok;
  }

  // ---- files and devices ---------------------------------------------------

  bool isSymbolicLink(std::string_view path) override {
    std::string p(path);
    if (p.find('\0') != std::string::npos) return false;
    DWORD attributes = GetFileAttributesA(p.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }

  Handle openFile(std::string_view path, const OpenMode& mode) override {
    std::string p(path);
    if (p.find('\0') != std::string::npos) return kInvalidHandle;
    DWORD access = 0;
    if (mode.access & kAccessRead) access |= GENERIC_READ;
    if (mode.access & kAccessWrite) access |= GENERIC_WRITE;
    DWORD share = 0;
    if (mode.share & kShareRead) share |= FILE_SHARE_READ;
    if (mode.share & kShareWrite) share |= FILE_SHARE_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode.disposition) {
      case Disposition::OpenExisting: disposition = OPEN_EXISTING; break;
      case Disposition::CreateAlways: disposition = CREATE_ALWAYS; break;
      case Disposition::OpenAlways: disposition = OPEN_ALWAYS; break;
      case Disposition::OpenTerminal: disposition = OPEN_EXISTING; break;
    }
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (mode.overlapped ? FILE_FLAG_OVERLAPPED : 0);
    QuietErrors quiet;
    // A reparse point (a symbolic link, a junction) is refused before it
    // could be followed, and checked again on the handle, opened on the
    // reparse point itself, so that one made in between is refused too.
    if (mode.noFollow) {
      if (isSymbolicLink(p)) {
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return kInvalidHandle;
      }
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE h = CreateFileA(p.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return kInvalidHandle;
    if (mode.noFollow) {
      BY_HANDLE_FILE_INFORMATION info{};
      if (GetFileInformationByHandle(h, &info) &&
          (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(h);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return kInvalidHandle;
      }
    }
    if (mode.disposition == Disposition::OpenTerminal) {
      // Only a communications device: a file or any other device opened
      // (never created or changed) is closed again at once.
      DCB dcb{};
      dcb.DCBlength = sizeof dcb;
      if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
        CloseHandle(h);
        SetLastError(ERROR_INVALID_FUNCTION);
        return kInvalidHandle;
      }
    }
    if (mode.overlapped) {
      AcquireSRWLockExclusive(&lock_);
      overlappedHandles_.insert(fromHandle(h));
      ReleaseSRWLockExclusive(&lock_);
    }
    return fromHandle(h);
  }

  IoResult writeFile(Handle h, const void* data, std::size_t n) override {
    // A handle opened for overlapped I/O must not be written without a
    // record: take the event-less overlapped form.
    if (isOverlapped(h)) return writeOverlapped(h, data, n, kInvalidEvent);
    QuietErrors quiet;
    IoResult r;
    HANDLE fh = toHandle(h);
    DWORD written = 0;
    if (needsWatchdog(fh)) {
      SyncIoWatchdog dog(writeBound(n));
      r.ok = WriteFile(fh, data, clampDword(n), &written, nullptr) != 0;
      if (!r.ok) r.error = static_cast<int>(GetLastError());
      bool cancelled = dog.stop();
      if (!r.ok) r.timedOut = cancelled;
    } else {
      r.ok = WriteFile(fh, data, clampDword(n), &written, nullptr) != 0;
      if (!r.ok) r.error = static_cast<int>(GetLastError());
    }
    r.count = written;
    return r;
  }

  IoResult writeOverlapped(Handle h, const void* data, std::size_t n, Event event) override {
    HANDLE fh = toHandle(h);
    OVERLAPPED ov{};
    ov.hEvent = event == kInvalidEvent ? nullptr : reinterpret_cast<HANDLE>(event);
    DWORD written = 0;
    if (WriteFile(fh, data, clampDword(n), &written, &ov)) {
      IoResult r;
      r.ok = true;
      r.count = written;
      return r;
    }
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      IoResult r;
      r.error = static_cast<int>(err);
      return r;
    }
    return finishOverlapped(fh, &ov, writeBound(n), IoKind::Write);
  }

  IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) override {
    HANDLE fh = toHandle(h);
    DWORD bound = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    if (wait == ReadWait::Blocking && bound == 0) bound = kDefaultReadBoundMs;
    QuietErrors quiet;
    if (isOverlapped(h)) {
      // The read has its own event, so that a write's completion on the same
      // handle cannot be taken for this read's.
      OVERLAPPED ov{};
      ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      if (!ov.hEvent) {
        IoResult r;
        r.error = static_cast<int>(GetLastError());
        return r;
      }
      IoResult r;
      DWORD got = 0;
      if (ReadFile(fh, buf, clampDword(cap), &got, &ov)) {
        r.ok = true;
        r.count = got;
      } else if (GetLastError() == ERROR_IO_PENDING) {
        r = finishOverlapped(fh, &ov, wait == ReadWait::Arrived ? 0 : bound, IoKind::Read);
      } else {
        r.error = static_cast<int>(GetLastError());
      }
      CloseHandle(ov.hEvent);
      return r;
    }
    IoResult r;
    DWORD got = 0;
    if (needsWatchdog(fh)) {
      SyncIoWatchdog dog(std::max<DWORD>(bound, 1));
      r.ok = ReadFile(fh, buf, clampDword(cap), &got, nullptr) != 0;
      if (!r.ok) r.error = static_cast<int>(GetLastError());
      bool cancelled = dog.stop();
      if (!r.ok) r.timedOut = cancelled;
    } else {
      r.ok = ReadFile(fh, buf, clampDword(cap), &got, nullptr) != 0;
      if (!r.ok) r.error = static_cast<int>(GetLastError());
    }
    r.count = got;
    return r;
  }

  std::int64_t fileSize(Handle h) override {
    DWORD high = 0;
    SetLastError(0);
    DWORD low = GetFileSize(toHandle(h), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  }

  bool closeHandle(Handle h) override {
    AcquireSRWLockExclusive(&lock_);
    overlappedHandles_.erase(h);
    ReleaseSRWLockExclusive(&lock_);
    return CloseHandle(toHandle(h)) != 0;
  }

  Event createEvent() override {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return e ? reinterpret_cast<Event>(e) : kInvalidEvent;
  }

  void closeEvent(Event e) override {
    if (e != kInvalidEvent) CloseHandle(reinterpret_cast<HANDLE>(e));
  }

  // ---- serial ----------------------------------------------------------------

  bool serialGetState(Handle h, SerialSettings* out) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(toHandle(h), &dcb)) return false;
    out->baudRate = dcb.BaudRate;
    out->byteSize = dcb.ByteSize;
    out->parity = dcb.Parity;
    out->stopBits = dcb.StopBits;
    out->parityCheck = dcb.fParity != 0;
    out->dsrSensitivity = dcb.fDsrSensitivity != 0;
    return true;
  }

  bool serialSetState(Handle h, const SerialSettings& s) override {
    // Every field the settings do not name keeps what the port has.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(toHandle(h), &dcb)) {
      dcb = DCB{};
      dcb.DCBlength = sizeof dcb;
      dcb.fBinary = TRUE;
    }
    dcb.BaudRate = s.baudRate;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.fParity = s.parityCheck ? 1 : 0;
    dcb.fDsrSensitivity = s.dsrSensitivity ? 1 : 0;
    return SetCommState(toHandle(h), &dcb) != 0;
  }

  bool serialSetTimeouts(Handle h, const SerialTimeouts& t) override {
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = t.readInterval;
    ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    ct.ReadTotalTimeoutConstant = t.readTotalConstant;
    ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    ct.WriteTotalTimeoutConstant = t.writeTotalConstant;
    return SetCommTimeouts(toHandle(h), &ct) != 0;
  }

  bool serialSetMask(Handle h, unsigned mask) override {
    return SetCommMask(toHandle(h), mask) != 0;
  }

  bool serialPurge(Handle h, unsigned flags) override {
    DWORD f = 0;
    if (flags & kPurgeTxAbort) f |= PURGE_TXABORT;
    if (flags & kPurgeRxAbort) f |= PURGE_RXABORT;
    if (flags & kPurgeTxClear) f |= PURGE_TXCLEAR;
    if (flags & kPurgeRxClear) f |= PURGE_RXCLEAR;
    return PurgeComm(toHandle(h), f) != 0;
  }

  bool serialEscape(Handle h, SerialLine line) override {
    return EscapeCommFunction(toHandle(h), line == SerialLine::SetDtr ? SETDTR : SETRTS) != 0;
  }

  // ---- USB -------------------------------------------------------------------

  bool usbInterfaces(std::vector<std::string>* paths) override {
    paths->clear();
    return forEachUsbInterface([paths](const std::string& path, HDEVINFO, SP_DEVINFO_DATA*) {
      paths->push_back(path);
      return true;
    });
  }

  // A USB device's instance id ends in its serial number ("USB\VID_..&PID_..\SERIAL");
  // a device without one (or with characters an id cannot hold) gets an id
  // the system makes up, which holds '&'. The interface path carries the
  // same part, though not always in its letters' case, so it is the fallback.
  bool usbSerialNumber(std::string_view path, std::string* serial) override {
    if (!serial) return false;
    serial->clear();
    if (path.empty()) return false;
    std::string id;
    bool listed = false;
    forEachUsbInterface([&](const std::string& p, HDEVINFO info, SP_DEVINFO_DATA* device) {
      if (p.size() != path.size() || _strnicmp(p.c_str(), path.data(), p.size()) != 0)
        return true;
      listed = true;
      char buf[512];
      DWORD needed = 0;
      if (device && SetupDiGetDeviceInstanceIdA(info, device, buf, sizeof buf, &needed)) {
        buf[sizeof buf - 1] = 0;
        id = buf;
        auto slash = id.rfind('\\');
        id = slash == std::string::npos ? std::string() : id.substr(slash + 1);
      }
      return false;
    });
    if (!listed) return false;
    if (id.empty()) {
      // \\?\usb#vid_vvvv&pid_pppp#PART#{class}
      std::string p(path);
      auto first = p.find('#');
      auto second = first == std::string::npos ? first : p.find('#', first + 1);
      auto third = second == std::string::npos ? second : p.find('#', second + 1);
      if (third != std::string::npos) id = p.substr(second + 1, third - second - 1);
    }
    if (id.empty() || id.find('&') != std::string::npos) return false;
    for (char& c : id) {
      auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) c = '?';
    }
    *serial = id;
    return true;
  }

  // ---- sockets ---------------------------------------------------------------

  void netStartup() override {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  void netCleanup() override { WSACleanup(); }

  Socket tcpSocket() override { return newSocket(SOCK_STREAM, IPPROTO_TCP); }

  NetResult tcpConnect(Socket s, std::uint32_t addr, std::uint16_t port) override {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(addr);
    if (::connect(toSocket(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR)
      return netFailure();
    return NetResult{0, kNetOk};
  }

  bool resolveIPv4(const std::string& host, std::uint32_t* hostOrder) override {
    if (ipv4FromText(host.c_str(), hostOrder)) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
      setLastOsError("find the IPv4 address of " + host, rc);
      if (res) freeaddrinfo(res);
      return false;
    }
    *hostOrder = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(res);
    return true;
  }

  bool shutdownSend(Socket s) override { return ::shutdown(toSocket(s), SD_SEND) == 0; }

  bool isBusyError(int osError) override {
    return osError == ERROR_SHARING_VIOLATION || osError == ERROR_BUSY;
  }

  void setSocketTimeouts(Socket s, int sendMs, int recvMs) override {
    DWORD snd = static_cast<DWORD>(std::max(sendMs, 0));
    DWORD rcv = static_cast<DWORD>(std::max(recvMs, 0));
    setsockopt(toSocket(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&snd), sizeof snd);
    setsockopt(toSocket(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&rcv), sizeof rcv);
  }

  void setNoDelay(Socket s) override {
    BOOL on = TRUE;
    setsockopt(toSocket(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  }

  NetResult send(Socket s, const void* data, std::size_t n, bool) override {
    // Windows has no "more follows" flag and raises no signal on a closed peer.
    int r = ::send(toSocket(s), static_cast<const char*>(data), clampInt(n), 0);
    if (r == SOCKET_ERROR) return netFailure();
    return NetResult{r, kNetOk};
  }

  NetResult recv(Socket s, void* buf, std::size_t cap) override {
    int r = ::recv(toSocket(s), static_cast<char*>(buf), clampInt(cap), 0);
    if (r == SOCKET_ERROR) return netFailure();
    return NetResult{r, kNetOk};
  }

  void closeSocket(Socket s) override {
    if (s != kInvalidSocket) closesocket(toSocket(s));
  }

  Socket udpSocket() override { return newSocket(SOCK_DGRAM, IPPROTO_UDP); }

  void setBroadcast(Socket s) override {
    BOOL on = TRUE;
    setsockopt(toSocket(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
  }

  bool bindAny(Socket s, std::uint16_t port) override {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(toSocket(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != SOCKET_ERROR;
  }

  NetResult sendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr,
                   std::uint16_t port) override {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(addr);
    int r = ::sendto(toSocket(s), static_cast<const char*>(data), clampInt(n), 0,
                     reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (r == SOCKET_ERROR) return netFailure();
    return NetResult{r, kNetOk};
  }

  NetResult recvFrom(Socket s, void* buf, std::size_t cap, int timeoutMs) override {
    return recvFromSender(s, buf, cap, timeoutMs, nullptr);
  }

  NetResult recvFromSender(Socket s, void* buf, std::size_t cap, int timeoutMs,
                           Sender* sender) override {
    if (sender) *sender = Sender{};
    fd_set set;
    FD_ZERO(&set);
    FD_SET(toSocket(s), &set);
    timeval tv{};
    int ms = std::max(timeoutMs, 0);
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    int ready = ::select(0, &set, nullptr, nullptr, &tv);
    if (ready == SOCKET_ERROR) return netFailure();
    if (ready == 0) return NetResult{-1, kNetTimedOut};
    sockaddr_in from{};
    int fromLen = sizeof from;
    int r = ::recvfrom(toSocket(s), static_cast<char*>(buf), clampInt(cap), 0,
                       reinterpret_cast<sockaddr*>(&from), &fromLen);
    // A datagram longer than the buffer fills it and its rest is dropped;
    // Windows reports that as an error, but what fits has arrived.
    bool cut = r == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE;
    if (r == SOCKET_ERROR && !cut) return netFailure();
    if (sender && from.sin_family == AF_INET) {
      sender->addr = ntohl(from.sin_addr.s_addr);
      sender->port = ntohs(from.sin_port);
    }
    return NetResult{cut ? clampInt(cap) : r, kNetOk};
  }

  // ---- host-font text --------------------------------------------------------

  bool textExtent(const FontSpec& font, const HostText& text, int* cx, int* cy) override {
    // Measuring needs a context with the font selected; a one-pixel canvas
    // serves.
    Canvas c(font, 1, 1);
    if (!c.ready()) return false;
    SIZE size{};
    BOOL ok;
    if (text.wide) {
      ok = GetTextExtentPoint32W(c.dc(), reinterpret_cast<LPCWSTR>(text.utf16.data()),
                                 clampInt(text.utf16.size()), &size);
    } else {
      ok = GetTextExtentPoint32A(c.dc(), text.bytes.data(), clampInt(text.bytes.size()), &size);
    }
    if (!ok) return false;
    *cx = size.cx;
    *cy = size.cy;
    return true;
  }

  std::string fontFaceUsed(const FontSpec& font) override {
    Canvas c(font, 1, 1);
    if (!c.ready()) return {};
    char face[LF_FACESIZE] = {};
    int n = GetTextFaceA(c.dc(), LF_FACESIZE, face);
    return n > 0 ? std::string(face) : std::string();
  }

  bool drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                BitBlock* out) override {
    out->widthBytes = w > 0 ? (w + 7) / 8 : 0;
    out->rows = h > 0 ? h : 0;
    out->bits.clear();
    if (w > kCanvasWidth || h > kCanvasHeight) return false;
    if (out->widthBytes == 0 || out->rows == 0) return true;
    // The block is drawn on a canvas of whole bytes, so the bits right of w
    // in the last byte are those the text leaves there, as on a full canvas.
    int canvasWidth = out->widthBytes * 8;
    Canvas c(font, canvasWidth, out->rows);
    if (!c.ready()) return false;
    SetTextColor(c.dc(), RGB(0, 0, 0));
    SetBkColor(c.dc(), RGB(255, 255, 255));
    RECT all{0, 0, canvasWidth, out->rows};
    FillRect(c.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    BOOL drawn;
    if (text.wide) {
      drawn = TextOutW(c.dc(), x0, y0, reinterpret_cast<LPCWSTR>(text.utf16.data()),
                       clampInt(text.utf16.size()));
    } else {
      drawn = TextOutA(c.dc(), x0, y0, text.bytes.data(), clampInt(text.bytes.size()));
    }
    if (!drawn) return false;
    // GetBitmapBits hands back rows padded to 16-bit words.
    std::size_t stride = static_cast<std::size_t>((canvasWidth + 15) / 16) * 2;
    std::vector<std::uint8_t> raw(stride * static_cast<std::size_t>(out->rows));
    LONG got = GetBitmapBits(c.bitmap(), static_cast<LONG>(raw.size()), raw.data());
    if (got != static_cast<LONG>(raw.size())) return false;
    std::size_t wb = static_cast<std::size_t>(out->widthBytes);
    out->bits.resize(wb * static_cast<std::size_t>(out->rows));
    for (int r = 0; r < out->rows; ++r)
      std::memcpy(&out->bits[wb * static_cast<std::size_t>(r)], &raw[stride * static_cast<std::size_t>(r)], wb);
    return true;
  }

  // ---- text, messages, time ----------------------------------------------------

  std::u16string ansiToUtf16(std::string_view bytes) override {
    if (bytes.empty()) return {};
    int len = clampInt(bytes.size());
    int need = MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, nullptr, 0);
    if (need <= 0) return {};
    std::u16string out(static_cast<std::size_t>(need), u'\0');
    int got = MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, reinterpret_cast<LPWSTR>(&out[0]), need);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
  }

  void message(std::string_view text, std::string_view caption, MessageIcon icon) override {
    deliverMessage(text, caption, icon);
  }

  // Sockets report through WSAGetLastError, which Winsock keeps in the same
  // per-thread slot as GetLastError.
  int lastOsError() override { return static_cast<int>(GetLastError()); }

  std::string osErrorText(int code) override {
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(code), 0,
                             reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    // The system's sentences end with a full stop and a line end.
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' ||
                            out.back() == '.'))
      out.pop_back();
    return out.empty() ? "error " + std::to_string(code) : out;
  }

  void sleepMs(int ms) override { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

  std::uint64_t nowMs() override { return GetTickCount64(); }

  // ---- strings handed to the application --------------------------------------

  // OLE Automation strings: the same layout as the default (a 32-bit byte
  // length in front, NUL after), from the allocator applications release
  // them with.
  char* allocByteString(const char* bytes, std::size_t n) override {
    if (n > UINT_MAX - 8) return nullptr;  // headroom for the prefix and the NUL
    if (n > 0 && !bytes) return nullptr;   // SysAllocStringByteLen would leave them undefined
    BSTR s = SysAllocStringByteLen(n > 0 ? bytes : "", static_cast<UINT>(n));
    return reinterpret_cast<char*>(s);
  }

  void freeByteString(char* s) override { SysFreeString(reinterpret_cast<BSTR>(s)); }

  std::uint32_t byteStringLength(const char* s) override {
    return s ? SysStringByteLen(reinterpret_cast<BSTR>(const_cast<char*>(s))) : 0;
  }

 private:
  // Calls f(path, info, device) for each present USB device interface, in
  // enumeration order, until f returns false; an interface whose details
  // cannot be read has an empty path and no device. False: no device list.
  template <typename F>
  static bool forEachUsbInterface(F&& f) {
    HDEVINFO info = SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) return false;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (!SetupDiEnumDeviceInterfaces(info, nullptr, &kUsbDeviceInterface, index, &data)) break;
      DWORD needed = 0;
      SetupDiGetDeviceInterfaceDetailA(info, &data, nullptr, 0, &needed, nullptr);
      std::string path;
      bool haveDevice = false;
      if (needed >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        std::vector<BYTE> buf(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buf.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(info, &data, detail, needed, nullptr, &device)) {
          std::size_t room = needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
          path.assign(detail->DevicePath, strnlen(detail->DevicePath, room));
          haveDevice = true;
        }
      }
      if (!f(path, info, haveDevice ? &device : nullptr)) break;
    }
    SetupDiDestroyDeviceInfoList(info);
    return true;
  }

  // A memory context with a one-bit canvas and the font selected; releases
  // them in the order the graphics interface wants, and says so when a
  // release fails.
  class Canvas {
   public:
    Canvas(const FontSpec& spec, int w, int h) {
      LOGFONTA lf{};
      lf.lfHeight = spec.height;
      lf.lfWidth = 0;
      lf.lfEscapement = spec.escapementTenths;
      lf.lfOrientation = 0;
      lf.lfWeight = spec.weight;
      lf.lfItalic = spec.italic ? 1 : 0;
      lf.lfUnderline = spec.underline ? 1 : 0;
      lf.lfStrikeOut = 0;
      lf.lfCharSet = DEFAULT_CHARSET;
      lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
      lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
      lf.lfQuality = DRAFT_QUALITY;
      lf.lfPitchAndFamily = 0x1A;
      std::size_t n = std::min<std::size_t>(spec.faceName.size(), LF_FACESIZE - 1);
      std::memcpy(lf.lfFaceName, spec.faceName.data(), n);
      lf.lfFaceName[n] = '\0';

      dc_ = CreateCompatibleDC(nullptr);
      if (!dc_) return;
      bitmap_ = CreateBitmap(w, h, 1, 1, nullptr);
      if (!bitmap_) return;
      oldBitmap_ = SelectObject(dc_, bitmap_);
      font_ = CreateFontIndirectA(&lf);
      if (!font_) return;
      oldFont_ = SelectObject(dc_, font_);
      ready_ = oldBitmap_ != nullptr && oldFont_ != nullptr;
    }
    ~Canvas() {
      if (font_) {
        if (oldFont_) SelectObject(dc_, oldFont_);
        if (!DeleteObject(font_)) deliverMessage("Select hFont=0", "", MessageIcon::None);
      }
      if (dc_) {
        if (oldBitmap_) SelectObject(dc_, oldBitmap_);
        if (!DeleteDC(dc_)) deliverMessage("hdcMem=0", "", MessageIcon::None);
      }
      if (bitmap_ && !DeleteObject(bitmap_)) deliverMessage("hBitmap=0", "", MessageIcon::None);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    bool ready() const { return ready_; }
    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }

   private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HFONT font_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
    bool ready_ = false;
  };

  bool isOverlapped(Handle h) {
    AcquireSRWLockShared(&lock_);
    bool found = overlappedHandles_.count(h) != 0;
    ReleaseSRWLockShared(&lock_);
    return found;
  }

  SRWLOCK lock_;
  std::set<Handle> overlappedHandles_;
};

}  // namespace

Os& platformOs() {
  static Win32Os instance;
  return instance;
}

}  // namespace paloma
