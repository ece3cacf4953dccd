// Printer addresses: the URI forms paloma_open and the tools take, parsed
// into what the openers need.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace paloma {

enum class UriKind {
  Tcp,          // tcp://HOST[:PORT]
  Serial,       // serial:/dev/TTY[?baud=N&parity=P&bits=B&stop=S], or a /dev/ terminal
  Usb,          // usb:, usb:BUS-PORTS or usb:SERIAL
  Queue,        // queue:NAME
  ServerQueue,  // queue://SERVER[:PORT]/NAME
  File,         // file:PATH, or a /dev/ path that is no terminal
};

struct PrinterUri {
  UriKind kind = UriKind::Tcp;
  std::string host;      // Tcp, ServerQueue
  int port = 0;          // Tcp (9100 when not given), ServerQueue (0: the server's default)
  std::string path;      // Serial, File
  std::string queue;     // Queue, ServerQueue
  std::string location;  // Usb: the bus place as the library writes it ("b001p1.4"), or ""
  std::string serial;    // Usb: the serial number of the printer to pick, or ""
  // Serial settings; 0 (or -1 for parity) keeps the port's own.
  unsigned baud = 0;
  int parity = -1;       // 0 none, 1 odd, 2 even
  int dataBits = 0;      // 7 or 8
  int stopBits = 0;      // 1 or 2
};

// Parses a URI; on failure returns nothing and says why in `why`.
std::optional<PrinterUri> parsePrinterUri(std::string_view uri, std::string* why);

// The name the spooler opens for a Queue or ServerQueue address
// ("//SERVER:PORT/NAME" for a print server's queue).
std::string spoolerNameOf(const PrinterUri& u);

// A USB bus place given as "BUS-P1.P2..." (as Linux names it) or in the
// library's "bNNNpP1.P2" form, written in the library's form; false when it
// is neither.
bool usbLocationFromText(std::string_view text, std::string* location);

// A bus place in the library's form ("b001p1.4") written as Linux names it
// ("1-1.4"); the text itself when it is not in that form.
std::string usbPlaceText(std::string_view location);

// The address that picks the USB printer with this serial number: "usb:"
// and the serial, every byte but letters, digits and - . _ ~ written as %XX,
// and the first one too when the serial would otherwise read as a bus place.
std::string usbSerialUri(std::string_view serial);

}  // namespace paloma
