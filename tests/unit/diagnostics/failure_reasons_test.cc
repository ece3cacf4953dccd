// Why a call failed, on the fake: each row makes one cause happen and checks
// the result, the sentence and the OS error number the call leaves for the
// calling thread; a refusal on the first check sends nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "paloma.h"
#include "platform/last_error.h"
#include "support/fake_os.h"
#include "support/wide_text.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const std::string kVid = PALOMA_USB_VENDOR_ID;
const std::string kPeer = "127.0.0.1:9100";
std::string os_(int code) { return std::strerror(code); }
const std::string kNothingOpen =
    "no printer connection is open: open one first (openport, opencomport or openethernet)";

std::string usbPath(const std::string& loc) {
  return "\\\\?\\usb#vid_" + kVid + "&pid_0001#" + loc + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

void openNetwork(FakeOs& f) {
  f.addTcpPeer(kPeer);
  ASSERT_EQ(openethernet("127.0.0.1", 9100), 1);
}
void openLpt(FakeOs& f) {
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
}

struct Cause {
  const char* name;
  std::function<void(FakeOs&)> arrange;
  std::function<std::string()> call;  // the call's result as text
  std::string result;
  std::string reason;  // the whole sentence
  int code;
};

std::string str(int v) { return std::to_string(v); }

const Cause kCauses[] = {
    // ---- openers
    {"openport: neither a spooler printer nor a port name", [](FakeOs&) {},
     [] { return str(openport("nope")); }, "0",
     "no spooler printer named \"nope\", and \"nope\" is not a port name (USB, LPT1 to LPT4, "
     "COM<n> or a /dev/ device path)",
     0},
    {"openport: a serial port that is not there", [](FakeOs&) {},
     [] { return str(openport("COM7")); }, "0",
     "open \"\\\\.\\COM7\": " + os_(ENOENT), ENOENT},
    {"openport: no USB printer of the maker", [](FakeOs& f) { f.setUsbPaths({}); },
     [] { return str(openport("USB")); }, "0",
     "no USB printer with vendor ID " + kVid + " is connected", 0},
    {"openport: the USB device list cannot be read",
     [](FakeOs& f) { f.setUsbPaths({}, /*listOk=*/false); }, [] { return str(openport("USB")); },
     "0", "the list of USB devices cannot be read", 0},
    {"openethernet: refused", [](FakeOs&) {}, [] { return str(openethernet("127.0.0.1", 1)); },
     "0", "connect to 127.0.0.1:1: " + os_(ECONNREFUSED), ECONNREFUSED},
    {"openethernet: no socket", [](FakeOs& f) { f.failSocket(true); },
     [] { return str(openethernet("127.0.0.1", 9100)); }, "0",
     "create a TCP socket: " + os_(EMFILE), EMFILE},
    {"openethernet: a host name", [](FakeOs&) {},
     [] { return str(openethernet("printer.local", 9100)); }, "0",
     "\"printer.local\" is not an IPv4 address such as 192.168.1.20 (host names are not "
     "looked up)",
     0},
    {"compareport: no printer on the port", [](FakeOs& f) { f.addPrinter("A", "usb://a"); },
     [] { return str(compareport("usb://b")); }, "0",
     "no spooler printer has the port \"usb://b\"", 0},
    {"compareport: found but does not open",
     [](FakeOs& f) { f.addPrinter("A", "usb://a", /*openable=*/false); },
     [] { return str(compareport("usb://a")); }, "-1",
     "the spooler printer \"A\" on port \"usb://a\" could not be opened", 0},
    {"opencomport: no such port", [](FakeOs&) {}, [] { return std::string(opencomport("COM9")); },
     "0",
     "\"COM9\" is no serial port that can be opened: " + os_(ENOENT) +
         " (only an existing terminal device opens; nothing was created or changed)",
     ENOENT},
    // ---- writers
    {"sendcommand: the printer closed the connection",
     [](FakeOs& f) {
       openNetwork(f);
       f.failWritesAfter(kPeer, 0);
     },
     [] { return str(sendcommand("CLS")); }, "0", "the printer closed the connection", EPIPE},
    {"sendcommand: a port write fails",
     [](FakeOs& f) {
       openLpt(f);
       f.failWritesAfter("LPT1", 0);
     },
     [] { return str(sendcommand("CLS")); }, "0", "write to the printer port: " + os_(EIO), EIO},
    {"sendcommand: the serial port refuses",
     [](FakeOs& f) {
       f.addDevice("COM3");
       ASSERT_STREQ(opencomport("COM3"), "1");
       f.failWritesAfter("COM3", 0);
     },
     [] { return str(sendcommand("CLS")); }, "0", "write to the serial port: " + os_(EIO), EIO},
    {"sendcommand: no event for the serial write",
     [](FakeOs& f) {
       f.addDevice("COM3");
       ASSERT_STREQ(opencomport("COM3"), "1");
       f.failEvents(true);
     },
     [] { return str(sendcommand("CLS")); }, "0",
     "create an event for the serial write: " + os_(ENOMEM), ENOMEM},
    {"sendcommand: too long", [](FakeOs& f) { openLpt(f); },
     [] { return str(sendcommand(std::string(700000, 'x').c_str())); }, "0",
     "a command of 700000 bytes is too long for the 655350-byte command buffer; nothing was "
     "sent",
     0},
    {"sendBinaryData: the connection lost its transport",
     [](FakeOs& f) {
       openNetwork(f);
       closeethernetport(0);
     },
     [] { return str(sendBinaryData(reinterpret_cast<const unsigned char*>("x"), 1)); }, "0",
     kNothingOpen,
     0},
    {"sendcommand: nothing open", [](FakeOs&) {}, [] { return str(sendcommand("CLS")); }, "0",
     kNothingOpen, 0},
    {"sendcommand: a null text", [](FakeOs& f) { openLpt(f); },
     [] { return str(sendcommand(nullptr)); }, "0", "the text is a null pointer", 0},
    {"sendBinaryData: a negative length", [](FakeOs& f) { openLpt(f); },
     [] { return str(sendBinaryData(reinterpret_cast<const unsigned char*>("x"), -1)); }, "0",
     "the length -1 is negative", 0},
    {"openport: a null name", [](FakeOs&) {}, [] { return str(openport(nullptr)); }, "0",
     "the name is a null pointer", 0},
    {"comport_getstring: a null command", [](FakeOs&) {},
     [] { return std::string(comport_getstring(nullptr, 0)); }, "-1",
     "the command is a null pointer", 0},
    {"windowsfont: nothing open", [](FakeOs&) {},
     [] { return str(windowsfont(0, 0, 20, 0, 0, 0, "Sans", "Hi")); }, "0", kNothingOpen, 0},
    {"usbprinterstatusmult: no such slot", [](FakeOs&) {},
     [] { return std::string(usbprinterstatusmult(0)); }, "error",
     "there is no printer slot 0: slots are numbered 1 to 5", 0},
    {"sendfilemult: nothing open", [](FakeOs&) {},
     [] { return str(sendfilemult(1, "a.prn")); }, "0", kNothingOpen, 0},
    {"ComportSendData: nothing open", [](FakeOs&) {},
     [] { return str(ComportSendData("x")); }, "0", kNothingOpen, 0},
    {"ComportSendData: a network connection has no port", [](FakeOs& f) { openNetwork(f); },
     [] { return str(ComportSendData("x")); }, "0",
     "the open connection has no port to write to: open a serial or USB port first", 0},
    {"SetRS232_port: a null port", [](FakeOs&) {},
     [] { return str(SetRS232_port(nullptr, "9600", "N", "8", "1")); }, "0",
     "the port is a null pointer", 0},
    {"compareport: a null port", [](FakeOs&) {}, [] { return str(compareport(nullptr)); }, "0",
     "the port is a null pointer", 0},
    {"windowsfontM: a null content", [](FakeOs& f) { openLpt(f); },
     [] { return str(windowsfontM(0, 0, 20, 0, 0, 0, "Sans", nullptr)); }, "0",
     "the content is a null pointer", 0},
    {"windowsfontUnicodeLengh: a null face name", [](FakeOs& f) { openLpt(f); },
     [] {
       const auto c = test::wide(u"Hi");
       return str(windowsfontUnicodeLengh(0, 0, 20, 0, 0, 0, nullptr, c.c_str(), 2));
     },
     "0", "the face name is a null pointer", 0},
    {"openportmult: a null name", [](FakeOs&) {}, [] { return str(openportmult(1, nullptr)); },
     "0", "the name is a null pointer", 0},
    {"openethernetmult: no such slot", [](FakeOs&) {},
     [] { return str(openethernetmult(6, "127.0.0.1", 9100)); }, "0",
     "there is no printer slot 6: slots are numbered 1 to 5", 0},
    {"closeethernetportmult: no such slot", [](FakeOs&) {},
     [] { return str(closeethernetportmult(-1, 0)); }, "0",
     "there is no printer slot -1: slots are numbered 1 to 5", 0},
    {"downloadmemorymult: a null memory", [](FakeOs& f) { openLpt(f); },
     [] { return str(downloadmemorymult(1, nullptr, "a.prn", "A")); }, "0",
     "the memory is a null pointer", 0},
    {"clearbuffer: nothing open", [](FakeOs&) {}, [] { return str(clearbuffer()); }, "0",
     kNothingOpen,
     0},
    {"printlabel: does not fit", [](FakeOs& f) { openLpt(f); },
     [] { return str(printlabel(std::string(60, '1').c_str(), "1")); }, "0",
     "the command would be longer than 49 characters; nothing was sent", 0},
    {"barcode: a null argument", [](FakeOs& f) { openLpt(f); },
     [] {
       return str(barcode("1", "1", "128", "50", "1", "0", "2", "2", nullptr));
     },
     "0", "BARCODE: the argument content is a null pointer; nothing was sent", 0},
    {"qrcode: a null argument names it", [](FakeOs& f) { openLpt(f); },
     [] { return str(qrcode("1", "1", "L", "4", "A", "0", "M2", nullptr, "x")); }, "0",
     "QRCODE: the argument mask is a null pointer; nothing was sent", 0},
    {"windowsfont: an empty content", [](FakeOs& f) { openLpt(f); },
     [] { return str(windowsfont(0, 0, 20, 0, 0, 0, "Sans", "")); }, "0",
     "the content is empty: there is no text to draw", 0},
    {"windowsfont: an empty face name", [](FakeOs& f) { openLpt(f); },
     [] { return str(windowsfont(0, 0, 20, 0, 0, 0, "", "Hi")); }, "0",
     "the face name is empty: name an installed font", 0},
    {"windowsfontW: an empty content", [](FakeOs& f) { openLpt(f); },
     [] {
       const auto c = test::wide(u"");
       return str(windowsfontW(0, 0, 20, 0, 0, 0, "Sans", c.c_str()));
     },
     "0", "the content is empty: there is no text to draw", 0},
    {"windowsfontW: a null face name", [](FakeOs& f) { openLpt(f); },
     [] {
       const auto c = test::wide(u"Hi");
       return str(windowsfontW(0, 0, 20, 0, 0, 0, nullptr, c.c_str()));
     },
     "0", "the face name is a null pointer", 0},
    {"printerfontW: a character with no byte", [](FakeOs& f) { openLpt(f); },
     [] {
       const auto c = test::wide(u"A\u0100");
       const auto o = test::wide(u"1");
       return str(printerfontW(o.c_str(), o.c_str(), o.c_str(), o.c_str(), o.c_str(), o.c_str(),
                               c.c_str()));
     },
     "0", "a wide text argument holds U+0100 at unit 1; only U+0000 to U+00FF can be sent as "
     "bytes",
     0},
    {"maxicode: a mode without a template", [](FakeOs& f) { openLpt(f); },
     [] { return str(maxicode("1", "1", "7", "", "", "", "x")); }, "0",
     "maxicode mode must begin with 2, 3, 4 or 5; nothing was sent", 0},
    // ---- queries
    {"ethernetprinterstatus: silence",
     [](FakeOs& f) { openNetwork(f); }, [] { return std::string(ethernetprinterstatus()); },
     "-1", "no reply within 1 s", 0},
    {"ethernetprinterstatus: closed",
     [](FakeOs& f) {
       openNetwork(f);
       f.queueRecvClosed(kPeer);
     },
     [] { return std::string(ethernetprinterstatus()); }, "-1",
     "the printer closed the connection", 0},
    {"ethernetprinterstatus: a receive error",
     [](FakeOs& f) {
       openNetwork(f);
       f.queueRecvError(kPeer, kNetConnReset);
     },
     [] { return std::string(ethernetprinterstatus()); }, "-1",
     "the printer closed the connection", ECONNRESET},
    {"ethernetprinterstatus: an error of an earlier query stays recorded",
     [](FakeOs& f) {
       openNetwork(f);
       ASSERT_STREQ(ethernetprinterstatus(), "-1");
       f.queueRecv(kPeer, std::string(1, '\0'));
     },
     [] { return std::string(ethernetprinterstatus()); }, "-1",
     "an earlier network error is still recorded: open the connection again with openethernet",
     0},
    {"ethernet_getstring: a flood without the marker",
     [](FakeOs& f) {
       openNetwork(f);
       for (int i = 0; i < 20; ++i) f.queueRecv(kPeer, std::string(4000, 'x'));
     },
     [] { return std::string(ethernet_getstring("RFID READ", 0)); }, "-1",
     "the reply filled 65536 bytes without the end marker ENDLINE", 0},
    {"ethernet_getstring: closed before the marker",
     [](FakeOs& f) {
       openNetwork(f);
       f.queueRecv(kPeer, "E200");
       f.queueRecvClosed(kPeer);
     },
     [] { return std::string(ethernet_getstring("RFID READ", 0)); }, "-1",
     "the printer closed the connection before the end marker ENDLINE", 0},
    {"comportprinterstatus: silence",
     [](FakeOs& f) {
       f.addDevice("COM3");
       ASSERT_STREQ(opencomport("COM3"), "1");
     },
     [] { return std::string(comportprinterstatus()); }, "-2", "no reply within 0.5 s", 0},
    {"comportprinterstatus: an unknown status byte",
     [](FakeOs& f) {
       f.addDevice("COM3");
       ASSERT_STREQ(opencomport("COM3"), "1");
       f.queueRead("COM3", "\x41");
     },
     [] { return std::string(comportprinterstatus()); }, "-2",
     "the printer answered with the unknown status byte 0x41", 0},
    {"usbprinterstatus: no printer", [](FakeOs& f) { f.setUsbPaths({}); },
     [] { return std::string(usbprinterstatus()); }, "-1",
     "no USB printer with vendor ID " + kVid + " is connected", 0},
    {"ethernetprintersetting: a request too long", [](FakeOs& f) { openNetwork(f); },
     [] { return std::string(ethernetprintersetting(std::string(1100, 'a').c_str(), "b", "c")); },
     "-1", "the setting request would be longer than 1023 bytes; nothing was sent", 0},
    // ---- files
    {"downloadbmp: a missing file",
     [](FakeOs& f) { openLpt(f); }, [] { return str(downloadbmp("labels/missing.bmp", "X")); },
     "0", "open \"labels/missing.bmp\": " + os_(ENOENT), ENOENT},
    {"sendfile: nothing open", [](FakeOs&) {}, [] { return str(sendfile("labels/x.prn")); }, "0",
     kNothingOpen,
     0},
    {"downloadpcx: a name that makes the header too long",
     [](FakeOs& f) {
       openLpt(f);
       f.addDevice("a.pcx", "PCX");
     },
     [] { return str(downloadpcx("a.pcx", std::string(95, 'n').c_str())); }, "0",
     "the DOWNLOAD header would be 109 characters; at most 99 fit (shorten the name)", 0},
    // ---- slots
    {"sendcommandmult: no such slot", [](FakeOs&) {}, [] { return str(sendcommandmult(9, "x")); },
     "0", "there is no printer slot 9: slots are numbered 1 to 5", 0},
    {"setupmult: the slot holds nothing", [](FakeOs&) {},
     [] { return str(setupmult(2, "4", "3", "4", "8", "0", "2", "0")); }, "0",
     "printer slot 2 has no USB printer or spooler job open (openusbportmult or openportmult)",
     0},
    {"openusbportmult: fewer printers than the slot's number",
     [](FakeOs& f) {
       f.setUsbPaths({usbPath("a")});
       f.addDevice(usbPath("a"));
     },
     [] { return str(openusbportmult(3)); }, "0",
     "printer slot 3 has no USB printer: fewer than 3 are connected", 0},
    {"ethernetprinterstatusmult: the slot has no connection", [](FakeOs&) {},
     [] { return std::string(ethernetprinterstatusmult(4)); }, "-1",
     "printer slot 4 has no network connection open", 0},
    // ---- discovery
    {"broadcast: the port is taken", [](FakeOs& f) { f.failBind(true); },
     [] { return std::string(broadcast()); }, "0",
     "bind UDP port 22368 for the discovery probe (is another program using it?): " +
         os_(EADDRINUSE),
     EADDRINUSE},
    {"broadcast: nobody answers", [](FakeOs&) {}, [] { return std::string(broadcast()); }, "-1",
     "no printer answered the discovery probe within 3 s", 0},
    // ---- host-font text
    {"windowsfont: wholly left of the label",
     [](FakeOs& f) {
       openLpt(f);
       f.setTextExtent(40, 20);
     },
     [] { return str(windowsfont(-100, 0, 20, 0, 0, 0, "Sans", "Hi")); }, "0",
     "the text lies wholly left of or above the label's origin; nothing was sent", 0},
    {"windowsfont: too large a bitmap",
     [](FakeOs& f) {
       openLpt(f);
       f.setTextExtent(5000, 20);
     },
     [] { return str(windowsfont(0, 0, 20, 0, 0, 0, "Sans", "Hi")); }, "0",
     "the text's bitmap would be 5000 x 20 dots; at most 2400 x 12000 fit", 0},
};

// Test names and ctest's listing show the cause, not the row's bytes.
void PrintTo(const Cause& c, std::ostream* os) { *os << c.name; }

class FailureReason : public ::testing::TestWithParam<Cause> {};

TEST_P(FailureReason, IsRecordedWithItsOsError) {
  const Cause& c = GetParam();
  FakeOsScope scope;
  c.arrange(scope.fake());
  if (::testing::Test::HasFatalFailure()) return;
  // A reason left by the arranging steps must not pass for the call's own.
  paloma_clear_error();
  EXPECT_EQ(c.call(), c.result);
  EXPECT_EQ(std::string(paloma_last_error()), c.reason);
  EXPECT_EQ(paloma_last_error_code(), c.code);
}

INSTANTIATE_TEST_SUITE_P(Causes, FailureReason, ::testing::ValuesIn(kCauses),
                         [](const ::testing::TestParamInfo<Cause>& info) {
                           // "openport: refused" -> "openport_refused"
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             bool word = std::isalnum(static_cast<unsigned char>(*p)) != 0;
                             if (word)
                               name += *p;
                             else if (!name.empty() && name.back() != '_')
                               name += '_';
                           }
                           while (!name.empty() && name.back() == '_') name.pop_back();
                           return name;
                         });

