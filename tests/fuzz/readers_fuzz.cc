// Arbitrary printer byte streams into every reader, under each mode flag, on
// the recording fake. The input is:
//   byte 0      which reader
//   byte 1      mode flags: 1 StatusByteMode, 2 FrameMode, 4 LineMode,
//               8 NetworkError set before the read
//   bytes 2-3   starting append position (little endian, 0..65535)
//   the rest    what the printer sends, as pieces: a length byte L and L
//               bytes (L = 0: an empty read); 0xF0 a receive error; 0xF1 the
//               connection closed; 0xF2 n_lo n_hi b: n*64 copies of b
//               (b = 'E' gives 'F').
// What one input may ask of the fake printer is bounded (kFeedBudget bytes in
// all, less for Ethernetsend, which clears its whole receive buffer after
// every 500 bytes), so that a unit takes milliseconds: past the budget the
// printer falls silent. Both budgets still overfill the 64 KB reply buffer.
// After every read the buffers must still end in their zero bytes, the
// positions must lie inside the buffer and a string result must fit its block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "paloma.h"
#include "query/readers.h"
#include "query/reply_state.h"
#include "support/fake_os.h"

using namespace paloma;
using paloma::test::FakeOs;

namespace {

const std::string kTty = "/dev/ttyS0";
const std::string kPeer = "127.0.0.1:9100";
const std::string kUsb = std::string("\\\\?\\usb#") + usbVendorFilter() +
                         "&pid_0001#5&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

enum Transport { kSerial, kNetwork, kUsbDevice };

constexpr std::size_t kFeedBudget = 96 * 1024;
constexpr std::size_t kDiagnosticBudget = 8 * 1024;

void feed(FakeOs& f, Transport t, const std::uint8_t* p, std::size_t n, std::size_t budget) {
  std::size_t i = 0;
  while (i < n && budget > 0) {
    std::uint8_t len = p[i++];
    std::string chunk;
    if (len == 0xF0 || len == 0xF1) {
      if (t == kNetwork) {
        if (len == 0xF0) f.queueRecvError(kPeer, kNetConnReset);
        else f.queueRecvClosed(kPeer);
      }
      continue;
    }
    if (len == 0xF2) {
      if (i + 3 > n) break;
      std::size_t count = (p[i] | (p[i + 1] << 8)) * 64u;
      // Not a run of 'E', the marker's first byte: a string read compares the
      // marker at every 'E' of its 64 KB buffer on each step, which natively
      // is quick but under the fuzzer's comparison hooks takes seconds.
      chunk.assign(count, static_cast<char>(p[i + 2] == 'E' ? 'F' : p[i + 2]));
      i += 3;
    } else {
      std::size_t take = len < n - i ? len : n - i;
      chunk.assign(reinterpret_cast<const char*>(p + i), take);
      i += take;
    }
    if (chunk.size() > budget) chunk.resize(budget);
    budget -= chunk.size();
    if (t == kNetwork) {
      if (!chunk.empty()) f.queueRecv(kPeer, chunk);
    } else {
      f.queueRead(t == kSerial ? kTty : kUsb, chunk);
    }
  }
}

void check() {
  ReplyState& r = replies();
  if (r.ReplyBufferEnd != 0 || r.NetworkReceiveBufferEnd != 0) std::abort();
  for (std::int32_t pos : {r.ReplyPosition, r.NetworkPosition, r.SerialStringPosition})
    if (pos < 0 || pos > static_cast<std::int32_t>(ReplyState::kBufferSize)) std::abort();
  if (std::strlen(r.StringResult) >= kStringBlockSize) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static const bool registered = (paloma::test::registerStateReset(&resetReplyState), true);
  (void)registered;
  FakeOs f;
  paloma::test::resetLibraryState();
  setOs(&f);

  const int reader = data[0] % 13;
  const std::uint8_t flags = data[1];
  const std::int32_t start = data[2] | (data[3] << 8);
  Transport t = reader <= 2 || reader == 11 ? kSerial
                : reader <= 6 || reader == 12 ? kNetwork
                                              : kUsbDevice;
  f.addDevice(kTty);
  f.addTcpPeer(kPeer);
  f.setUsbPaths({kUsb});
  if (t == kSerial) opencomport(kTty.c_str());
  if (t == kNetwork) openethernet("127.0.0.1", 9100);
  Handle usb = kInvalidHandle;
  if (t == kUsbDevice) {
    OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
    usb = f.openFile(kUsb, mode);
    connection().handle = usb;
    connection().usbMode = 1;
    connection().isOpen = 1;
  }
  feed(f, t, data + 4, size - 4, reader == 12 ? kDiagnosticBudget : kFeedBudget);

  ReplyState& r = replies();
  r.StatusByteMode = flags & 1;
  r.FrameMode = (flags >> 1) & 1;
  r.LineMode = (flags >> 2) & 1;
  r.NetworkError = (flags >> 3) & 1;
  r.ReplyPosition = start;
  r.NetworkPosition = start;

  switch (reader) {
    case 0: ReadSerialStatus(replies(), connection().handle); break;
    case 1: ReadSerialReply(replies(), connection().handle); break;
    case 2: comport_getstring("C", 0); break;
    case 3: ethernetprinterstatus(); break;
    case 4: ReadNetworkReply(replies(), connection().socket); break;
    case 5: ReadNetworkSetting(replies(), connection().socket); break;
    case 6: ethernet_getstring("C", 0); break;
    case 7: usbReadWhile(&usbReadDataToBuffer, replies(), usb); break;
    case 8: usbReadWhile(&usbReadData, replies(), usb); break;
    case 9: usb_getstring("C", 0); break;
    case 10: usbprinterstatus(); break;
    case 11: comportprinterstatus(); break;
    case 12: Ethernetsend("C"); break;
  }
  check();
  setOs(nullptr);
  paloma::test::resetLibraryState();
  return 0;
}
