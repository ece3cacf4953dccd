#include "support/fake_os.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "connection/connection_state.h"
#include "paloma.h"

namespace paloma::test {

namespace {
std::string hostPort(std::uint32_t addr, std::uint16_t port) {
  return std::to_string((addr >> 24) & 0xFF) + "." + std::to_string((addr >> 16) & 0xFF) + "." +
         std::to_string((addr >> 8) & 0xFF) + "." + std::to_string(addr & 0xFF) + ":" +
         std::to_string(port);
}

std::vector<void (*)()>& resets() {
  static std::vector<void (*)()> r;
  return r;
}
}  // namespace

void registerStateReset(void (*reset)()) { resets().push_back(reset); }

void resetLibraryState() {
  resetConnection();
  for (auto* r : resets()) r();
}

FakeOsScope::FakeOsScope() {
  resetLibraryState();
  paloma_clear_error();  // the calling thread's reason of an earlier test
  setOs(&fake_);
}

FakeOsScope::~FakeOsScope() {
  setOs(nullptr);
  resetLibraryState();
}

FakeOs::FakeOs() = default;
FakeOs::~FakeOs() = default;

void FakeOs::log(std::string op, std::string target, std::string data, std::string detail,
                 long value) {
  journal_.push_back({std::move(op), std::move(target), std::move(data), std::move(detail), value});
}

// ---- scripting ----

void FakeOs::addDevice(const std::string& path, const std::string& content) {
  devices_[path] = content;
}
void FakeOs::addPrinter(const std::string& name, const std::string& port, bool openable) {
  printers_.push_back({SpoolerPrinter{name, port}, openable});
}
void FakeOs::setUsbPaths(std::vector<std::string> paths, bool listOk) {
  usbPaths_ = std::move(paths);
  usbListOk_ = listOk;
  for (const auto& p : usbPaths_)
    if (!p.empty() && !devices_.count(p)) devices_[p] = "";
}
void FakeOs::setUsbSerial(const std::string& path, const std::string& serial) {
  usbSerials_[path] = serial;
}
void FakeOs::addTcpPeer(const std::string& hp) { tcpPeers_.insert(hp); }
void FakeOs::queueRead(const std::string& target, const std::string& chunk) {
  reads_[target].push_back(chunk);
}
void FakeOs::queueRecv(const std::string& target, const std::string& chunk) {
  recvs_[target].push_back({0, chunk, 0});
}
void FakeOs::queueRecvClosed(const std::string& target) { recvs_[target].push_back({1, "", 0}); }
void FakeOs::queueRecvError(const std::string& target, int e) {
  recvs_[target].push_back({2, "", e});
}
void FakeOs::queueDatagram(const std::string& chunk) { datagrams_.push_back({Sender{}, chunk}); }
void FakeOs::queueDatagramFrom(std::uint32_t addr, std::uint16_t port, const std::string& chunk) {
  datagrams_.push_back({Sender{addr, port}, chunk});
}
void FakeOs::limitWrite(const std::string& target, std::size_t max) { writeLimit_[target] = max; }
void FakeOs::failWritesAfter(const std::string& target, int n) { writeFailAfter_[target] = n; }

// ---- inspection ----

std::vector<JournalEntry> FakeOs::entries(const std::string& op) const {
  std::vector<JournalEntry> out;
  for (const auto& e : journal_)
    if (e.op == op) out.push_back(e);
  return out;
}
std::vector<JournalEntry> FakeOs::writes(const std::string& target) const {
  std::vector<JournalEntry> out;
  for (const auto& e : journal_)
    if (e.op == "write" && (target.empty() || e.target == target)) out.push_back(e);
  return out;
}
std::string FakeOs::wire(const std::string& target) const {
  std::string out;
  for (const auto& e : writes(target)) out += e.data;
  return out;
}
std::vector<std::string> FakeOs::messages() const {
  std::vector<std::string> out;
  for (const auto& e : entries("message")) out.push_back(e.detail + "|" + e.data);
  return out;
}
std::vector<long> FakeOs::sleeps() const {
  std::vector<long> out;
  for (const auto& e : entries("sleep")) out.push_back(e.value);
  return out;
}
std::string FakeOs::targetOf(Handle h) const {
  auto it = handles_.find(h);
  return it == handles_.end() ? std::string("<invalid>") : it->second.target;
}
std::string FakeOs::socketTarget(Socket s) const {
  auto it = sockets_.find(s);
  return it == sockets_.end() ? std::string("<invalid>") : it->second.target;
}
const SerialSettings& FakeOs::serialStateOf(const std::string& path) { return serial_[path]; }
bool FakeOs::isOpen(const std::string& target) const {
  for (const auto& [h, info] : handles_)
    if (info.open && info.target == target) return true;
  for (const auto& [s, info] : sockets_)
    if (info.open && info.target == target) return true;
  return false;
}

// ---- writes ----

IoResult FakeOs::recordWrite(const std::string& target, const char* kind, const void* data,
                             std::size_t n) {
  int calls = writeCalls_[target]++;
  auto fail = writeFailAfter_.find(target);
  auto only = writeFailOnly_.find(target);
  if ((fail != writeFailAfter_.end() && calls >= fail->second) ||
      (only != writeFailOnly_.end() && calls == only->second)) {
    log("write-failed", target, std::string(static_cast<const char*>(data), n), kind);
    lastOsError_ = EIO;
    return {false, 0, EIO, false};
  }
  std::size_t take = n;
  auto lim = writeLimit_.find(target);
  if (lim != writeLimit_.end()) take = std::min(take, lim->second);
  log("write", target, std::string(static_cast<const char*>(data), take), kind,
      static_cast<long>(n));
  return {true, take, 0, false};
}

// ---- spooler ----

bool FakeOs::spoolerOpen(std::string_view name, Handle* out) {
  for (const auto& [p, openable] : printers_) {
    if (p.name == name) {
      log("spooler-open", "spooler:" + p.name, "", openable ? "ok" : "fail");
      if (!openable) return false;
      Handle h = nextHandle_++;
      handles_[h] = {"spooler:" + p.name, true, true, 0};
      *out = h;
      return true;
    }
  }
  log("spooler-open", "spooler:" + std::string(name), "", "unknown");
  return false;
}
bool FakeOs::spoolerStartDoc(Handle h, std::string_view docName) {
  log("spooler-start-doc", targetOf(h), std::string(docName));
  return true;
}
bool FakeOs::spoolerStartPage(Handle h) {
  log("spooler-start-page", targetOf(h));
  return true;
}
IoResult FakeOs::spoolerWrite(Handle h, const void* data, std::size_t n) {
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) return {false, 0, 6, false};
  return recordWrite(it->second.target, "spooler", data, n);
}
bool FakeOs::spoolerEndPage(Handle h) {
  log("spooler-end-page", targetOf(h));
  return true;
}
bool FakeOs::spoolerEndDoc(Handle h) {
  log("spooler-end-doc", targetOf(h));
  return true;
}
bool FakeOs::spoolerClose(Handle h) {
  log("close", targetOf(h), "", "spooler");
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) return false;
  it->second.open = false;
  return true;
}
Os::ServerLookup FakeOs::spoolerPrinterOnServer(std::string_view port, SpoolerPrinter* out) {
  if (!serverLookupHook) return ServerLookup::NotServerName;
  log("spooler-server-lookup", std::string(port));
  return serverLookupHook(port, out);
}
bool FakeOs::spoolerList(std::vector<SpoolerPrinter>* out) {
  out->clear();
  for (const auto& [p, openable] : printers_) out->push_back(p);
  log("spooler-list");
  return true;
}

