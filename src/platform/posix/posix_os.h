// The Linux backend of the OS seam.
//
// The spooler is CUPS, files and ports are file descriptors, serial ports are
// termios terminals, USB printers are reached through libusb, sockets are BSD
// sockets. Each family has a file of its own: posix_spooler.cc, posix_files.cc
// (files, devices and the mapping of port names), posix_serial.cc,
// posix_usb.cc (transfers and enumeration), posix_net.cc, and posix_text.cc
// for the host-font text operations (textExtent, drawText) and the 8-bit text
// conversion (ansiToUtf16). posix_os.cc keeps the clock, the resource table,
// messages and the backend instance; what the files share is declared in
// posix_internal.h.
//
// Handles are never-reused integers (a monotonic counter) that index a table
// of open resources, so closing a handle twice can never close something
// unrelated. Sockets are handed out from the same counter.
//
// Names accepted by openFile:
//   "LPT1".."LPT4"             -> /dev/lp0../dev/lp3
//   "COM<n>", "\\.\COM<n>"     -> /dev/ttyS<n-1>  (n >= 1)
//   "/dev/..."                 -> the device as it is (never created)
//   "\\?\usb#vid_vvvv&pid_pppp#<location>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
//                              -> the libusb device at that bus location
//   anything else              -> a regular file
// A directory never opens.
// With Disposition::OpenTerminal only a character device that is a terminal
// opens; a regular file is looked at, never opened.
// A terminal is put into raw mode when opened (no echo, no line editing, no
// output translation), keeping its speed, character size, parity and stop
// bits, so that bytes pass unchanged as on a serial port.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace paloma {

class PosixOs : public Os {
 public:
  bool spoolerOpen(std::string_view name, Handle* out) override;
  bool spoolerStartDoc(Handle h, std::string_view docName) override;
  bool spoolerStartPage(Handle h) override;
  IoResult spoolerWrite(Handle h, const void* data, std::size_t n) override;
  bool spoolerEndPage(Handle h) override;
  bool spoolerEndDoc(Handle h) override;
  bool spoolerClose(Handle h) override;
  bool spoolerList(std::vector<SpoolerPrinter>* out) override;
  ServerLookup spoolerPrinterOnServer(std::string_view port, SpoolerPrinter* out) override;

  Handle openFile(std::string_view path, const OpenMode& mode) override;
  bool isSymbolicLink(std::string_view path) override;
  std::string deviceFor(std::string_view path) override;
  IoResult writeFile(Handle h, const void* data, std::size_t n) override;
  IoResult writeOverlapped(Handle h, const void* data, std::size_t n, Event event) override;
  IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) override;
  std::int64_t fileSize(Handle h) override;
  FileCopyResult copyFile(Handle file, std::uint64_t offset, std::size_t n, Handle to,
                          Socket sock) override;
  bool closeHandle(Handle h) override;

  Event createEvent() override;
  void closeEvent(Event e) override;

  bool serialGetState(Handle h, SerialSettings* out) override;
  bool serialSetState(Handle h, const SerialSettings& s) override;
  bool serialSetTimeouts(Handle h, const SerialTimeouts& t) override;
  bool serialSetMask(Handle h, unsigned mask) override;
  bool serialPurge(Handle h, unsigned flags) override;
  bool serialEscape(Handle h, SerialLine line) override;

  bool usbInterfaces(std::vector<std::string>* paths) override;
  bool usbSerialNumber(std::string_view path, std::string* serial) override;

  void netStartup() override;
  void netCleanup() override;
  Socket tcpSocket() override;
  NetResult tcpConnect(Socket s, std::uint32_t addr, std::uint16_t port) override;
  NetResult tcpConnectWithin(Socket s, std::uint32_t addr, std::uint16_t port,
                             int timeoutMs) override;
  bool resolveIPv4(const std::string& host, std::uint32_t* hostOrder) override;
  bool shutdownSend(Socket s) override;
  long unsentBytes(Socket s) override;
  bool isBusyError(int osError) override;
  void setSocketTimeouts(Socket s, int sendMs, int recvMs) override;
  void setNoDelay(Socket s) override;
  NetResult send(Socket s, const void* data, std::size_t n, bool more) override;
  NetResult recv(Socket s, void* buf, std::size_t cap) override;
  void closeSocket(Socket s) override;
  Socket udpSocket() override;
  void setBroadcast(Socket s) override;
  bool bindAny(Socket s, std::uint16_t port) override;
  NetResult sendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr,
                   std::uint16_t port) override;
  NetResult recvFrom(Socket s, void* buf, std::size_t cap, int timeoutMs) override;
  NetResult recvFromSender(Socket s, void* buf, std::size_t cap, int timeoutMs,
                           Sender* sender) override;

  // Defined in posix_text.cc.
  bool textExtent(const FontSpec& font, const HostText& text, int* cx, int* cy) override;
  bool drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                BitBlock* out) override;
  std::string fontFaceUsed(const FontSpec& font) override;
  int missingGlyphs(const FontSpec& font, const HostText& text) override;
  std::u16string ansiToUtf16(std::string_view bytes) override;

  void message(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void sleepMs(int ms) override;
  std::uint64_t nowMs() override;
};

