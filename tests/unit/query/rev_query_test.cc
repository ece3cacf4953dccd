// Replies that fill a whole buffer, the USB one-shot status pause, and the
// network error recorded when a string read's bound runs out on a failed
// receive.
#include <cstring>

#include "platform/deadline.h"
#include "query/readers.h"
#include "replies_fixture.h"

namespace paloma::test {
namespace {

const bool kRegistered = (registerStateReset(&resetReplyState), true);

using RevQueryTest = RepliesTest;

// A machine whose USB printer is listed but whose device does not open.
class UnopenedUsbOs : public FakeOs {
 public:
  Handle openFile(std::string_view path, const OpenMode& mode) override {
    if (!path.empty() && path[0] == '\\') {
      log("open-failed", std::string(path));
      return kInvalidHandle;
    }
    return FakeOs::openFile(path, mode);
  }
};

TEST_F(RevQueryTest, RepliesFillingTheWholeBufferKeepEveryByte) {
  openNetwork();
  std::string reply(ReplyState::kBufferSize - 1, 'n');
  reply += 'Z';
  f.queueRecv(kPrinterPeer, reply);
  const char* name = ethernetprintername();
  ASSERT_EQ(std::strlen(name), ReplyState::kBufferSize);
  EXPECT_EQ(name[ReplyState::kBufferSize - 1], 'Z');

  f.queueRecv(kPrinterPeer, reply);
  const char* setting = ethernetprintersetting("SYSTEM", "INFORMATION", "MODEL");
  ASSERT_EQ(std::strlen(setting), ReplyState::kBufferSize);
  EXPECT_EQ(setting[ReplyState::kBufferSize - 1], 'Z');
}

TEST_F(RevQueryTest, UsbOneShotStatusKeepsItsPauseWhenTheDeviceDoesNotOpen) {
  UnopenedUsbOs unopened;
  setOs(&unopened);
  unopened.setUsbPaths({usbPath()});
  EXPECT_EQ(usbportqueryprinter(), 0);
  EXPECT_EQ(unopened.sleeps(), std::vector<long>{300});
  EXPECT_TRUE(unopened.writes().empty());
  EXPECT_EQ(connection().usbOneShotHandle, kInvalidHandle);
  setOs(&f);
}

TEST_F(RevQueryTest, StringReadRecordsAReceiveErrorThatEndsItsBound) {
  openNetwork();
  // Bytes without the marker for 4.5 s, then silence: the receive time-out
  // comes as the read's bound runs out.
  for (int i = 0; i < 45; ++i) f.queueRecv(kPrinterPeer, "x");
  std::uint64_t t0 = f.now();
  EXPECT_STREQ(ethernet_getstring("RFID", 0), "-1");
  EXPECT_GE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs));
  EXPECT_EQ(replies().NetworkError, 1);
  // Sticky: the next status query reads "-1" although the printer answers.
  f.queueRecv(kPrinterPeer, std::string(1, '\0'));
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
}

}  // namespace
}  // namespace paloma::test