// ---- files ----

Handle FakeOs::openFile(std::string_view path, const OpenMode& mode) {
  std::string p(path);
  std::string detail = "access=" + std::to_string(mode.access) +
                       " share=" + std::to_string(mode.share) + " disp=" +
                       std::to_string(static_cast<int>(mode.disposition)) +
                       (mode.overlapped ? " overlapped" : "");
  bool exists = devices_.count(p) > 0;
  // Ports and devices exist only when the test added them; regular files may
  // be created.
  bool device = p.empty() || p[0] == '\\' || p.rfind("/dev/", 0) == 0 ||
                p.rfind("COM", 0) == 0 || p.rfind("LPT", 0) == 0;
  // A terminal-only open takes an added port or device, never a file.
  const bool terminalOnly = mode.disposition == Disposition::OpenTerminal;
  if ((!exists && (device || mode.disposition == Disposition::OpenExisting || terminalOnly)) ||
      (terminalOnly && !device)) {
    log("open-failed", p, "", detail);
    lastOsError_ = ENOENT;
    return kInvalidHandle;
  }
  if (!device && (!exists || mode.disposition == Disposition::CreateAlways)) devices_[p] = "";
  log("open", p, "", detail);
  Handle h = nextHandle_++;
  handles_[h] = {p, true, false, 0};
  return h;
}
IoResult FakeOs::writeFile(Handle h, const void* data, std::size_t n) {
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) return {false, 0, 6, false};
  IoResult r = recordWrite(it->second.target, "file", data, n);
  if (r.ok) devices_[it->second.target].append(static_cast<const char*>(data), r.count);
  return r;
}
IoResult FakeOs::writeOverlapped(Handle h, const void* data, std::size_t n, Event event) {
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) return {false, 0, 6, false};
  return recordWrite(it->second.target,
                     event == kInvalidEvent ? "overlapped-noevent" : "overlapped", data, n);
}
IoResult FakeOs::readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) {
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) {
    log("read-failed", "<invalid>", "", "", static_cast<long>(cap));
    return {false, 0, 6, false};
  }
  const std::string& target = it->second.target;
  auto q = reads_.find(target);
  if (q != reads_.end() && !q->second.empty()) {
    std::string& chunk = q->second.front();
    std::size_t take = std::min(cap, chunk.size());
    std::memcpy(buf, chunk.data(), take);
    log("read", target, chunk.substr(0, take), "", static_cast<long>(cap));
    chunk.erase(0, take);
    if (chunk.empty()) q->second.pop_front();
    return {true, take, 0, false};
  }
  // A file's content serves reads when nothing is queued.
  auto d = devices_.find(target);
  if (d != devices_.end() && it->second.readOffset < d->second.size()) {
    std::size_t take = std::min(cap, d->second.size() - it->second.readOffset);
    std::memcpy(buf, d->second.data() + it->second.readOffset, take);
    it->second.readOffset += take;
    log("read", target, std::string(static_cast<char*>(buf), take), "", static_cast<long>(cap));
    return {true, take, 0, false};
  }
  if (wait != ReadWait::Arrived) {
    clock_ += static_cast<std::uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
    log("read", target, "", "timeout", static_cast<long>(cap));
    return {true, 0, 0, true};
  }
  log("read", target, "", "", static_cast<long>(cap));
  return {true, 0, 0, false};
}
std::int64_t FakeOs::fileSize(Handle h) {
  auto it = handles_.find(h);
  if (it == handles_.end()) return -1;
  return static_cast<std::int64_t>(devices_[it->second.target].size());
}
bool FakeOs::closeHandle(Handle h) {
  auto it = handles_.find(h);
  log("close", it == handles_.end() ? "<invalid>" : it->second.target);
  if (it == handles_.end() || !it->second.open) return false;
  it->second.open = false;
  return true;
}
Event FakeOs::createEvent() {
  if (eventsFail_) {
    log("event-failed");
    lastOsError_ = ENOMEM;
    return kInvalidEvent;
  }
  return nextEvent_++;
}
void FakeOs::closeEvent(Event) {}

