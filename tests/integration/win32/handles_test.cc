// Printer handles on Winsock, against a printer stand-in on 127.0.0.1: the
// bytes of a command, a status answer, an information answer in two pieces,
// a silent printer's bound, and a close that delivers everything sent.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "paloma.h"
#include "peer.h"

namespace paloma::test {
namespace {

class Win32Handles : public ::testing::Test {
 protected:
  WinsockScope winsock_;
};

TEST_F(Win32Handles, CommandsQueriesAndCloseOnOneHandle) {
  LoopbackListener listener;
  const std::string uri = "tcp://127.0.0.1:" + std::to_string(listener.port());
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(uri.c_str(), &p), PALOMA_OK) << paloma_last_error();
  PeerSocket printer(listener.accept(2000));
  ASSERT_TRUE(printer.valid());

  ASSERT_EQ(paloma_send_command(p, "CLS"), PALOMA_OK);
  EXPECT_EQ(printer.readAtLeast(5, 2000), "CLS\r\n");

  std::string request;
  std::thread answer([&] {
    request = printer.readAtLeast(5, 2000);
    printer.sendBytes(std::string("\x06", 1));
  });
  std::uint8_t byte = 0;
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_OK) << paloma_last_error();
  answer.join();
  EXPECT_EQ(request, "\x1b!?\r\n");
  EXPECT_EQ(byte, 0x06);
  EXPECT_STREQ(paloma_status_text(byte), "paper jam, paper empty");

  std::thread name([&] {
    printer.readUntilQuiet(200, 2000);
    printer.sendBytes("MODEL");
    Sleep(50);
    printer.sendBytes("-W\r\n\x02\r\n");
  });
  char buf[32];
  EXPECT_EQ(paloma_info(p, "name", buf, sizeof buf), PALOMA_OK) << paloma_last_error();
  name.join();
  EXPECT_STREQ(buf, "MODEL-W");

  ASSERT_EQ(paloma_set_reply_timeout(p, 300), PALOMA_OK);
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_ERROR_NO_REPLY);

  std::string block(100000, 'z');
  ASSERT_EQ(paloma_write(p, block.data(), block.size()), PALOMA_OK);
  EXPECT_EQ(paloma_close(p), PALOMA_OK);
  std::string got = printer.readUntilQuiet(1000, 5000);
  EXPECT_EQ(got.size(), 5 + block.size());  // the unanswered request, then the block
  EXPECT_EQ(got.substr(got.size() - block.size()), block);
}

TEST_F(Win32Handles, RefusedConnectionGivesNoHandle) {
  std::uint16_t port = 0;
  {
    LoopbackListener gone;
    port = gone.port();
  }
  paloma_printer* p = nullptr;
  const std::string uri = "tcp://127.0.0.1:" + std::to_string(port);
  EXPECT_NE(paloma_open(uri.c_str(), &p), PALOMA_OK);
  EXPECT_EQ(p, nullptr);
  EXPECT_STRNE(paloma_last_error(), "");
}

}  // namespace
}  // namespace paloma::test
