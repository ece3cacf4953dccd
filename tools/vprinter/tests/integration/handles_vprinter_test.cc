// Printer handles against the virtual printer over TCP and its
// pseudo-terminal: the same answers on both transports, the same answers as
// the single connection's queries, and labels that print.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paloma.h"
#include "support/posix/vprinter_process.h"

namespace {

struct Answer {
  const char* key;
  std::string value;
};

TEST(HandlesOnTheVirtualPrinter, TcpAndSerialAnswerAlikeAndPrint) {
  paloma::test::VPrinterProcess vp(VPRINTER_EXE, {"--listen", "127.0.0.1:0", "--serial"});
  ASSERT_NE(vp.port(), 0);
  std::string pty = vp.waitFor("serial port ");
  ASSERT_FALSE(pty.empty());

  // The single connection's answers are the reference.
  ASSERT_EQ(openethernet("127.0.0.1", vp.port()), 1);
  const std::vector<Answer> expected = {
      {"name", ethernetprintername()},         {"dpi", ethernetprinterdpi()},
      {"codepage", ethernetprintercodepage()}, {"free_memory", ethernetprinterfreememory()},
      {"setting:SYSTEM/INFORMATION/DPI", ethernetprinterdpi()},
  };
  closeethernetport(0);

  for (const std::string& uri : {vp.uri(), "serial:" + pty + "?baud=9600", pty}) {
    SCOPED_TRACE(uri);
    paloma_printer* p = nullptr;
    ASSERT_EQ(paloma_open(uri.c_str(), &p), PALOMA_OK) << paloma_last_error();
    std::uint8_t byte = 0xEE;
    ASSERT_EQ(paloma_status(p, &byte), PALOMA_OK) << paloma_last_error();
    EXPECT_EQ(byte, 0x00);
    char buf[256];
    for (const Answer& a : expected) {
      ASSERT_EQ(paloma_info(p, a.key, buf, sizeof buf), PALOMA_OK) << a.key << ": "
                                                                   << paloma_last_error();
      // The single connection hands the reply back with its line end.
      std::string want = a.value.substr(0, a.value.find_first_of("\r\n"));
      EXPECT_EQ(buf, want) << a.key;
    }
    ASSERT_EQ(paloma_info(p, "serial", buf, sizeof buf), PALOMA_OK);
    EXPECT_STRNE(buf, "");
    for (const char* c : {"SIZE 40 mm,20 mm", "CLS", "TEXT 10,10,\"3\",0,1,1,\"H\"", "PRINT 1"})
      ASSERT_EQ(paloma_send_command(p, c), PALOMA_OK);
    EXPECT_EQ(paloma_close(p), PALOMA_OK);
    EXPECT_NE(vp.waitFor("label "), "");
  }
}

}  // namespace