// ---- serial ----

bool FakeOs::serialGetState(Handle h, SerialSettings* out) {
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) return false;
  *out = serial_[it->second.target];
  log("serial-get", it->second.target);
  return true;
}
bool FakeOs::serialSetState(Handle h, const SerialSettings& s) {
  auto it = handles_.find(h);
  if (it == handles_.end() || !it->second.open) return false;
  serial_[it->second.target] = s;
  log("serial-set", it->second.target, "",
      std::to_string(s.baudRate) + "," + std::to_string(s.byteSize) + "," +
          std::to_string(s.parity) + "," + std::to_string(s.stopBits) +
          (s.dsrSensitivity ? ",dsr" : ""));
  return true;
}
bool FakeOs::serialSetTimeouts(Handle h, const SerialTimeouts& t) {
  log("serial-timeouts", targetOf(h), "",
      std::to_string(t.readInterval) + "," + std::to_string(t.readTotalMultiplier) + "," +
          std::to_string(t.readTotalConstant) + "," + std::to_string(t.writeTotalMultiplier) +
          "," + std::to_string(t.writeTotalConstant));
  return true;
}
bool FakeOs::serialSetMask(Handle h, unsigned mask) {
  log("serial-mask", targetOf(h), "", "", static_cast<long>(mask));
  return true;
}
bool FakeOs::serialPurge(Handle h, unsigned flags) {
  log("serial-purge", targetOf(h), "", "", static_cast<long>(flags));
  return true;
}
bool FakeOs::serialEscape(Handle h, SerialLine line) {
  log("serial-escape", targetOf(h), "", line == SerialLine::SetDtr ? "DTR" : "RTS");
  return true;
}