// A refusal on the first check names its cause and sends nothing, though a
// port is open to take the bytes.
TEST(LastError, FirstLineRefusalsSendNothing) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  openLpt(f);
  const auto* bytes = reinterpret_cast<const unsigned char*>("xyz");
  const auto wideNull = static_cast<const paloma_wchar*>(nullptr);
  const std::vector<std::pair<std::function<int()>, std::string>> refusals = {
      {[] { return sendcommand(nullptr); }, "the text is a null pointer"},
      {[] { return sendcommandnocrlf(nullptr); }, "the text is a null pointer"},
      {[&] { return sendcommandW(wideNull); }, "the text is a null pointer"},
      {[&] { return sendBinaryData(bytes, -3); }, "the length -3 is negative"},
      {[] { return sendBinaryDataNoCRLF(nullptr, 3); }, "the data is a null pointer"},
      {[] { return ComportSendData(nullptr); }, "the text is a null pointer"},
      {[] { return sendcommandmult(1, nullptr); }, "the text is a null pointer"},
      {[] { return windowsfontM(0, 0, 20, 0, 0, 0, nullptr, nullptr); },
       "the content is a null pointer"},
  };
  for (std::size_t i = 0; i < refusals.size(); ++i) {
    paloma_clear_error();
    EXPECT_EQ(refusals[i].first(), 0) << "refusal " << i;
    EXPECT_EQ(std::string(paloma_last_error()), refusals[i].second) << "refusal " << i;
  }
  EXPECT_EQ(f.wire("LPT1"), "");
  // The port stays usable after the refusals.
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(f.wire("LPT1"), "CLS\r\n");
}

}  // namespace
}  // namespace paloma
