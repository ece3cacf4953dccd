// A builder argument holding CR or LF would end the command early and turn
// the rest of the text into commands of its own: every builder refuses it,
// sends nothing, and names the argument in the last error.
#include <functional>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "support/wide_text.h"

namespace paloma::test {
namespace {

using Args = std::vector<const char*>;

struct Builder {
  const char* name;
  std::vector<const char*> argNames;
  std::function<int(const Args&)> call;
};

std::vector<Builder> builders() {
  return {
      {"setup", {"width", "height", "speed", "density", "sensor", "gap", "offset"},
       [](const Args& a) { return setup(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
      {"printlabel", {"sets", "copies"}, [](const Args& a) { return printlabel(a[0], a[1]); }},
      {"printerfont", {"x", "y", "font", "rotation", "xmul", "ymul", "content"},
       [](const Args& a) { return printerfont(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
      {"barcode",
       {"x", "y", "type", "height", "readable", "rotation", "narrow", "wide", "content"},
       [](const Args& a) { return barcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }},
      {"barcodecomplete",
       {"x", "y", "type", "height", "readable", "rotation", "narrow", "wide", "extra", "content"},
       [](const Args& a) {
         return barcodecomplete(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
       }},
      {"rss", {"x", "y", "type", "rotation", "moduleWidth", "separatorHeight", "extra", "content"},
       [](const Args& a) { return rss(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }},
      {"qrcode", {"x", "y", "ecc", "cell", "mode", "rotation", "model", "mask", "content"},
       [](const Args& a) { return qrcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }},
      {"dmatrix", {"x", "y", "width", "height", "moduleSize", "rows", "columns", "content"},
       [](const Args& a) { return dmatrix(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }},
      {"aztec",
       {"x", "y", "rotation", "moduleSize", "errorControl", "flags", "menu", "symbols", "reverse",
        "content"},
       [](const Args& a) {
         return aztec(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
       }},
      {"maxicode", {"x", "y", "mode", "cls", "country", "postal", "content"},
       [](const Args& a) { return maxicode(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
      {"pdf417",
       {"x", "y", "width", "height", "rotation", "o6", "o7", "o8", "o9", "o10", "o11", "o12",
        "o13", "o14", "o15", "o16", "o17", "content"},
       [](const Args& a) {
         return pdf417(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                       a[12], a[13], a[14], a[15], a[16], a[17]);
       }},
      {"rfidRead", {"a1", "a2", "a3", "a4", "a5"},
       [](const Args& a) { return rfidRead(a[0], a[1], a[2], a[3], a[4]); }},
      {"rfidWrite", {"a1", "a2", "a3", "a4", "a5", "data"},
       [](const Args& a) { return rfidWrite(a[0], a[1], a[2], a[3], a[4], a[5]); }},
      {"WiFi_SSID", {"ssid"}, [](const Args& a) { return WiFi_SSID(a[0]); }},
      {"WiFi_StaticIP", {"ip", "mask", "gateway"},
       [](const Args& a) { return WiFi_StaticIP(a[0], a[1], a[2]); }},
      {"WiFi_WEP", {"key"}, [](const Args& a) { return WiFi_WEP(1, a[0]); }},
      {"WiFi_WPA", {"key"}, [](const Args& a) { return WiFi_WPA(a[0]); }},
  };
}

class LineEndFields : public CommandTest {};

// Every argument of every builder, with each of CR, LF and CR LF inside it:
// refused whole. "2" in the other arguments is a maxicode mode that writes
// every field, and a given optional argument for the symbols, so each
// argument is one the command would carry.
TEST_F(LineEndFields, AnArgumentHoldingALineEndIsRefusedAndNamed) {
  for (const Builder& b : builders()) {
    SCOPED_TRACE(b.name);
    // The plain row goes through, so the refusals below are the line ends' doing.
    Args plain(b.argNames.size(), "2");
    f().clearJournal();
    ASSERT_EQ(b.call(plain), 1);
    for (std::size_t at = 0; at < b.argNames.size(); ++at) {
      if (std::string(b.name) == "setup" && at == 4) continue;  // only its first byte is read
      for (const char* bad : {"1\r\nPRINT 9", "1\nCLS", "\r", "ab\r"}) {
        Args args = plain;
        args[at] = bad;
        f().clearJournal();
        paloma_clear_error();
        EXPECT_EQ(b.call(args), 0) << b.argNames[at] << " = " << testing::PrintToString(bad);
        EXPECT_TRUE(f().writes().empty()) << b.argNames[at];
        EXPECT_NE(std::string(paloma_last_error()).find(std::string(" ") + b.argNames[at] + " "),
                  std::string::npos)
            << paloma_last_error();
      }
    }
  }
}

TEST_F(LineEndFields, OtherControlBytesAndTheSensorStillGoThrough) {
  // Tabs, NUL-free control bytes and quotes are the caller's business.
  EXPECT_EQ(printerfont("1", "1", "3", "0", "1", "1", "a\tb\x1b\"c"), 1);
  EXPECT_EQ(wire(), "TEXT 1,1,\"3\",0,1,1,\"a\tb\x1b\"c\"\r\n");
  // setup reads only the first byte of the sensor, which never reaches a field.
  f().clearJournal();
  EXPECT_EQ(setup("1", "1", "1", "1", "1\r\n", "1", "1"), 1);
  EXPECT_EQ(wire(), crlfLines({"SIZE 1 mm,1 mm", "SPEED 1", "DENSITY 1", "BLINE 1 mm,1 mm"}));
}

TEST_F(LineEndFields, WideBuildersRefuseToo) {
  WideText line = {u'A', u'\n', u'B'};
  WideText one = {u'1'};
  EXPECT_EQ(printerfontW(one.c_str(), one.c_str(), one.c_str(), one.c_str(), one.c_str(),
                         one.c_str(), line.c_str()),
            0);
  EXPECT_EQ(printlabelW(line.c_str(), one.c_str()), 0);
  EXPECT_TRUE(f().writes().empty());

}

}  // namespace
}  // namespace paloma::test