bool FakeOs::usbInterfaces(std::vector<std::string>* paths) {
  log("usb-list");
  if (!usbListOk_) return false;
  *paths = usbPaths_;
  return true;
}

bool FakeOs::usbSerialNumber(std::string_view path, std::string* serial) {
  const std::string p(path);
  log("usb-serial", p);
  serial->clear();
  auto it = usbSerials_.find(p);
  if (it == usbSerials_.end() || std::find(usbPaths_.begin(), usbPaths_.end(), p) == usbPaths_.end())
    return false;
  *serial = it->second;
  return true;
}

// ---- sockets ----

void FakeOs::netStartup() { log("net-startup"); }
void FakeOs::netCleanup() { log("net-cleanup"); }
Socket FakeOs::tcpSocket() {
  if (socketFails_) {
    lastOsError_ = EMFILE;
    return kInvalidSocket;
  }
  Socket s = nextSocket_++;
  sockets_[s] = {"tcp#" + std::to_string(s), true, false, 0};
  return s;
}
NetResult FakeOs::tcpConnect(Socket s, std::uint32_t addr, std::uint16_t port) {
  std::string hp = hostPort(addr, port);
  log("connect", hp);
  if (!tcpPeers_.count(hp)) return {-1, 10061, ECONNREFUSED};
  sockets_[s].target = hp;
  return {0, kNetOk};
}
void FakeOs::setSocketTimeouts(Socket s, int sendMs, int recvMs) {
  sockets_[s].recvTimeoutMs = recvMs;
  log("socket-timeouts", socketTarget(s), "", std::to_string(sendMs) + "," + std::to_string(recvMs));
}
void FakeOs::setNoDelay(Socket s) { log("nodelay", socketTarget(s)); }
NetResult FakeOs::send(Socket s, const void* data, std::size_t n, bool more) {
  auto it = sockets_.find(s);
  if (it == sockets_.end() || !it->second.open) return {-1, kNetOther};
  IoResult r = recordWrite(it->second.target, more ? "send-more" : "send", data, n);
  if (!r.ok) return {-1, kNetConnReset, EPIPE};
  return {static_cast<long>(r.count), kNetOk};
}
NetResult FakeOs::recv(Socket s, void* buf, std::size_t cap) {
  auto it = sockets_.find(s);
  if (it == sockets_.end() || !it->second.open) {
    log("recv", "<invalid>", "", "error");
    return {-1, kNetOther};
  }
  const std::string& target = it->second.target;
  auto q = recvs_.find(target);
  if (q == recvs_.end() || q->second.empty()) {
    clock_ += static_cast<std::uint64_t>(it->second.recvTimeoutMs);
    log("recv", target, "", "timeout", static_cast<long>(cap));
    return {-1, kNetTimedOut};
  }
  Recv& r = q->second.front();
  if (r.kind == 1) {
    log("recv", target, "", "closed", static_cast<long>(cap));
    return {0, kNetOk};  // a closed connection keeps reading as closed
  }
  if (r.kind == 2) {
    int e = r.error;
    q->second.pop_front();
    log("recv", target, "", "error", static_cast<long>(cap));
    return {-1, e, e == kNetConnReset ? ECONNRESET : e == kNetTimedOut ? ETIMEDOUT : EIO};
  }
  std::size_t take = std::min(cap, r.bytes.size());
  std::memcpy(buf, r.bytes.data(), take);
  log("recv", target, r.bytes.substr(0, take), "", static_cast<long>(cap));
  r.bytes.erase(0, take);
  if (r.bytes.empty()) q->second.pop_front();
  return {static_cast<long>(take), kNetOk};
}
int FakeOs::openSockets() const {
  int n = 0;
  for (const auto& [s, info] : sockets_) n += info.open ? 1 : 0;
  return n;
}
void FakeOs::closeSocket(Socket s) {
  auto it = sockets_.find(s);
  log("close-socket", it == sockets_.end() ? "<invalid>" : it->second.target);
  if (it != sockets_.end()) it->second.open = false;
}
Socket FakeOs::udpSocket() {
  if (socketFails_) {
    lastOsError_ = EMFILE;
    return kInvalidSocket;
  }
  Socket s = nextSocket_++;
  sockets_[s] = {"udp#" + std::to_string(s), true, true, 0};
  return s;
}
void FakeOs::setBroadcast(Socket s) { log("broadcast-on", socketTarget(s)); }
bool FakeOs::bindAny(Socket s, std::uint16_t port) {
  log("bind", socketTarget(s), "", "", port);
  if (bindFails_) lastOsError_ = EADDRINUSE;
  return !bindFails_ && sockets_.count(s) > 0;
}
NetResult FakeOs::sendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr,
                         std::uint16_t port) {
  (void)s;
  IoResult r = recordWrite(hostPort(addr, port), "sendto", data, n);
  return {r.ok ? static_cast<long>(r.count) : -1, r.ok ? kNetOk : kNetOther, r.ok ? 0 : EIO};
}
NetResult FakeOs::recvFrom(Socket s, void* buf, std::size_t cap, int timeoutMs) {
  return recvFromSender(s, buf, cap, timeoutMs, nullptr);
}
NetResult FakeOs::recvFromSender(Socket s, void* buf, std::size_t cap, int timeoutMs,
                                 Sender* from) {
  (void)s;
  if (from) *from = Sender{};
  if (datagrams_.empty()) {
    clock_ += static_cast<std::uint64_t>(timeoutMs);
    log("recvfrom", "", "", "timeout", static_cast<long>(cap));
    return {-1, kNetTimedOut};
  }
  if (from) *from = datagrams_.front().from;
  std::string d = datagrams_.front().bytes;
  datagrams_.pop_front();
  std::size_t take = std::min(cap, d.size());
  std::memcpy(buf, d.data(), take);
  log("recvfrom", "", d.substr(0, take), "", static_cast<long>(cap));
  return {static_cast<long>(take), kNetOk};
}

