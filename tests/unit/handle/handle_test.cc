// Printer handles on the recording fake: addresses, the status table, the
// bytes each call sends, answers that arrive in pieces, bounds that run out
// in virtual time, and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "handle/uri.h"
#include "paloma.h"
#include "platform/api_lock.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const std::string kPeer = "127.0.0.1:9100";
const std::string kUsbPath =
    std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID + "&pid_0001#b001p1.4#{a5dcbf10}";
const std::string kOtherUsbPath =
    std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID + "&pid_0001#b002p3#{a5dcbf10}";

struct Rig {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  paloma_printer* p = nullptr;

  ~Rig() { paloma_close(p); }
  paloma_printer* tcp() {
    f.addTcpPeer(kPeer);
    EXPECT_EQ(paloma_open("tcp://127.0.0.1", &p), PALOMA_OK) << paloma_last_error();
    return p;
  }
};

TEST(PrinterUri, AcceptedFormsAndWhatTheyName) {
  std::string why;
  auto u = parsePrinterUri("tcp://printer-7.local:9101/", &why);
  ASSERT_TRUE(u) << why;
  EXPECT_EQ(u->kind, UriKind::Tcp);
  EXPECT_EQ(u->host, "printer-7.local");
  EXPECT_EQ(u->port, 9101);
  EXPECT_EQ(parsePrinterUri("tcp://10.0.0.5", &why)->port, 9100);

  u = parsePrinterUri("serial:/dev/ttyUSB0?baud=19200&parity=even&bits=7&stop=2", &why);
  ASSERT_TRUE(u) << why;
  EXPECT_EQ(u->kind, UriKind::Serial);
  EXPECT_EQ(u->path, "/dev/ttyUSB0");
  EXPECT_EQ(u->baud, 19200u);
  EXPECT_EQ(u->parity, 2);
  EXPECT_EQ(u->dataBits, 7);
  EXPECT_EQ(u->stopBits, 2);

  EXPECT_EQ(parsePrinterUri("usb:", &why)->location, "");
  EXPECT_EQ(parsePrinterUri("usb:1-1.4", &why)->location, "b001p1.4");
  EXPECT_EQ(parsePrinterUri("usb:b003p2", &why)->location, "b003p2");

  u = parsePrinterUri("queue://print-server:8631/Labels_1", &why);
  ASSERT_TRUE(u) << why;
  EXPECT_EQ(spoolerNameOf(*u), "//print-server:8631/Labels_1");
  EXPECT_EQ(spoolerNameOf(*parsePrinterUri("queue:Labels", &why)), "Labels");

  EXPECT_EQ(parsePrinterUri("file:///tmp/capture.prn", &why)->path, "/tmp/capture.prn");
  EXPECT_EQ(parsePrinterUri("/dev/pts/3", &why)->kind, UriKind::Serial);
  EXPECT_EQ(parsePrinterUri("/dev/usb/lp0", &why)->kind, UriKind::File);
}

