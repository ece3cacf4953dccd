// Placeholder: the Linux backend is being written.
#include "platform/os.h"
#include "platform/message_handler.h"

#include <chrono>
#include <thread>

namespace paloma {
namespace {
class PosixOs final : public Os {
 public:
  bool spoolerOpen(std::string_view, Handle*) override { return false; }
  bool spoolerStartDoc(Handle, std::string_view) override { return false; }
  bool spoolerStartPage(Handle) override { return false; }
  IoResult spoolerWrite(Handle, const void*, std::size_t) override { return {}; }
  bool spoolerEndPage(Handle) override { return false; }
  bool spoolerEndDoc(Handle) override { return false; }
  bool spoolerClose(Handle) override { return false; }
  bool spoolerList(std::vector<SpoolerPrinter>*) override { return false; }
  Handle openFile(std::string_view, const OpenMode&) override { return kInvalidHandle; }
  IoResult writeFile(Handle, const void*, std::size_t) override { return {}; }
  IoResult writeOverlapped(Handle, const void*, std::size_t, Event) override { return {}; }
  IoResult readFile(Handle, void*, std::size_t, ReadWait, int) override { return {}; }
  std::int64_t fileSize(Handle) override { return -1; }
  bool closeHandle(Handle) override { return false; }
  Event createEvent() override { return 1; }
  void closeEvent(Event) override {}
  bool serialGetState(Handle, SerialSettings*) override { return false; }
  bool serialSetState(Handle, const SerialSettings&) override { return false; }
  bool serialSetTimeouts(Handle, const SerialTimeouts&) override { return false; }
  bool serialSetMask(Handle, unsigned) override { return false; }
  bool serialPurge(Handle, unsigned) override { return false; }
  bool serialEscape(Handle, SerialLine) override { return false; }
  bool usbInterfaces(std::vector<std::string>*) override { return false; }
  void netStartup() override {}
  void netCleanup() override {}
  Socket tcpSocket() override { return kInvalidSocket; }
  NetResult tcpConnect(Socket, std::uint32_t, std::uint16_t) override { return {-1, kNetOther}; }
  void setSocketTimeouts(Socket, int, int) override {}
  void setNoDelay(Socket) override {}
  NetResult send(Socket, const void*, std::size_t, bool) override { return {-1, kNetOther}; }
  NetResult recv(Socket, void*, std::size_t) override { return {-1, kNetOther}; }
  void closeSocket(Socket) override {}
  Socket udpSocket() override { return kInvalidSocket; }
  void setBroadcast(Socket) override {}
  bool bindAny(Socket, std::uint16_t) override { return false; }
  NetResult sendTo(Socket, const void*, std::size_t, std::uint32_t, std::uint16_t) override {
    return {-1, kNetOther};
  }
  NetResult recvFrom(Socket, void*, std::size_t, int) override { return {-1, kNetOther}; }
  bool textExtent(const FontSpec&, const HostText&, int*, int*) override { return false; }
  bool drawText(const FontSpec&, const HostText&, int, int, int, int, BitBlock*) override {
    return false;
  }
  std::u16string ansiToUtf16(std::string_view b) override {
    std::u16string o;
    for (unsigned char c : b) o.push_back(c);
    return o;
  }
  void message(std::string_view t, std::string_view c, MessageIcon i) override {
    deliverMessage(t, c, i);
  }
  void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  std::uint64_t nowMs() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
  }
};
}  // namespace

Os& platformOs() {
  static PosixOs instance;
  return instance;
}
}  // namespace paloma