// ---- text ----

bool FakeOs::textExtent(const FontSpec& font, const HostText&, int* cx, int* cy) {
  log("text-extent", "", font.faceName, "", font.height);
  *cx = extentCx_;
  *cy = extentCy_;
  return true;
}
bool FakeOs::drawText(const FontSpec& font, const HostText& text, int x0, int y0, int w, int h,
                      BitBlock* out) {
  log("draw-text", "", font.faceName,
      std::to_string(x0) + "," + std::to_string(y0) + "," + std::to_string(w) + "," +
          std::to_string(h));
  if (drawHook) return drawHook(font, text, x0, y0, w, h, out);
  out->widthBytes = (w + 7) / 8;
  out->rows = h;
  out->bits.assign(static_cast<std::size_t>(out->widthBytes) * static_cast<std::size_t>(h), 0xFF);
  return true;
}
std::u16string FakeOs::ansiToUtf16(std::string_view bytes) {
  std::u16string out;
  for (unsigned char ch : bytes) out.push_back(ch);  // ISO-8859-1
  return out;
}

void FakeOs::message(std::string_view text, std::string_view caption, MessageIcon icon) {
  log("message", "", std::string(text), std::string(caption), static_cast<long>(icon));
}
void FakeOs::sleepMs(int ms) {
  clock_ += static_cast<std::uint64_t>(ms > 0 ? ms : 0);
  log("sleep", "", "", "", ms);
}
std::uint64_t FakeOs::nowMs() { return clock_; }

}  // namespace paloma::test
