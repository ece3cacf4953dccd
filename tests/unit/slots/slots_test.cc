// The printer slots on the fake: slot 1 shared with the single connection,
// the USB slot assignment, one transport closed per call, the per-slot line
// ends, which functions a network-only slot takes, and the file and
// host-font twins.
#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "paloma.h"
#include "query/reply_state.h"
#include "slots/slot_table.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const bool kRegistered = (test::registerStateReset(&resetSlotTable), true);

std::string usbPath(const std::string& loc) {
  return std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID + "&pid_0001#" + loc +
         "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

std::vector<std::string> dataOf(const std::vector<test::JournalEntry>& writes) {
  std::vector<std::string> out;
  for (const auto& w : writes) out.push_back(w.data);
  return out;
}

// Puts a socket on "127.0.0.1:<port>" into slot n, as openethernetmult does.
void attachSocket(FakeOs& f, int n, int port) {
  std::string hp = "127.0.0.1:" + std::to_string(port);
  f.addTcpPeer(hp);
  Socket s = f.tcpSocket();
  f.tcpConnect(s, 0x7F000001, static_cast<std::uint16_t>(port));
  slot(n).socket = s;
  slot(n).networkMode = 1;
}

TEST(Slots, SlotOneIsTheSingleConnection) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Front", "p1");
  ASSERT_EQ(openportmult(1, "Front"), 1);
  EXPECT_EQ(connection().isOpen, 1);
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(dataOf(f.writes("spooler:Front")), (std::vector<std::string>{"CLS", "\r\n"}));
  EXPECT_EQ(closeport(), 1);
  EXPECT_FALSE(f.isOpen("spooler:Front"));
  EXPECT_EQ(slot(1).spoolerMode, 0);
}

TEST(Slots, OpenPortMultOutsideTheRangeStillNamesThePort) {
  FakeOsScope scope;
  scope.fake().addPrinter("Back", "p2");
  EXPECT_EQ(openportmult(6, "Back"), 0);
  EXPECT_STREQ(connection().portName, "Back");
  EXPECT_EQ(openportmult(2, "Back"), 1);
  EXPECT_EQ(connection().isOpen, 0);  // only slot 1 opens the single connection
}

TEST(Slots, UsbSlotsFollowEnumerationOrder) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.setUsbPaths({usbPath("one")});
  EXPECT_EQ(openusbportmult(2), 0);
  EXPECT_EQ(f.messages(), (std::vector<std::string>{"Error Message|Couldn't create port by USB."}));
  f.setUsbPaths({usbPath("one"), usbPath("two")});
  f.clearJournal();
  ASSERT_EQ(openusbportmult(2), 1);
  EXPECT_EQ(f.targetOf(slot(2).handle), usbPath("two"));
  EXPECT_EQ(connection().isOpen, 1);
  f.setUsbPaths({});
  EXPECT_EQ(openusbportmult(3), 0);
  EXPECT_EQ(f.messages().back(), "Error Message|Can't find printer by USB.");
  for (int bad : {0, -1, 6}) {
    connection().isOpen = 1;
    EXPECT_EQ(openusbportmult(bad), 0);
    EXPECT_EQ(f.messages().back(), "Error Message|Can't using USB_Mult port");
    EXPECT_EQ(connection().isOpen, 0);
  }
}

TEST(Slots, ReopeningASlotReleasesWhatItHeld) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("A", "a");
  f.setUsbPaths({usbPath("one"), usbPath("two")});
  ASSERT_EQ(openusbportmult(2), 1);
  ASSERT_EQ(openusbportmult(2), 1);
  ASSERT_EQ(openportmult(2, "A"), 1);
  EXPECT_FALSE(f.isOpen(usbPath("two")));
  EXPECT_EQ(slot(2).usbMode, 0);
  EXPECT_EQ(f.entries("close").size(), 2u);
}