namespace posix {

// Where a name given to openFile leads.
struct PortTarget {
  enum Kind { RegularFile, Device, Usb, Invalid };
  Kind kind = Invalid;
  std::string path;  // the file or device path; the USB interface path for Usb
};
PortTarget mapPortName(std::string_view name);

// The bus location of a USB device: "b" and the bus number in three digits,
// "p" and the port numbers from the root joined by "." ("b001p1.4"); a root
// hub, which has no port numbers, is "p0".
std::string usbLocation(std::uint8_t bus, const std::uint8_t* ports, int portCount);

// "\\?\usb#vid_vvvv&pid_pppp#<location>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
// hex digits in lower case.
std::string usbInterfacePath(std::uint16_t vid, std::uint16_t pid, std::string_view location);

// The reverse of usbInterfacePath; false when the text is not such a path.
bool parseUsbInterfacePath(std::string_view path, std::uint16_t* vid, std::uint16_t* pid,
                           std::string* location);

// The text of a USB string descriptor (length, type 3, UTF-16LE units) as
// UTF-8, control characters written as '?'. Empty when the bytes are no
// string descriptor; a length byte beyond the bytes read counts what was read.
std::string usbStringFromDescriptor(const std::uint8_t* d, std::size_t n);

// How many bytes a USB bulk IN read of a buffer of `cap` bytes asks for:
// whole packets, at least one, at most 1 MiB.
std::size_t usbReadLength(std::size_t cap, int packetSize);

// The line settings a terminal's attributes describe. The rate is that of
// the output speed when it is one of the standard termios speeds, else 0 (a
// hung-up line, or a rate set outside the standard speeds). Character size 5
// to 8; parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 2 two; parity checking from INPCK. DSR sensitivity
// has no termios equivalent and reads false.
SerialSettings serialSettingsFromTermios(const termios& t);

// Writes rate, character size, parity, stop bits and parity checking into
// `t`, leaving every other flag as it is (flow control, raw mode, modem
// control, the control characters). A rate that is a standard termios speed
// sets both speeds; 0, when `t` reads as 0 too (serialSettingsFromTermios),
// leaves its speed bits untouched, so a line at a rate outside the standard
// speeds keeps it exactly. False, `t` unchanged, for any other rate, a
// character size outside 5 to 8, a parity above 4 or stop bits other than 0
// and 2 (one and a half has no termios equivalent).
bool applySerialSettings(const SerialSettings& s, termios* t);

// UTF-16 to UTF-8, as text reaches Pango: a NUL unit ends the text, an
// unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view s);

// The write time-out of a device write of n bytes: 10 ms a byte and 100 ms,
// at least 1 s, at most 30 s.
int deviceWriteTimeoutMs(std::size_t n);

}  // namespace posix
}  // namespace paloma
