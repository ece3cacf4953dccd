// Arguments into the command builders, on the recording fake's network
// connection. The input is:
//   byte 0      which builder (from the table below)
//   the rest    its arguments, separated by NUL bytes; missing ones are
//               empty. An argument is at most 1100 bytes, beyond every
//               command's capacity.
// After the call the wire must hold nothing (result 0) or exactly the
// builder's command lines (result 1): each begins with the builder's keyword,
// ends with the one CR LF its sending adds (the RFID commands carry one more
// of their own), holds no other CR or LF, and fits the builder's capacity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "paloma.h"
#include "support/fake_os.h"

using namespace paloma;
using paloma::test::FakeOs;

namespace {

const std::string kPeer = "127.0.0.1:9100";
constexpr std::size_t kMaxArgument = 1100;

using Args = std::vector<const char*>;

struct Builder {
  const char* keyword;  // what every line begins with ("" for setup's four)
  std::size_t arity;
  std::size_t capacity;
  int lines;
  bool ownLineEnd;  // the command carries a CR LF of its own
  int (*call)(const Args&);
};

const Builder kBuilders[] = {
    {"", 7, 100, 4, false,
     [](const Args& a) { return setup(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
    {"PRINT ", 2, 50, 1, false, [](const Args& a) { return printlabel(a[0], a[1]); }},
    {"TEXT ", 7, 500, 1, false,
     [](const Args& a) { return printerfont(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
    {"BARCODE ", 9, 1024, 1, false,
     [](const Args& a) { return barcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }},
    {"BARCODE ", 10, 1024, 1, false,
     [](const Args& a) {
       return barcodecomplete(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
     }},
    {"RSS ", 8, 100, 1, false,
     [](const Args& a) { return rss(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }},
    {"QRCODE ", 9, 100, 1, false,
     [](const Args& a) { return qrcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }},
    {"DMATRIX ", 8, 100, 1, false,
     [](const Args& a) { return dmatrix(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }},
    {"AZTEC ", 10, 100, 1, false,
     [](const Args& a) {
       return aztec(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
     }},
    {"MAXICODE ", 7, 100, 1, false,
     [](const Args& a) { return maxicode(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
    {"PDF417 ", 18, 500, 1, false,
     [](const Args& a) {
       return pdf417(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                     a[12], a[13], a[14], a[15], a[16], a[17]);
     }},
    {"RFID READ,", 5, 1024, 1, true,
     [](const Args& a) { return rfidRead(a[0], a[1], a[2], a[3], a[4]); }},
    {"RFID WRITE,", 6, 1024, 1, true,
     [](const Args& a) { return rfidWrite(a[0], a[1], a[2], a[3], a[4], a[5]); }},
    {"WLAN SSID ", 1, 1024, 1, false, [](const Args& a) { return WiFi_SSID(a[0]); }},
    {"WLAN IP ", 3, 1024, 1, false,
     [](const Args& a) { return WiFi_StaticIP(a[0], a[1], a[2]); }},
    {"WLAN WEP ", 2, 1024, 1, false,
     [](const Args& a) { return WiFi_WEP(std::atoi(a[0]), a[1]); }},
    {"WLAN WPA ", 1, 1024, 1, false, [](const Args& a) { return WiFi_WPA(a[0]); }},
    {"WLAN PORT ", 1, 1024, 1, false, [](const Args& a) { return WiFi_Port(std::atoi(a[0])); }},
};

// The wire holds exactly `b.lines` commands of `b`.
bool wellFormed(const Builder& b, const std::string& wire) {
  const std::string end = b.ownLineEnd ? "\r\n\r\n" : "\r\n";
  std::size_t at = 0;
  for (int i = 0; i < b.lines; ++i) {
    std::size_t stop = wire.find(end, at);
    if (stop == std::string::npos) return false;
    std::string line = wire.substr(at, stop - at);
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    // The capacity counts the command's own CR LF and the NUL.
    if (line.size() + (b.ownLineEnd ? 2 : 0) >= b.capacity) return false;
    if (line.compare(0, std::string(b.keyword).size(), b.keyword) != 0) return false;
    at = stop + end.size();
  }
  return at == wire.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Builder& b = kBuilders[data[0] % (sizeof kBuilders / sizeof kBuilders[0])];
  std::vector<std::string> texts;
  std::string current;
  for (std::size_t i = 1; i < size && texts.size() < b.arity; ++i) {
    if (data[i] == 0) {
      texts.push_back(current);
      current.clear();
    } else if (current.size() < kMaxArgument) {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (texts.size() < b.arity) texts.push_back(current);
  texts.resize(b.arity);
  Args args;
  for (const std::string& t : texts) args.push_back(t.c_str());

  FakeOs f;
  paloma::test::resetLibraryState();
  setOs(&f);
  f.addTcpPeer(kPeer);
  openethernet("127.0.0.1", 9100);
  f.clearJournal();
  const int result = b.call(args);
  const std::string wire = f.wire(kPeer);
  if (result == 0 ? !wire.empty() : (result != 1 || !wellFormed(b, wire))) std::abort();
  setOs(nullptr);
  paloma::test::resetLibraryState();
  return 0;
}
