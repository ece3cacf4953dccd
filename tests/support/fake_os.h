// A recording stand-in for the OS seam, on virtual time.
//
// Every observable call lands in a journal. Writes are recorded per target
// (a file or device path, "spooler:NAME", or a socket's "HOST:PORT"), one
// entry per call, so "text; then CR LF" shows as two entries. Reads and
// receives are served from scripted queues; time only moves when the code
// sleeps or a bounded wait runs out.
//
// Tests that need a behaviour this class lacks can subclass it: every
// operation is virtual.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace paloma::test {

struct JournalEntry {
  std::string op;      // "write", "open", "close", "sleep", "message", "read", "recv", ...
  std::string target;  // path, "spooler:NAME", "HOST:PORT", or "" for global calls
  std::string data;    // bytes written, message text, doc name
  std::string detail;  // write kind ("spooler", "file", "overlapped", "overlapped-noevent",
                       // "send", "send-more", "sendto"), message caption, open mode
  long value = 0;      // sleep ms, read capacity, ...
};

class FakeOs : public Os {
 public:
  FakeOs();
  ~FakeOs() override;

  // ---- scripting ----
  // A path that openFile may open (with OpenExisting) and its content for reads.
  void addDevice(const std::string& path, const std::string& content = "");
  void addPrinter(const std::string& name, const std::string& port, bool openable = true);
  void setUsbPaths(std::vector<std::string> paths, bool listOk = true);
  // The serial number usbSerialNumber reports for a listed path; a path
  // given none reports none.
  void setUsbSerial(const std::string& path, const std::string& serial);
  void addTcpPeer(const std::string& hostPort);  // "127.0.0.1:9100" accepts connects
  // Queue bytes that the next reads on a path (readFile) return, one chunk per read.
  void queueRead(const std::string& target, const std::string& chunk);
  // Queue a recv result on a connected "HOST:PORT": bytes, or a close (0), or an error.
  void queueRecv(const std::string& target, const std::string& chunk);
  void queueRecvClosed(const std::string& target);
  void queueRecvError(const std::string& target, int netError);
  void queueDatagram(const std::string& chunk);
  // A datagram from the given sender (IPv4 address in host byte order).
  void queueDatagramFrom(std::uint32_t addr, std::uint16_t port, const std::string& chunk);
  // Each write call on the target accepts at most `max` bytes.
  void limitWrite(const std::string& target, std::size_t max);
  // Write calls on the target fail, starting with the (n+1)-th.
  void failWritesAfter(const std::string& target, int n);
  // Only the (n+1)-th write call on the target fails; the others go through.
  void failOneWrite(const std::string& target, int n) { writeFailOnly_[target] = n; }
  // Sockets made and not closed again.
  int openSockets() const;
  void failEvents(bool fail) { eventsFail_ = fail; }
  void failSocket(bool fail) { socketFails_ = fail; }
  void failBind(bool fail) { bindFails_ = fail; }
  void setTextExtent(int cx, int cy) { extentCx_ = cx; extentCy_ = cy; }
  // How many characters of any text the fake's fonts lack (default 0).
  void setMissingGlyphs(int n) { missingGlyphs_ = n; }
  // Answers spoolerPrinterOnServer; none: every port is a local one.
  std::function<ServerLookup(std::string_view, SpoolerPrinter*)> serverLookupHook;
  // Replaces the drawing; the default draws nothing (all background).
  std::function<bool(const FontSpec&, const HostText&, int, int, int, int, BitBlock*)> drawHook;

  // ---- inspection ----
  const std::vector<JournalEntry>& journal() const { return journal_; }
  std::vector<JournalEntry> entries(const std::string& op) const;
  // The write calls, in order, optionally only those on one target.
  std::vector<JournalEntry> writes(const std::string& target = "") const;
  // All bytes written to a target, joined.
  std::string wire(const std::string& target) const;
  std::vector<std::string> messages() const;  // "caption|text"
  std::vector<long> sleeps() const;
  std::uint64_t now() const { return clock_; }
  std::string targetOf(Handle h) const;
  std::string socketTarget(Socket s) const;
  const SerialSettings& serialStateOf(const std::string& path);
  bool isOpen(const std::string& target) const;  // a handle or socket on it is open
  void clearJournal() { journal_.clear(); }

  // ---- Os ----
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
  IoResult writeFile(Handle h, const void* data, std::size_t n) override;
  IoResult writeOverlapped(Handle h, const void* data, std::size_t n, Event event) override;
  IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) override;
  std::int64_t fileSize(Handle h) override;
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
                           Sender* from) override;
  bool textExtent(const FontSpec& font, const HostText& text, int* cx, int* cy) override;
  bool drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                BitBlock* out) override;
  int missingGlyphs(const FontSpec&, const HostText&) override { return missingGlyphs_; }
  std::u16string ansiToUtf16(std::string_view bytes) override;
  // The OS error of the fake's last failed operation: ENOENT for a path that
  // does not open, ECONNREFUSED for a refused connect, EIO otherwise.
  int lastOsError() override { return lastOsError_; }
  void message(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void sleepMs(int ms) override;
  std::uint64_t nowMs() override;

 protected:
  struct HandleInfo {
    std::string target;
    bool open = true;
    bool spooler = false;
    std::size_t readOffset = 0;
  };
  struct SocketInfo {
    std::string target;  // "HOST:PORT" once connected, "tcp#N"/"udp#N" before
    bool open = true;
    bool udp = false;
    int recvTimeoutMs = 0;
  };
  IoResult recordWrite(const std::string& target, const char* kind, const void* data,
                       std::size_t n);
  void log(std::string op, std::string target = "", std::string data = "",
           std::string detail = "", long value = 0);

  std::vector<JournalEntry> journal_;
  std::map<Handle, HandleInfo> handles_;
  std::map<Socket, SocketInfo> sockets_;
  std::map<std::string, std::string> devices_;  // path -> content
  std::vector<std::pair<SpoolerPrinter, bool>> printers_;
  std::vector<std::string> usbPaths_;
  bool usbListOk_ = true;
  std::map<std::string, std::string> usbSerials_;
  std::set<std::string> tcpPeers_;
  std::map<std::string, std::deque<std::string>> reads_;
  struct Recv { int kind; std::string bytes; int error; };  // 0 bytes, 1 closed, 2 error
  std::map<std::string, std::deque<Recv>> recvs_;
  struct Datagram {
    Sender from;
    std::string bytes;
  };
  std::deque<Datagram> datagrams_;
  std::map<std::string, std::size_t> writeLimit_;
  std::map<std::string, int> writeFailAfter_;
  std::map<std::string, int> writeCalls_;
  std::map<std::string, int> writeFailOnly_;
  std::map<std::string, SerialSettings> serial_;
  bool eventsFail_ = false;
  int lastOsError_ = 0;
  bool socketFails_ = false;
  bool bindFails_ = false;
  int extentCx_ = 0, extentCy_ = 0;
  int missingGlyphs_ = 0;
  std::uint64_t clock_ = 0;
  Handle nextHandle_ = 100;
  Socket nextSocket_ = 500;
  Event nextEvent_ = 1;
};

// Installs a FakeOs for the test's lifetime and resets the library's state.
class FakeOsScope {
 public:
  FakeOsScope();
  ~FakeOsScope();
  FakeOs& fake() { return fake_; }

 private:
  FakeOs fake_;
};

// Resets every process-wide record of the library (connection, replies,
// slots): the state the library has when it is loaded. Each subsystem
// registers its reset here.
void resetLibraryState();
void registerStateReset(void (*reset)());

}  // namespace paloma::test
