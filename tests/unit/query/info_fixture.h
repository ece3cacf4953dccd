// Shared set-up of the information query tests: a fake OS with a serial
// port, a network peer and a USB printer that the tests attach as needed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "query/reply_state.h"
#include "support/fake_os.h"

namespace paloma::test {

inline const std::string kSerialPort = "/dev/ttyS0";
inline const std::string kPeer = "127.0.0.1:9100";

inline std::string usbPrinterPath() {
  return std::string("\\\\?\\usb#") + usbVendorFilter() +
         "&pid_0001#5&1a2b#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

class InfoTest : public ::testing::Test {
 protected:
  FakeOsScope scope_;
  FakeOs& f = scope_.fake();

  // The connection's handle on an open serial port.
  void openSerial() {
    f.addDevice(kSerialPort);
    OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
    connection().handle = f.openFile(kSerialPort, mode);
    connection().serialMode = 1;
    connection().isOpen = 1;
    f.clearJournal();
  }
  // The connection's socket, connected to the peer with the 1 s time-outs.
  void openNetwork() {
    f.addTcpPeer(kPeer);
    Socket s = f.tcpSocket();
    f.tcpConnect(s, 0x7F000001u, 9100);
    f.setSocketTimeouts(s, 1000, 1000);
    connection().socket = s;
    connection().networkMode = 1;
    connection().isOpen = 1;
    f.clearJournal();
  }
  // A USB printer present (the queries open their own handle).
  void attachUsb() { f.setUsbPaths({usbPrinterPath()}); }
  // A USB printer present and opened as the connection.
  void openUsbConnection() {
    attachUsb();
    OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, false};
    connection().handle = f.openFile(usbPrinterPath(), mode);
    connection().usbMode = 1;
    connection().isOpen = 1;
    f.clearJournal();
  }
  // The bytes of the one write (or send) call on a target; fails the test
  // when there is not exactly one.
  std::string onlyWrite(const std::string& target) {
    auto w = f.writes(target);
    EXPECT_EQ(w.size(), 1u) << "write calls on " << target;
    return w.empty() ? std::string() : w.front().data;
  }
  static std::string block(std::string text, std::size_t size) {
    text.resize(size, '\0');
    return text;
  }
};

}  // namespace paloma::test