TEST(Slots, FailedUsbOpensReleaseTheDeviceTheyDrop) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.setUsbPaths({usbPath("one"), usbPath("two")});
  ASSERT_EQ(openusbportmult(2), 1);
  f.setUsbPaths({usbPath("one")});  // slot 2's printer is gone
  EXPECT_EQ(openusbportmult(2), 0);
  EXPECT_EQ(slot(2).usbMode, 0);
  EXPECT_FALSE(f.isOpen(usbPath("two")));
  ASSERT_EQ(openusbportmult(1), 1);
  f.setUsbPaths({});  // no printer at all
  EXPECT_EQ(openusbportmult(1), 0);
  EXPECT_EQ(connection().usbMode, 0);
  EXPECT_FALSE(f.isOpen(usbPath("one")));
}

TEST(Slots, RefusedUsbSlotNumberEndsSlotOnesSpoolerJob) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Front", "p1");
  ASSERT_EQ(openport("Front"), 1);
  EXPECT_EQ(openusbportmult(0), 0);
  EXPECT_EQ(connection().spoolerMode, 0);
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_EQ(f.entries("spooler-end-doc").size(), 1u);
  EXPECT_FALSE(f.isOpen("spooler:Front"));
}

TEST(Slots, OpeningSlotOneClosesTheConnectionsPortFirst) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("A", "a");
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
  ASSERT_EQ(openportmult(1, "A"), 1);
  EXPECT_FALSE(f.isOpen("LPT1"));
  EXPECT_EQ(connection().lptMode, 0);
  EXPECT_EQ(closeport(), 1);
  EXPECT_FALSE(f.isOpen("spooler:A"));
  EXPECT_EQ(closeport(), 0);

  f.addDevice("\\\\.\\COM1");
  f.setUsbPaths({usbPath("one")});
  ASSERT_EQ(openport("COM1"), 1);
  f.clearJournal();
  ASSERT_EQ(openusbportmult(1), 1);
  EXPECT_FALSE(f.isOpen("\\\\.\\COM1"));
  EXPECT_EQ(connection().serialMode, 0);
  EXPECT_EQ(f.sleeps(), (std::vector<long>{100}));
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(f.wire(usbPath("one")), "CLS\r\n");
}

TEST(Slots, CloseTheSlotsDeviceThenFallBack) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("A", "a");
  ASSERT_EQ(openportmult(3, "A"), 1);
  EXPECT_EQ(closeportmult(3), 1);
  EXPECT_EQ(slot(3).usbMode, 0);
  EXPECT_EQ(slot(3).spoolerMode, 0);
  EXPECT_EQ(f.entries("spooler-end-doc").size(), 1u);
  // Nothing open in slot 3: the single connection's parallel port closes.
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
  EXPECT_EQ(closeportmult(3), 1);
  EXPECT_EQ(connection().lptMode, 0);
  EXPECT_FALSE(f.isOpen("LPT1"));
}

TEST(Slots, NetworkLineEndsAndTheDeviceGate) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  attachSocket(f, 2, 9102);
  attachSocket(f, 3, 9103);
  EXPECT_EQ(sendcommandmult(2, "CLS"), 1);
  EXPECT_EQ(sendcommandmult(3, "CLS"), 1);
  EXPECT_EQ(dataOf(f.writes("127.0.0.1:9102")), (std::vector<std::string>{"CLS", "\r\n"}));
  EXPECT_EQ(dataOf(f.writes("127.0.0.1:9103")),
            (std::vector<std::string>{"CLS", std::string("\r\n\0", 3)}));
  f.clearJournal();
  // The gated builders serve USB and spooler slots only.
  EXPECT_EQ(clearbuffermult(2), 0);
  EXPECT_EQ(setupmult(2, "1", "2", "3", "4", "0", "2", "0"), 0);
  EXPECT_TRUE(f.writes().empty());
  EXPECT_EQ(printerfontmult(2, "1", "2", "3", "0", "1", "1", "Hi"), 1);
  EXPECT_EQ(f.wire("127.0.0.1:9102"), "TEXT 1,2,\"3\",0,1,1,\"Hi\"\r\n");
  EXPECT_EQ(printerfontmult(4, "1", "2", "3", "0", "1", "1", "Hi"), 0);  // closed slot
  EXPECT_EQ(printerfontmult(6, "1", "2", "3", "0", "1", "1", "Hi"), 0);
  EXPECT_EQ(sendcommandmult(0, "CLS"), 0);
  EXPECT_EQ(sendcommandmult(4, "CLS"), 0);
}

