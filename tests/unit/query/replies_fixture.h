// Set-up shared by the reader, status, serial and network tests: a fake OS
// with a serial port, a network peer and a USB printer attached on demand.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "paloma.h"
#include "query/reply_state.h"
#include "support/fake_os.h"

namespace paloma::test {

inline const std::string kTty = "/dev/ttyS0";
inline const std::string kPrinterPeer = "127.0.0.1:9100";

inline std::string usbPath() {
  return std::string("\\\\?\\usb#") + usbVendorFilter() +
         "&pid_0001#5&1a2b#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

inline std::string replyText() { return reinterpret_cast<const char*>(replies().ReplyBuffer); }

class RepliesTest : public ::testing::Test {
 protected:
  FakeOsScope scope_;
  FakeOs& f = scope_.fake();

  void openSerial() {
    f.addDevice(kTty);
    ASSERT_STREQ(opencomport(kTty.c_str()), "1");
    f.clearJournal();
  }
  void openNetwork() {
    f.addTcpPeer(kPrinterPeer);
    ASSERT_EQ(openethernet("127.0.0.1", 9100), 1);
    f.clearJournal();
  }
  Handle openUsbHandle() {
    f.setUsbPaths({usbPath()});
    OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
    Handle h = f.openFile(usbPath(), mode);
    f.clearJournal();
    return h;
  }
  void openUsbConnection() {
    connection().handle = openUsbHandle();
    connection().usbMode = 1;
    connection().isOpen = 1;
  }
};

}  // namespace paloma::test
