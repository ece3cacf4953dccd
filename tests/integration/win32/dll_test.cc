// PALOMA.dll itself, loaded as an application loads it: by name, functions
// found by their exported names, driving a printer stand-in on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peer.h"

namespace paloma::test {
namespace {

using OpenEthernet = int (*)(const char*, int);
using SendCommand = int (*)(const char*);
using CloseEthernet = int (*)(int);
using CloseAll = int (*)();
using Version = const char* (*)();
using About = int (*)();
using Handler = void (*)(const char*, const char*, int, void*);
using SetHandler = Handler (*)(Handler, void*);
using UsbPortWrite = int (*)(const char*);

class Win32Dll : public ::testing::Test {
 protected:
  void SetUp() override {
    dll_ = LoadLibraryA("PALOMA.dll");
    ASSERT_NE(dll_, nullptr) << "PALOMA.dll does not load (error " << GetLastError() << ")";
  }
  void TearDown() override {
    if (dll_) FreeLibrary(dll_);
  }
  template <typename F>
  F fn(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll_, name)));
  }
  HMODULE dll_ = nullptr;
};

TEST_F(Win32Dll, PlainAndDecoratedNamesResolve) {
  for (const char* name : {"sendcommand", "openport", "closeport", "windowsfont",
                           "printerstatus", "dllversion", "paloma_set_message_handler"})
    EXPECT_NE(GetProcAddress(dll_, name), nullptr) << name;
  // C++ linkage: the type-decorated symbol, not the plain name.
  EXPECT_EQ(GetProcAddress(dll_, "usbportwrite"), nullptr);
  auto usbportwrite = fn<UsbPortWrite>("_Z12usbportwritePKc");
  ASSERT_NE(usbportwrite, nullptr);
  // No USB printer under Wine.
  EXPECT_EQ(usbportwrite("CLS"), -1);
  EXPECT_STREQ(fn<Version>("dllversion")(), "1.00");
}

std::vector<std::string>* g_messages = nullptr;
void collect(const char* text, const char* caption, int, void*) {
  if (g_messages) g_messages->push_back(std::string(caption) + "|" + text);
}

TEST_F(Win32Dll, MessagesGoToTheApplicationsHandler) {
  std::vector<std::string> messages;
  g_messages = &messages;
  auto set = fn<SetHandler>("paloma_set_message_handler");
  ASSERT_NE(set, nullptr);
  set(&collect, nullptr);
  EXPECT_EQ(fn<About>("about")(), 1);
  set(nullptr, nullptr);
  g_messages = nullptr;
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "DLL Version|Windows DLL Version V1.0.0.2");
}

TEST_F(Win32Dll, CommandsThroughTheDllReachThePeer) {
  WinsockScope winsock;
  LoopbackListener listener;
  auto openethernet = fn<OpenEthernet>("openethernet");
  auto sendcommand = fn<SendCommand>("sendcommand");
  auto closeethernetport = fn<CloseEthernet>("closeethernetport");
  ASSERT_NE(openethernet, nullptr);
  ASSERT_NE(sendcommand, nullptr);
  ASSERT_NE(closeethernetport, nullptr);
  ASSERT_EQ(openethernet("127.0.0.1", listener.port()), 1);
  PeerSocket printer(listener.accept(2000));
  ASSERT_TRUE(printer.valid());
  ASSERT_EQ(sendcommand("PRINT 1,1"), 1);
  EXPECT_EQ(printer.readAtLeast(11, 2000), "PRINT 1,1\r\n");
  EXPECT_EQ(closeethernetport(0), 1);
  EXPECT_TRUE(printer.closedWithin(2000));
  fn<CloseAll>("closeport")();
}

}  // namespace
}  // namespace paloma::test