TEST(PrinterUri, RefusedFormsSayWhy) {
  for (const char* bad :
       {"", "tcp://", "tcp://host:0", "tcp://host:65536", "tcp://ho st", "tcp://a:9100x",
        "serial:ttyS0", "serial:COM1", "serial:/dev/ttyS0?baud=9601", "serial:/dev/ttyS0?speed=9600",
        "serial:/dev/ttyS0?parity=mark", "serial:/dev/ttyS0?bits=9", "usb:1-", "usb:a b",
        "usb:1-1.2.3.4.5.6.7.8", "queue:", "queue:a/b", "queue:a b", "queue://server",
        "file:", "file:a\nb", "/dev/", "/dev/tty\r", "http://printer", "COM1"}) {
    std::string why;
    EXPECT_FALSE(parsePrinterUri(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

TEST(StatusTable, ConditionsAreTheBitsOfTheByte) {
  const char* names[8] = {};
  EXPECT_EQ(paloma_status_conditions(0x00, names, 8), 0u);
  EXPECT_STREQ(paloma_status_text(0x00), "ready");
  // Two conditions at once: the case a single-code table loses.
  ASSERT_EQ(paloma_status_conditions(0x06, names, 8), 2u);
  EXPECT_STREQ(names[0], "paper jam");
  EXPECT_STREQ(names[1], "paper empty");
  EXPECT_STREQ(paloma_status_text(0x06), "paper jam, paper empty");
  EXPECT_STREQ(paloma_status_text(0x0D), "head open, paper empty, ribbon empty");
  EXPECT_STREQ(paloma_status_text(0x80), "other error");
  // Fewer places than conditions: the count is whole, the rest untouched.
  const char* two[2] = {nullptr, nullptr};
  EXPECT_EQ(paloma_status_conditions(0xFF, two, 1), 8u);
  EXPECT_STREQ(two[0], "head open");
  EXPECT_EQ(two[1], nullptr);
  EXPECT_EQ(paloma_status_conditions(0xFF, nullptr, 0), 8u);
  // The table's rows, bit by bit, name what the text uses.
  std::string all;
  std::uint8_t bits = 0;
  for (std::size_t i = 0;; ++i) {
    std::uint8_t bit = 0;
    const char* name = paloma_status_condition(i, &bit);
    if (!name) {
      EXPECT_EQ(i, 8u);
      break;
    }
    EXPECT_EQ(bit, 1u << i);
    bits = static_cast<std::uint8_t>(bits | bit);
    all += (all.empty() ? "" : ", ") + std::string(name);
  }
  EXPECT_EQ(bits, 0xFF);
  EXPECT_EQ(all, paloma_status_text(0xFF));
}

TEST(Handle, OpensEachTransportAsItsAddressSays) {
  Rig r;
  r.f.addPrinter("Labels", "usb://x");
  r.f.addDevice("/dev/ttyS1");
  r.f.setUsbPaths({kUsbPath, kOtherUsbPath, "\\\\?\\usb#vid_0000&pid_0001#b001p9#{x}"});
  paloma_printer* q = nullptr;

  ASSERT_EQ(paloma_open("queue:Labels", &q), PALOMA_OK) << paloma_last_error();
  ASSERT_EQ(paloma_send_command(q, "PRINT 1"), PALOMA_OK);
  EXPECT_EQ(paloma_close(q), PALOMA_OK);
  // One document per handle, its bytes in one write, ended at close.
  EXPECT_EQ(r.f.wire("spooler:Labels"), "PRINT 1\r\n");
  EXPECT_EQ(r.f.entries("spooler-start-doc").size(), 1u);
  EXPECT_EQ(r.f.entries("spooler-end-doc").size(), 1u);
  EXPECT_FALSE(r.f.isOpen("spooler:Labels"));

  ASSERT_EQ(paloma_open("serial:/dev/ttyS1?baud=38400&parity=odd", &q), PALOMA_OK)
      << paloma_last_error();
  EXPECT_EQ(r.f.serialStateOf("/dev/ttyS1").baudRate, 38400u);
  EXPECT_EQ(r.f.serialStateOf("/dev/ttyS1").parity, 1);
  EXPECT_EQ(paloma_close(q), PALOMA_OK);
  EXPECT_FALSE(r.f.isOpen("/dev/ttyS1"));

  ASSERT_EQ(paloma_open("usb:2-3", &q), PALOMA_OK) << paloma_last_error();
  EXPECT_TRUE(r.f.isOpen(kOtherUsbPath));
  paloma_close(q);
  ASSERT_EQ(paloma_open("usb:", &q), PALOMA_OK);
  EXPECT_TRUE(r.f.isOpen(kOtherUsbPath));  // the last of the maker's, as openport("USB")
  paloma_close(q);
  EXPECT_EQ(paloma_open("usb:1-9", &q), PALOMA_ERROR_OS);  // another maker's device there
  EXPECT_EQ(q, nullptr);

  ASSERT_EQ(paloma_open("file:capture.prn", &q), PALOMA_OK);
  ASSERT_EQ(paloma_write(q, "AB\0C", 4), PALOMA_OK);
  paloma_close(q);
  EXPECT_EQ(r.f.wire("capture.prn"), std::string("AB\0C", 4));
}

TEST(Handle, RefusalsAndFailuresGiveTheirCodesAndReasons) {
  Rig r;
  paloma_printer* q = reinterpret_cast<paloma_printer*>(1);
  EXPECT_EQ(paloma_open("tcp://127.0.0.1:9", &q), PALOMA_ERROR_OS);  // nobody listens
  EXPECT_EQ(q, nullptr);
  EXPECT_NE(std::string(paloma_last_error()).find("127.0.0.1:9"), std::string::npos);
  EXPECT_EQ(paloma_open("nonsense", &q), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_open(nullptr, &q), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_open("queue:Missing", &q), PALOMA_ERROR_OS);
  EXPECT_EQ(paloma_open("/dev/ttyS7", &q), PALOMA_ERROR_OS);

  std::uint8_t byte = 0;
  char buf[8];
  EXPECT_EQ(paloma_write(nullptr, "x", 1), PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_send_command(nullptr, "x"), PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_status(nullptr, &byte), PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_info(nullptr, "name", buf, sizeof buf), PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_set_reply_timeout(nullptr, 10), PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_close(nullptr), PALOMA_OK);

  paloma_printer* p = r.tcp();
  EXPECT_EQ(paloma_send_command(p, "TEXT 1\r\nCLS"), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_send_command(p, "CLS\n"), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_send_command(p, nullptr), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_write(p, nullptr, 3), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_info(p, "nope", buf, sizeof buf), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_info(p, "setting:A/B", buf, sizeof buf), PALOMA_ERROR_ARGUMENT);
  EXPECT_EQ(paloma_info(p, "setting:A/B\"/C", buf, sizeof buf), PALOMA_ERROR_ARGUMENT);
  for (int bad : {0, -5, 600001}) {
    EXPECT_EQ(paloma_set_reply_timeout(p, bad), PALOMA_ERROR_ARGUMENT);
    EXPECT_EQ(paloma_set_stall_timeout(p, bad), PALOMA_ERROR_ARGUMENT);
    EXPECT_EQ(paloma_set_connect_timeout(p, bad), PALOMA_ERROR_ARGUMENT);
  }
  // Nothing refused reached the printer.
  EXPECT_EQ(r.f.wire(kPeer), "");
  EXPECT_STREQ(paloma_result_text(PALOMA_ERROR_NO_REPLY), "no reply");
  EXPECT_STREQ(paloma_result_text(static_cast<paloma_result>(-99)), "unknown result");
}

TEST(Handle, WritesGoOutWholeWithTheLineEnd) {
  Rig r;
  paloma_printer* p = r.tcp();
  r.f.limitWrite(kPeer, 3);  // the printer takes three bytes a call
  ASSERT_EQ(paloma_send_command(p, "CLS"), PALOMA_OK);
  ASSERT_EQ(paloma_write(p, "\x01\x02\x03\x04\x05", 5), PALOMA_OK);
  ASSERT_EQ(paloma_write(p, nullptr, 0), PALOMA_OK);
  EXPECT_EQ(r.f.wire(kPeer), "CLS\r\n\x01\x02\x03\x04\x05");

  r.f.failWritesAfter(kPeer, 0);
  EXPECT_NE(paloma_send_command(p, "CLS"), PALOMA_OK);
  EXPECT_NE(std::string(paloma_last_error()), "");
}

TEST(Handle, StatusIsTakenAsItArrivesWithoutAPause) {
  Rig r;
  paloma_printer* p = r.tcp();
  r.f.queueRecv(kPeer, "\x06");
  std::uint8_t byte = 0;
  ASSERT_EQ(paloma_status(p, &byte), PALOMA_OK) << paloma_last_error();
  EXPECT_EQ(byte, 0x06);
  EXPECT_EQ(r.f.wire(kPeer), "\x1b!?\r\n");
  EXPECT_TRUE(r.f.sleeps().empty());
  EXPECT_EQ(r.f.now(), 0u);
}

TEST(Handle, SilenceEndsAtTheReplyBoundAndLateBytesAreDropped) {
  Rig r;
  paloma_printer* p = r.tcp();
  ASSERT_EQ(paloma_set_reply_timeout(p, 700), PALOMA_OK);
  std::uint8_t byte = 0;
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_ERROR_NO_REPLY);
  EXPECT_EQ(r.f.now(), 700u);
  EXPECT_NE(std::string(paloma_last_error()).find("700 ms"), std::string::npos);
  // The late answer to that query is not taken as the answer to the next.
  r.f.queueRecv(kPeer, "\x20");
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_ERROR_NO_REPLY);
  EXPECT_EQ(byte, 0);
  // A printer that goes away is told apart from a silent one.
  r.f.queueRecvClosed(kPeer);
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_ERROR_CLOSED);
}

TEST(Handle, InformationAnswersAreCollectedAndUnframed) {
  Rig r;
  paloma_printer* p = r.tcp();
  char buf[64];
  r.f.queueRecv(kPeer, "TDP-2");
  r.f.queueRecv(kPeer, "44\r\n\x02\r\n");
  ASSERT_EQ(paloma_info(p, "name", buf, sizeof buf), PALOMA_OK) << paloma_last_error();
  EXPECT_STREQ(buf, "TDP-244");
  // The same request bytes as the single connection's query.
  EXPECT_EQ(r.f.wire(kPeer), "~!T\n OUT \"\x02\"\n");

  r.f.queueRecv(kPeer, "junk\x02" "ABC\x03\r\n");
  ASSERT_EQ(paloma_info(p, "complete_status", buf, sizeof buf), PALOMA_OK);
  EXPECT_STREQ(buf, "ABC");

  r.f.queueRecv(kPeer, "300\r\n\x02");
  ASSERT_EQ(paloma_info(p, "setting:SYSTEM/INFORMATION/DPI", buf, sizeof buf), PALOMA_OK);
  EXPECT_STREQ(buf, "300");
  EXPECT_NE(r.f.wire(kPeer).find("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\n"),
            std::string::npos);

  r.f.queueRecv(kPeer, "0123456789\r\n\x02");
  char small[5];
  EXPECT_EQ(paloma_info(p, "serial", small, sizeof small), PALOMA_ERROR_BUFFER_TOO_SMALL);
  EXPECT_STREQ(small, "0123");
  EXPECT_EQ(paloma_info(p, "serial", buf, 0), PALOMA_ERROR_NO_REPLY);  // nothing more came
}

TEST(Handle, QueriesNeedATransportThatAnswers) {
  Rig r;
  r.f.addPrinter("Labels", "usb://x");
  paloma_printer* q = nullptr;
  ASSERT_EQ(paloma_open("queue:Labels", &q), PALOMA_OK);
  std::uint8_t byte = 0;
  char buf[8];
  EXPECT_EQ(paloma_status(q, &byte), PALOMA_ERROR_UNSUPPORTED);
  EXPECT_EQ(paloma_info(q, "name", buf, sizeof buf), PALOMA_ERROR_UNSUPPORTED);
  paloma_close(q);
}

TEST(Handle, SerialAndUsbAnswersComeFromTheirOwnHandles) {
  Rig r;
  r.f.addDevice("/dev/ttyS0");
  r.f.setUsbPaths({kUsbPath});
  paloma_printer* s = nullptr;
  paloma_printer* u = nullptr;
  ASSERT_EQ(paloma_open("/dev/ttyS0", &s), PALOMA_OK);
  ASSERT_EQ(paloma_open("usb:", &u), PALOMA_OK);
  r.f.queueRead("/dev/ttyS0", "\x01");
  r.f.queueRead(kUsbPath, "MODEL-U\r\n");
  r.f.queueRead(kUsbPath, "\x02");
  std::uint8_t byte = 0;
  char buf[32];
  ASSERT_EQ(paloma_status(s, &byte), PALOMA_OK);
  EXPECT_EQ(byte, 0x01);
  ASSERT_EQ(paloma_info(u, "name", buf, sizeof buf), PALOMA_OK);
  EXPECT_STREQ(buf, "MODEL-U");
  EXPECT_EQ(r.f.wire("/dev/ttyS0"), "\x1b!?\r\n");
  EXPECT_EQ(r.f.wire(kUsbPath), "~!T\n\rOUT \"\x02\"\n\r");
  paloma_close(s);
  paloma_close(u);
}

TEST(Handle, CloseEndsTheConnectionWithoutThePause) {
  Rig r;
  paloma_printer* p = r.tcp();
  ASSERT_EQ(paloma_send_command(p, "PRINT 1"), PALOMA_OK);
  EXPECT_EQ(paloma_close(p), PALOMA_OK);
  r.p = nullptr;
  EXPECT_FALSE(r.f.isOpen(kPeer));
  EXPECT_EQ(r.f.openSockets(), 0);
  EXPECT_TRUE(r.f.sleeps().empty());
}

TEST(Handle, ReconnectOpensTheSameAddressAgainWithTheHandlesBounds) {
  Rig r;
  paloma_printer* p = r.tcp();
  r.f.queueRecvClosed(kPeer);
  std::uint8_t byte = 0;
  ASSERT_EQ(paloma_status(p, &byte), PALOMA_ERROR_CLOSED);
  ASSERT_EQ(paloma_reconnect(p), PALOMA_OK) << paloma_last_error();
  EXPECT_EQ(r.f.openSockets(), 1);  // the old connection was closed
  r.f.clearJournal();
  ASSERT_EQ(paloma_send_command(p, "CLS"), PALOMA_OK);
  EXPECT_EQ(r.f.wire(kPeer), "CLS\r\n");
  // A reconnect that fails leaves the handle, unconnected, until the next one.
  paloma_printer* q = nullptr;
  r.f.addTcpPeer("127.0.0.2:9100");
  ASSERT_EQ(paloma_open("tcp://127.0.0.2", &q), PALOMA_OK);
  r.f.failSocket(true);
  EXPECT_NE(paloma_reconnect(q), PALOMA_OK);
  EXPECT_EQ(paloma_send_command(q, "CLS"), PALOMA_ERROR_NOT_CONNECTED);
  r.f.failSocket(false);
  EXPECT_EQ(paloma_reconnect(q), PALOMA_OK);
  EXPECT_EQ(paloma_send_command(q, "CLS"), PALOMA_OK);
  EXPECT_EQ(paloma_close(q), PALOMA_OK);
}

TEST(Handle, TheLegacyLockNeverHoldsAHandleBack) {
  Rig r;
  paloma_printer* p = r.tcp();
  r.f.queueRecv(kPeer, std::string(1, '\0'));
  std::uint8_t byte = 0xFF;
  paloma_result result = PALOMA_ERROR_OS;
  // Another thread holds the legacy lock for the whole of the handle call.
  std::lock_guard<std::recursive_mutex> held(apiMutex());
  std::thread t([&] { result = paloma_status(p, &byte); });
  t.join();
  EXPECT_EQ(result, PALOMA_OK);
  EXPECT_EQ(byte, 0x00);
}

}  // namespace
}  // namespace paloma
