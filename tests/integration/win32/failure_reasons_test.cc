// Why a call failed, on the Windows backend: the OS error numbers are
// Winsock's and the system's, and their text comes from FormatMessage.
#include <gtest/gtest.h>

#include <string>

#include "paloma.h"
#include "peer.h"

namespace paloma::test {
namespace {

// The system's sentence for an error number, as FormatMessage gives it,
// without its full stop and line end.
std::string systemText(DWORD code) {
  char buf[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  std::string s(buf, n);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.'))
    s.pop_back();
  return s;
}

TEST(Win32FailureReasons, RefusedConnectAndMissingPortCarryTheSystemsText) {
  WinsockScope winsock;
  paloma_clear_error();
  const int port = closedLoopbackPort();
  ASSERT_EQ(openethernet("127.0.0.1", port), 0);
  EXPECT_EQ(paloma_last_error_code(), WSAECONNREFUSED);
  const std::string refused = systemText(WSAECONNREFUSED);
  ASSERT_FALSE(refused.empty());
  EXPECT_EQ(std::string(paloma_last_error()),
            "connect to 127.0.0.1:" + std::to_string(port) + ": " + refused);

  EXPECT_EQ(openport("COM98"), 0);
  EXPECT_EQ(std::string(paloma_last_error()).rfind("open \"\\\\.\\COM98\": ", 0), 0u)
      << paloma_last_error();
  EXPECT_NE(paloma_last_error_code(), 0);
  EXPECT_EQ(std::string(paloma_last_error()).find("error "), std::string::npos)
      << "a system sentence, not a bare number: " << paloma_last_error();
}

}  // namespace
}  // namespace paloma::test
