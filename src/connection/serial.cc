// The serial port: opening one with the library's default line settings and
// setting baud rate, parity, data bits and stop bits from texts.
#include <string>
#include <string_view>

#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/last_error.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {

ConnectionState& conn() { return connection(); }

// How opencomport and SetRS232_port open a port: by its name unchanged,
// shared writes, overlapped I/O. Only an existing serial terminal opens: a
// port name that is a file's name must not create or empty that file.
Handle openSerialPort(const char* port) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareWrite, Disposition::OpenTerminal, true};
  Handle h = os().openFile(port, mode);
  if (h == kInvalidHandle) {
    const int error = os().lastOsError();
    setLastError("\"" + std::string(port) + "\" is no serial port that can be opened: " +
                     (error ? os().osErrorText(error) : std::string("refused")) +
                     " (only an existing terminal device opens; nothing was created or changed)",
                 error);
  }
  return h;
}

void applyDefaults(SerialSettings& s) {
  s.baudRate = 9600;
  s.byteSize = 8;
  s.parity = 0;
  s.stopBits = 0;
  s.parityCheck = false;
}

// Reads the port's settings, applies the defaults and writes them back.
// The serial settings calls, recording why when they fail.
bool getState(Handle h, SerialSettings* s) {
  if (os().serialGetState(h, s)) return true;
  setLastOsError("read the serial port's settings (is a serial port open?)", os().lastOsError());
  return false;
}
bool setState(Handle h, const SerialSettings& s) {
  if (os().serialSetState(h, s)) return true;
  setLastOsError("apply the serial port's settings", os().lastOsError());
  return false;
}

bool setDefaults(Handle h) {
  SerialSettings s;
  if (!getState(h, &s)) return false;
  applyDefaults(s);
  return setState(h, s);
}

// Each text must equal a table entry exactly; any other text leaves its
// field unchanged.
void applyTexts(SerialSettings& s, std::string_view baud, std::string_view parity,
                std::string_view dataBits, std::string_view stopBits) {
  static constexpr std::string_view kBauds[] = {"2400",  "4800",  "9600",  "19200",
                                                "38400", "57600", "115200"};
  static constexpr std::uint32_t kBaudValues[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (std::size_t i = 0; i < sizeof kBaudValues / sizeof kBaudValues[0]; ++i)
    if (baud == kBauds[i]) s.baudRate = kBaudValues[i];
  if (parity == "N") s.parity = 0;
  if (parity == "O") s.parity = 1;
  if (parity == "E") s.parity = 2;
  if (dataBits == "8") s.byteSize = 8;
  if (dataBits == "7") s.byteSize = 7;
  if (stopBits == "1") s.stopBits = 0;
  if (stopBits == "2") s.stopBits = 2;
  s.dsrSensitivity = true;
}

// SetRS232's steps on a handle, building the settings in serialSettings.
int setLine(Handle h, const char* baud, const char* parity, const char* dataBits,
            const char* stopBits) {
  SerialSettings current;
  if (!getState(h, &current)) return 0;
  SerialSettings& s = conn().serialSettings;
  s = current;
  applyTexts(s, baud, parity, dataBits, stopBits);
  return setState(h, s) ? 1 : 0;
}

bool anyNull(const char* a, const char* b, const char* c, const char* d) {
  if (a && b && c && d) return false;
  setLastError("a serial setting argument is a null pointer");
  return true;
}

}  // namespace
}  // namespace paloma

using namespace paloma;

extern "C" {

const char* opencomport(const char* port) {
  paloma::ApiLock lock;
  if (!port) return "0";
  Handle h = openSerialPort(port);
  if (h == kInvalidHandle) return "0";
  ConnectionState& c = conn();
  releaseHandle(c);  // the port (or file port) held before is not lost
  c.handle = h;
  setDefaults(h);
  c.isOpen = 1;
  c.serialMode = 1;
  return "1";
}

int SetRS232(const char* baud, const char* parity, const char* databits, const char* stopbits) {
  paloma::ApiLock lock;
  if (anyNull(baud, parity, databits, stopbits)) return 0;
  return setLine(conn().handle, baud, parity, databits, stopbits);
}

int SetRS232_port(const char* port, const char* baud, const char* parity, const char* databits,
                  const char* stopbits) {
  paloma::ApiLock lock;
  if (!port || anyNull(baud, parity, databits, stopbits)) return 0;
  Handle h = openSerialPort(port);
  if (h == kInvalidHandle) return 0;
  int result = setLine(h, baud, parity, databits, stopbits);
  os().closeHandle(h);
  return result;
}

}  // extern "C"

int comportdefault() { paloma::ApiLock lock; return setDefaults(conn().handle) ? 1 : 0; }
