// Long and odd arguments for every builder: under the sanitizers nothing may
// be read or written out of bounds, and each call either sends its whole
// command or sends nothing.
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "support/wide_text.h"

namespace paloma::test {
namespace {

struct Builder {
  const char* name;
  std::size_t arity;
  std::size_t capacity;  // of each command line, NUL included
  // The exact command line for these arguments when it does not depend on a
  // selection rule, or "" to check only its frame.
  std::function<std::string(const std::vector<std::string>&)> exact;
  std::function<int(const std::vector<const char*>&)> call;
};

std::string q(const std::string& s) { return "\"" + s + "\""; }
std::string content(const std::string& s) { return !s.empty() && s[0] == '@' ? s : q(s); }

WideText widen(const std::string& s) {
  WideText w;
  for (unsigned char c : s) w.push_back(c);
  return w;
}

std::vector<Builder> builders() {
  using A = std::vector<const char*>;
  using S = std::vector<std::string>;
  return {
      {"printlabel", 2, 50, [](const S& a) { return "PRINT " + a[0] + "," + a[1]; },
       [](const A& a) { return printlabel(a[0], a[1]); }},
      {"printlabelW", 2, 50, [](const S& a) { return "PRINT " + a[0] + "," + a[1]; },
       [](const A& a) {
         WideText w0 = widen(a[0]), w1 = widen(a[1]);
         return printlabelW(w0.c_str(), w1.c_str());
       }},
      {"printerfont", 7, 500,
       [](const S& a) {
         return "TEXT " + a[0] + "," + a[1] + "," + q(a[2]) + "," + a[3] + "," + a[4] + "," +
                a[5] + "," + content(a[6]);
       },
       [](const A& a) { return printerfont(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
      {"barcode", 9, 1024,
       [](const S& a) {
         return "BARCODE " + a[0] + "," + a[1] + "," + q(a[2]) + "," + a[3] + "," + a[4] + "," +
                a[5] + "," + a[6] + "," + a[7] + "," + content(a[8]);
       },
       [](const A& a) { return barcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }},
      {"barcodecomplete", 10, 1024,
       [](const S& a) {
         return "BARCODE " + a[0] + "," + a[1] + "," + q(a[2]) + "," + a[3] + "," + a[4] + "," +
                a[5] + "," + a[6] + "," + a[7] + "," + a[8] + "," + content(a[9]);
       },
       [](const A& a) {
         return barcodecomplete(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
       }},
      {"rss", 8, 100, nullptr,
       [](const A& a) { return rss(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }},
      {"qrcode", 9, 100, nullptr,
       [](const A& a) { return qrcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }},
      {"dmatrix", 8, 100, nullptr,
       [](const A& a) { return dmatrix(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }},
      {"aztec", 10, 100, nullptr,
       [](const A& a) {
         return aztec(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
       }},
      {"maxicode", 7, 100, nullptr,
       [](const A& a) { return maxicode(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }},
      {"pdf417", 18, 500, nullptr,
       [](const A& a) {
         return pdf417(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                       a[12], a[13], a[14], a[15], a[16], a[17]);
       }},
      {"rfidRead", 5, 1024,
       [](const S& a) {
         return "RFID READ," + a[0] + "," + a[1] + "," + a[2] + "," + a[3] + "," + a[4] +
                ",\"\"\r\n";
       },
       [](const A& a) { return rfidRead(a[0], a[1], a[2], a[3], a[4]); }},
      {"rfidWrite", 6, 1024,
       [](const S& a) {
         return "RFID WRITE," + a[0] + "," + a[1] + "," + a[2] + "," + a[3] + "," + a[4] + "," +
                q(a[5]) + "\r\n";
       },
       [](const A& a) { return rfidWrite(a[0], a[1], a[2], a[3], a[4], a[5]); }},
      {"WiFi_SSID", 1, 1024, [](const S& a) { return "WLAN SSID " + q(a[0]); },
       [](const A& a) { return WiFi_SSID(a[0]); }},
      {"WiFi_StaticIP", 3, 1024,
       [](const S& a) { return "WLAN IP " + q(a[0]) + ", " + q(a[1]) + ", " + q(a[2]); },
       [](const A& a) { return WiFi_StaticIP(a[0], a[1], a[2]); }},
      {"WiFi_WEP", 1, 1024, [](const S& a) { return "WLAN WEP 7," + q(a[0]); },
       [](const A& a) { return WiFi_WEP(7, a[0]); }},
      {"WiFi_WPA", 1, 1024, [](const S& a) { return "WLAN WPA " + q(a[0]); },
       [](const A& a) { return WiFi_WPA(a[0]); }},
  };
}

class ArgumentMaker {
 public:
  explicit ArgumentMaker(std::size_t capacity) : capacity_(capacity) {}
  std::string next() {
    switch (pick(16)) {
      case 0: return "";
      case 1: return "@";
      case 2: return "\"";
      case 3: return std::string(1, "12345@"[pick(6)]);
      case 4: return std::string(capacity_ + pick(capacity_), 'L');  // beyond the limit
      case 5:
      case 6: return std::string(capacity_ - 10 + pick(12), '@');  // near the limit
      default: {
        static const char alphabet[] = "0123456789AZaz@\",; \x80\xe9\xff";
        std::string s(pick(12), ' ');
        for (char& c : s) c = alphabet[pick(sizeof alphabet - 1)];
        return s;
      }
    }
  }
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

 private:
  std::size_t capacity_;
  std::mt19937 rng_{20240611};
};

class BuilderFuzz : public CommandTest {};

TEST_F(BuilderFuzz, EveryBuilderSendsTheWholeCommandOrNothing) {
  for (const Builder& b : builders()) {
    SCOPED_TRACE(b.name);
    ArgumentMaker maker(b.capacity);
    int sent = 0, refused = 0;
    for (int round = 0; round < 200; ++round) {
      std::vector<std::string> args;
      for (std::size_t i = 0; i < b.arity; ++i) args.push_back(maker.next());
      // Short arguments now and then, so that every selection is reached.
      if (round % 3 == 0)
        for (auto& a : args)
          if (a.size() > 4) a.resize(maker.pick(3));
      if (std::string(b.name) == "maxicode" && round % 2 == 0)
        args[2] = std::string(1, "2345"[maker.pick(4)]);
      std::vector<const char*> ptrs = cstrs(args);
      f().clearJournal();
      int rc = b.call(ptrs);
      std::string w = wire();
      if (b.exact) {
        // Where the line is known, exactly the lines that fit are sent (the
        // wide form also needs each argument below 256 bytes).
        bool fits = true;
        for (const auto& a : args)
          fits = fits && a.size() < (b.name[std::strlen(b.name) - 1] == 'W' ? 256 : b.capacity);
        fits = fits && b.exact(args).size() < b.capacity;
        EXPECT_EQ(rc, fits ? 1 : 0) << "round " << round;
      }
      if (rc == 0) {
        ++refused;
        EXPECT_EQ(w, "") << "round " << round;
        continue;
      }
      ++sent;
      ASSERT_EQ(rc, 1);
      ASSERT_GE(w.size(), 2u);
      ASSERT_EQ(w.substr(w.size() - 2), "\r\n");
      std::string line = w.substr(0, w.size() - 2);
      EXPECT_LT(line.size(), b.capacity) << "round " << round;
      if (b.exact) {
        EXPECT_EQ(line, b.exact(args)) << "round " << round;
      } else {
        // The content closes the command, bare or quoted.
        const std::string& c = args.back();
        bool endsBare = line.size() >= c.size() && line.compare(line.size() - c.size(), c.size(), c) == 0;
        bool endsQuoted = line.size() >= c.size() + 2 &&
                          line.compare(line.size() - c.size() - 2, c.size() + 2, q(c)) == 0;
        EXPECT_TRUE(endsBare || endsQuoted) << "round " << round;
        // ... and the first argument opens it, after the keyword.
        std::size_t first = line.find(' ') + 1;
        EXPECT_EQ(line.compare(first, args[0].size(), args[0]), 0) << "round " << round;
      }
    }
    EXPECT_GT(sent, 0);
    EXPECT_GT(refused, 0);
  }
}

TEST_F(BuilderFuzz, AMegabyteArgumentAnywhereIsRefused) {
  std::string huge(1 << 20, 'H');
  huge[17] = '"';
  for (const Builder& b : builders()) {
    SCOPED_TRACE(b.name);
    for (std::size_t at = 0; at < b.arity; ++at) {
      std::vector<std::string> args(b.arity, "2");  // "2": a maxicode mode that uses every field
      args[at] = huge;
      f().clearJournal();
      EXPECT_EQ(b.call(cstrs(args)), 0) << "argument " << at + 1;
      EXPECT_TRUE(f().writes().empty());
    }
  }
  // setup reads only the first character of its fifth argument.
  std::vector<std::string> args(7, "1");
  for (std::size_t at : {0, 1, 2, 3, 5, 6}) {
    args[at] = huge;
    auto a = cstrs(args);
    EXPECT_EQ(setup(a[0], a[1], a[2], a[3], a[4], a[5], a[6]), 0) << "argument " << at + 1;
    args[at] = "1";
  }
  EXPECT_TRUE(f().writes().empty());
  args[4] = huge;
  auto a = cstrs(args);
  EXPECT_EQ(setup(a[0], a[1], a[2], a[3], a[4], a[5], a[6]), 1);
  EXPECT_EQ(wire(), crlfLines({"SIZE 1 mm,1 mm", "SPEED 1", "DENSITY 1", "GAP 1 mm,1 mm"}));
}

}  // namespace
}  // namespace paloma::test