TEST(Slots, GatedBuildersSendTheSingleConnectionsBytes) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Lab", "l");
  ASSERT_EQ(openportmult(4, "Lab"), 1);
  EXPECT_EQ(setupmult(4, "50", "30", "4", "8", "1", "2", "0"), 1);
  EXPECT_EQ(clearbuffermult(4), 1);
  EXPECT_EQ(nobackfeedmult(4), 1);
  EXPECT_EQ(formfeedmult(4), 1);
  EXPECT_EQ(barcodemult(4, "10", "20", "128", "50", "1", "0", "2", "4", "@COUNT"), 1);
  EXPECT_EQ(printlabelmult(4, "1", "2"), 1);
  EXPECT_EQ(f.wire("spooler:Lab"),
            "SIZE 50 mm,30 mm\r\nSPEED 4\r\nDENSITY 8\r\nBLINE 2 mm,0 mm\r\nCLS\r\n"
            "SET STRIPER OFF\r\nSET TEAR OFF\r\nFORMFEED\r\n"
            "BARCODE 10,20,\"128\",50,1,0,2,4,@COUNT\r\nPRINT 1,2\r\n");
  // A page setup that does not fit is not half sent.
  std::string wide(200, '9');
  f.clearJournal();
  EXPECT_EQ(setupmult(4, "50", "30", "4", "8", "1", wide.c_str(), "0"), 0);
  EXPECT_TRUE(f.writes().empty());
}

TEST(Slots, FileTwinsAndTheirOpenChecks) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Lab", "l");
  f.addDevice("logo.bmp", std::string("B\0M\r\n", 5));
  ASSERT_EQ(openportmult(2, "Lab"), 1);
  ASSERT_EQ(connection().isOpen, 0);
  EXPECT_EQ(sendfilemult(2, "logo.bmp"), 0);  // needs the single connection open
  EXPECT_TRUE(f.entries("open").empty());
  EXPECT_EQ(downloadmemorymult(2, "F", "logo.bmp", "LOGO.BMP"), 0);
  EXPECT_EQ(downloadbmpmult(2, "logo.bmp", "LOGO.BMP"), 1);
  EXPECT_EQ(dataOf(f.writes("spooler:Lab")),
            (std::vector<std::string>{"DOWNLOAD \"LOGO.BMP\",5,", std::string("B\0M\r\n", 5),
                                      "\r\n"}));
  f.clearJournal();
  EXPECT_EQ(downloadpcxmult(9, "logo.bmp", "LOGO.PCX"), 0);
  EXPECT_TRUE(f.writes().empty());
  connection().isOpen = 1;
  EXPECT_EQ(downloadmemorymult(2, "F", "logo.bmp", "L"), 1);
  EXPECT_EQ(f.writes("spooler:Lab")[0].data, "DOWNLOAD F,\"L\",5,");
  // A name or memory that would end the header early is refused, unsent.
  f.clearJournal();
  EXPECT_EQ(downloadbmpmult(2, "logo.bmp", "A\r\nPRINT 9,9\r\n"), 0);
  EXPECT_EQ(downloadmemorymult(2, "F\"", "logo.bmp", "L"), 0);
  EXPECT_EQ(downloadpcxmult(2, "logo.bmp", "L\",9"), 0);
  EXPECT_TRUE(f.writes().empty());
  // A network-only slot takes no files.
  attachSocket(f, 5, 9105);
  f.clearJournal();
  EXPECT_EQ(sendfilemult(5, "logo.bmp"), 0);
  EXPECT_TRUE(f.writes().empty());
  EXPECT_EQ(downloadbmpmult(2, "missing.bmp", "X"), 0);
  EXPECT_EQ(f.messages().back(), "Error Message|Could not open file");
  // The file is read before the slot is looked at: its failure is shown for
  // a closed slot or a number outside the table too.
  f.clearJournal();
  EXPECT_EQ(downloadpcxmult(9, "missing.bmp", "X"), 0);
  EXPECT_EQ(sendfilemult(3, "missing.bmp"), 0);
  EXPECT_EQ(f.messages(), (std::vector<std::string>{"Error Message|Could not open file",
                                                    "Error Message|Could not open file"}));
}

