// Opens the library's connection on one transport of the recording fake
// directly, for the file tests.
#pragma once

#include <string>

#include "connection/connection_state.h"
#include "support/fake_os.h"

namespace paloma::test {

// Returns the target name under which the fake records the writes; the
// journal is cleared, so that it holds only what comes next.
inline std::string openOnFake(FakeOs& f, TransportKind kind) {
  ConnectionState& c = connection();
  std::string target;
  switch (kind) {
    case TransportKind::Spooler:
      f.addPrinter("Label", "socket://127.0.0.1:9100");
      f.spoolerOpen("Label", &c.handle);
      target = "spooler:Label";
      break;
    case TransportKind::Network:
      f.addTcpPeer("127.0.0.1:9100");
      c.socket = f.tcpSocket();
      f.tcpConnect(c.socket, 0x7F000001, 9100);
      target = "127.0.0.1:9100";
      break;
    case TransportKind::LptFile:
    case TransportKind::UsbDevice:
    case TransportKind::Serial:
      target = kind == TransportKind::Serial ? "/dev/ttyS0" : "/dev/usb/lp0";
      f.addDevice(target);
      c.handle = f.openFile(target, OpenMode{});
      break;
  }
  c.flag(kind) = 1;
  c.isOpen = 1;
  f.clearJournal();
  return target;
}

}  // namespace paloma::test
