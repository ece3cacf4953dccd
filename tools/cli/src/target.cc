#include "target.h"

namespace paloma_cli {

const char* const kTargetForms =
    "  tcp://HOST[:PORT]              a networked printer (port 9100 when not given)\n"
    "  serial:/dev/TTY[?baud=N&parity=P&bits=B&stop=S]\n"
    "                                 a serial port (N: 1200 to 115200, P: none, odd or\n"
    "                                 even, B: 7 or 8, S: 1 or 2; the port's own when\n"
    "                                 not given)\n"
    "  usb:[BUS-PORTS]                the maker's USB printer, or the one at that place\n"
    "                                 on the buses (as usb:1-1.4)\n"
    "  usb:SERIAL                     the maker's USB printer with that serial number\n"
    "                                 (a blank or '%' as %XX; a number that starts like\n"
    "                                 a bus place, digits and '-', with its first\n"
    "                                 character as %XX)\n"
    "  queue:NAME                     a printer of the local print spooler\n"
    "  queue://SERVER[:PORT]/NAME     a printer on a print server (port 631 when not given)\n"
    "  file:PATH                      a printer file, or a file to capture the bytes in\n"
    "  /dev/...                       a device path (serial, parallel or USB printer file)\n";

std::optional<Target> parseTarget(std::string_view uri, std::string* why) {
  return paloma::parsePrinterUri(uri, why);
}

QueryPath queryPathOf(const Target& t) {
  switch (t.kind) {
    case TargetKind::Tcp:
      return QueryPath::Network;
    case TargetKind::Serial:
      return QueryPath::Serial;
    case TargetKind::Usb:
      return QueryPath::Usb;
    case TargetKind::Queue:
    case TargetKind::ServerQueue:
    case TargetKind::File:
      break;
  }
  return QueryPath::None;
}

namespace {

std::string serialOptions(const Target& t) {
  std::string q;
  auto add = [&q](const std::string& item) { q += (q.empty() ? "?" : "&") + item; };
  if (t.baud) add("baud=" + std::to_string(t.baud));
  if (t.parity >= 0) add(std::string("parity=") + (t.parity == 0 ? "none" : t.parity == 1 ? "odd" : "even"));
  if (t.dataBits) add("bits=" + std::to_string(t.dataBits));
  if (t.stopBits) add("stop=" + std::to_string(t.stopBits));
  return q;
}

bool isDevicePath(const std::string& p) { return p.compare(0, 5, "/dev/") == 0; }

}  // namespace

std::string describe(const Target& t) {
  switch (t.kind) {
    case TargetKind::Tcp:
      return "tcp://" + t.host + ":" + std::to_string(t.port);
    case TargetKind::Serial:
      return "serial:" + t.path + serialOptions(t);
    case TargetKind::Usb:
      if (!t.serial.empty()) return paloma::usbSerialUri(t.serial);
      return "usb:" + t.location;
    case TargetKind::Queue:
      return "queue:" + t.queue;
    case TargetKind::ServerQueue:
      return "queue://" + t.host + ":" + std::to_string(t.port ? t.port : 631) + "/" + t.queue;
    case TargetKind::File:
      return isDevicePath(t.path) ? t.path : "file:" + t.path;
  }
  return "";
}

}  // namespace paloma_cli