TEST(Slots, HostFontTwinsWriteToTheSlotOnly) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.setTextExtent(10, 3);
  f.addPrinter("Lab", "l");
  ASSERT_EQ(openportmult(2, "Lab"), 1);
  EXPECT_EQ(windowsfontmult(2, 0, 0, 20, 0, 0, 0, "DejaVu Sans", "Hi"), 1);
  EXPECT_EQ(dataOf(f.writes("spooler:Lab")),
            (std::vector<std::string>{"BITMAP 0,0,2,3,1," + std::string(6, '\xFF') + "\r\n"}));
  const paloma_wchar cjk[] = {static_cast<paloma_wchar>(0x4E00), 0};
  EXPECT_EQ(windowsfontMmult(2, 0, 0, 20, 0, 0, 0, "Noto", cjk), 1);
  EXPECT_EQ(windowsfontUnicodemult(2, 0, 0, 20, 0, 0, 0, "", cjk), 0);
  EXPECT_STREQ(paloma_last_error(), "the face name is empty: name an installed font");
  EXPECT_EQ(windowsfontmult(2, 0, 0, 20, 0, 0, 0, "DejaVu Sans", ""), 0);
  EXPECT_STREQ(paloma_last_error(), "the content is empty: there is no text to draw");
  EXPECT_EQ(windowsfontMmult(2, 0, 0, 20, 0, 0, 0, "Noto", nullptr), 0);
  EXPECT_NE(std::string(paloma_last_error()).find("the content"), std::string::npos);
  EXPECT_EQ(windowsfontmult(3, 0, 0, 20, 0, 0, 0, "DejaVu Sans", "Hi"), 0);  // closed slot
  attachSocket(f, 4, 9104);
  EXPECT_EQ(windowsfontmult(4, 0, 0, 20, 0, 0, 0, "DejaVu Sans", "Hi"), 0);  // network only
  EXPECT_TRUE(f.writes("127.0.0.1:9104").empty());
  EXPECT_TRUE(f.entries("open").empty());  // no trace file anywhere
}

TEST(Slots, CloseEthernetPortMult) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  attachSocket(f, 3, 9103);
  EXPECT_EQ(closeethernetportmult(0, 5000), 0);
  EXPECT_TRUE(f.sleeps().empty());
  EXPECT_EQ(closeethernetportmult(3, 250), 1);
  EXPECT_EQ(f.sleeps(), (std::vector<long>{250}));
  EXPECT_FALSE(f.isOpen("127.0.0.1:9103"));
  EXPECT_EQ(slot(3).networkMode, 0);
  EXPECT_EQ(closeethernetportmult(3, 0), 1);  // closing a closed slot is harmless
}

}  // namespace
}  // namespace paloma

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

TEST(SlotQueries, SlotNumbersOutsideTheTableGiveError) {
  FakeOsScope scope;
  for (int n : {0, 6}) {
    EXPECT_STREQ(usbprinterstatusmult(n), "error");
    EXPECT_STREQ(ethernetprinterstatusmult(n), "error");
    EXPECT_STREQ(usbprintersettingmult(n, "a", "b", "c"), "error");
    EXPECT_STREQ(ethernetprintersettingmult(n, "a", "b", "c"), "error");
  }
  EXPECT_TRUE(scope.fake().writes().empty());
}

TEST(SlotQueries, SlotsWithoutTheQueriedTransportAreNotTouched) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Lab", "l");
  ASSERT_EQ(openportmult(3, "Lab"), 1);  // a spooler job: no USB device, no socket
  attachSocket(f, 2, 9102);
  ASSERT_EQ(closeethernetportmult(2, 0), 1);
  f.clearJournal();
  EXPECT_STREQ(usbprinterstatusmult(3), "-1");
  EXPECT_STREQ(usbprintersettingmult(3, "a", "b", "c"), "");
  EXPECT_STREQ(ethernetprinterstatusmult(2), "-1");
  EXPECT_STREQ(ethernetprintersettingmult(5, "a", "b", "c"), "-1");
  EXPECT_TRUE(f.writes().empty());
  EXPECT_TRUE(f.entries("read").empty());
  EXPECT_EQ(replies().NetworkError, 0);  // no failed receive to remember
}

TEST(SlotQueries, OpenEthernetMultAndTheSharedNetworkError) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addTcpPeer("127.0.0.1:9102");
  f.addTcpPeer("127.0.0.1:9104");
  EXPECT_EQ(openethernetmult(2, "localhost", 9102), 0);  // no name lookup
  EXPECT_EQ(openethernetmult(6, "127.0.0.1", 9102), 0);
  ASSERT_EQ(openethernetmult(2, "127.0.0.1", 9102 + 65536), 1);
  ASSERT_EQ(openethernetmult(4, "127.1", 9104), 1);  // the short form of 127.0.0.1
  EXPECT_EQ(connection().isOpen, 1);
  EXPECT_EQ(connection().networkMode, 0);  // a slot's socket is its own
  EXPECT_EQ(f.entries("nodelay").size(), 2u);

  // Slot 2's printer says nothing: the receive fails, and the error then
  // answers for slot 4 too, until a network opener clears it.
  EXPECT_STREQ(ethernetprinterstatusmult(2), "-1");
  f.queueRecv("127.0.0.1:9104", std::string(1, '\x10'));
  EXPECT_STREQ(ethernetprinterstatusmult(4), "-1");
  ASSERT_EQ(openethernetmult(4, "127.0.0.1", 9104), 1);
  f.queueRecv("127.0.0.1:9104", std::string(1, '\x10'));
  EXPECT_STREQ(ethernetprinterstatusmult(4), "10");
  auto sent = f.writes("127.0.0.1:9104");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().data, std::string("\x1b!?\r\n", 5) + std::string(195, '\0'));
}

TEST(SlotQueries, SettingRequestsAndReplies) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addTcpPeer("127.0.0.1:9103");
  ASSERT_EQ(openethernetmult(3, "127.0.0.1", 9103), 1);
  f.queueRecv("127.0.0.1:9103", "203\r\n");
  EXPECT_STREQ(ethernetprintersettingmult(3, "SYSTEM", "INFORMATION", "DPI"), "203\r\n");
  const std::string request =
      "OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT CHR$(02)\r\n";
  auto sent = f.writes("127.0.0.1:9103");
  std::string block;
  for (const auto& w : sent) block += w.data;
  ASSERT_EQ(block.size(), 1024u);
  EXPECT_EQ(block, request + std::string(1024 - request.size(), '\0'));

  // USB: the slot's handle, the request alone, the reply without its line
  // ends, joined across packets.
  std::string path = usbPath("one");
  f.setUsbPaths({path});
  ASSERT_EQ(openusbportmult(2), 0);  // one printer: slot 2 has none
  ASSERT_EQ(openusbportmult(1), 1);
  f.queueRead(path, "2");
  f.queueRead(path, "03\r\n\x02\r\n");
  f.clearJournal();
  EXPECT_STREQ(usbprintersettingmult(1, "SYSTEM", "INFORMATION", "DPI"), "203");
  auto w = f.writes(path);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].data, request);
  EXPECT_EQ(f.sleeps(), (std::vector<long>{100, 100, 100, 100}));

  f.queueRead(path, std::string(1, '\x80'));
  EXPECT_STREQ(usbprinterstatusmult(1), "80");
  EXPECT_STREQ(usbprinterstatusmult(1), "00");  // silent: nothing read
  EXPECT_TRUE(f.isOpen(path));                  // the slot keeps its device
}

}  // namespace
}  // namespace paloma

namespace paloma::test {
namespace {

// A slot's failed connect leaves no socket of its own open, and the slot
// keeps the connection it held.
TEST(SlotQueries, AFailedSlotConnectLeavesNoSocketOpen) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addTcpPeer("127.0.0.1:9102");
  ASSERT_EQ(openethernetmult(2, "127.0.0.1", 9102), 1);
  ASSERT_EQ(f.openSockets(), 1);
  EXPECT_EQ(openethernetmult(2, "127.0.0.1", 9109), 0);
  EXPECT_EQ(openethernetmult(3, "127.0.0.1", 9109), 0);
  EXPECT_EQ(f.openSockets(), 1);
  EXPECT_EQ(f.entries("close-socket").size(), 2u);
  f.queueRecv("127.0.0.1:9102", std::string(1, '\0'));
  EXPECT_STREQ(ethernetprinterstatusmult(2), "00");  // still connected
}

}  // namespace
}  // namespace paloma::test
