// qrcode, dmatrix, aztec, maxicode, pdf417: which optional arguments make
// which fields.
#include <string>
#include <vector>

#include "command_fixture.h"

namespace paloma::test {
namespace {

using Symbols = CommandTest;

struct Row {
  std::vector<std::string> args;
  std::string line;  // without its CR LF; empty: refused, nothing sent
};

// "KEYWORD f1,f2,...": the expected command from its fields, so that a row
// shows how many fields it has.
std::string command(const std::string& keyword, const std::vector<std::string>& fields) {
  std::string out = keyword + " ";
  for (std::size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + fields[i];
  return out;
}

template <typename Call>
void runRows(CommandTest& t, FakeOs& f, const std::vector<Row>& rows, Call call,
             std::size_t arity) {
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    ASSERT_EQ(r.args.size(), arity);
    f.clearJournal();
    auto a = cstrs(r.args);
    if (r.line.empty()) {
      EXPECT_EQ(call(a.data()), 0);
      EXPECT_TRUE(f.writes().empty());
    } else {
      EXPECT_EQ(call(a.data()), 1);
      EXPECT_EQ(f.wire("spooler:P"), r.line + "\r\n");
    }
  }
  (void)t;
}

int callQrcode(const char** a) { return qrcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]); }
int callDmatrix(const char** a) { return dmatrix(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }
int callAztec(const char** a) {
  return aztec(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
}
int callMaxicode(const char** a) { return maxicode(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }
int callPdf417(const char** a) {
  return pdf417(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12],
                a[13], a[14], a[15], a[16], a[17]);
}

TEST_F(Symbols, QrcodeWritesModelAndMaskAsAPair) {
  std::string c78(78, 'q'), c79(79, 'q');  // "QRCODE 1,1,L,4,A,0,\"\"" has 21 characters
  runRows(*this, f(),
          {
              {{"10", "10", "L", "4", "A", "0", "", "", "ABC"}, "QRCODE 10,10,L,4,A,0,\"ABC\""},
              {{"10", "10", "L", "4", "A", "0", "", "", "@1"}, "QRCODE 10,10,L,4,A,0,@1"},
              {{"10", "10", "L", "4", "A", "0", "M2", "", "ABC"},
               "QRCODE 10,10,L,4,A,0,M2,,\"ABC\""},
              {{"10", "10", "L", "4", "A", "0", "", "S7", "ABC"},
               "QRCODE 10,10,L,4,A,0,,S7,\"ABC\""},
              {{"10", "10", "L", "4", "A", "0", "M2", "S7", "@1"}, "QRCODE 10,10,L,4,A,0,M2,S7,@1"},
              {{"1", "1", "L", "4", "A", "0", "", "", c78}, "QRCODE 1,1,L,4,A,0,\"" + c78 + "\""},
              {{"1", "1", "L", "4", "A", "0", "", "", c79}, ""},
              {{"1", "1", "L", "4", "A", "0", "M2", "S7", c78}, ""},
          },
          callQrcode, 9);
}

TEST_F(Symbols, DmatrixWritesModuleRowsAndColumnsAsATriple) {
  runRows(*this, f(),
          {
              {{"10", "110", "400", "400", "", "", "", "DMATRIX EXAMPLE 1"},
               "DMATRIX 10,110,400,400,\"DMATRIX EXAMPLE 1\""},
              {{"10", "110", "400", "400", "", "", "", "@D"}, "DMATRIX 10,110,400,400,@D"},
              {{"10", "110", "400", "400", "", "16", "", "X"}, "DMATRIX 10,110,400,400,,16,,\"X\""},
              {{"10", "110", "400", "400", "x8", "", "", "X"}, "DMATRIX 10,110,400,400,x8,,,\"X\""},
              {{"1", "2", "3", "4", "", "", "c", "@X"}, "DMATRIX 1,2,3,4,,,c,@X"},
              {{"1", "2", "3", "4", "x8", "18", "18", "@X"}, "DMATRIX 1,2,3,4,x8,18,18,@X"},
          },
          callDmatrix, 8);
}

TEST_F(Symbols, AztecDropsTrailingEmptyOptionsOnly) {
  runRows(*this, f(),
          {
              {{"1", "2", "0", "", "", "", "", "", "", "A"}, "AZTEC 1,2,0,\"A\""},
              {{"1", "2", "0", "", "", "", "", "", "", "@A"}, "AZTEC 1,2,0,@A"},
              {{"1", "2", "0", "6", "", "", "", "", "", "A"}, "AZTEC 1,2,0,6,\"A\""},
              {{"1", "2", "0", "", "", "8", "", "", "", "A"}, "AZTEC 1,2,0,,,8,\"A\""},
              {{"1", "2", "0", "", "", "", "0", "", "", "A"}, "AZTEC 1,2,0,,,,0,\"A\""},
              {{"1", "2", "0", "6", "", "", "", "3", "", "A"}, "AZTEC 1,2,0,6,,,,3,\"A\""},
              {{"1", "2", "0", "", "", "", "", "", "1", "A"}, "AZTEC 1,2,0,,,,,,1,\"A\""},
              {{"1", "2", "0", "a", "b", "c", "d", "e", "f", "@A"}, "AZTEC 1,2,0,a,b,c,d,e,f,@A"},
          },
          callAztec, 10);
}

TEST_F(Symbols, MaxicodeByMode) {
  runRows(*this, f(),
          {
              {{"1", "2", "2", "300", "840", "06810", "X"}, "MAXICODE 1,2,2,300,840,06810,\"X\""},
              {{"1", "2", "2", "300", "840", "06810", "@X"}, "MAXICODE 1,2,2,300,840,06810,@X"},
              {{"1", "2", "2", "300", "840", "@P", "X"}, "MAXICODE 1,2,2,300,840,@P,\"X\""},
              {{"1", "2", "2", "", "", "", "X"}, "MAXICODE 1,2,2,,,,\"X\""},
              {{"1", "2", "2x", "a", "b", "c", "X"}, "MAXICODE 1,2,2x,a,b,c,\"X\""},
              {{"1", "2", "3", "300", "840", "06810", "X"},
               "MAXICODE 1,2,3,300,840,\"06810\",\"X\""},
              {{"1", "2", "3", "300", "840", "@P", "@X"}, "MAXICODE 1,2,3,300,840,\"@P\",@X"},
              {{"1", "2", "4", "300", "840", "06810", "X"}, "MAXICODE 1,2,4,\"X\""},
              {{"1", "2", "4", "", "", "", "@X"}, "MAXICODE 1,2,4,@X"},
              {{"1", "2", "5", "", "", "", "X"}, "MAXICODE 1,2,5,\"X\""},
              // No template: nothing sent.
              {{"1", "2", "5", "300", "", "", "X"}, ""},
              {{"1", "2", "5", "", "840", "", "X"}, ""},
              {{"1", "2", "5", "", "", "06810", "X"}, ""},
              {{"1", "2", "1", "", "", "", "X"}, ""},
              {{"1", "2", "6", "", "", "", "X"}, ""},
              {{"1", "2", "", "", "", "", "X"}, ""},
              {{"1", "2", " 2", "", "", "", "X"}, ""},
          },
          callMaxicode, 7);
}

TEST_F(Symbols, Pdf417ByItsGroupsOfOptions) {
  const std::string o = "";  // an option not given
  auto row = [](std::vector<std::string> options, std::string content,
                std::vector<std::string> fields) {
    std::vector<std::string> args = {"1", "2", "400", "200", "0"};
    args.insert(args.end(), options.begin(), options.end());  // arguments 6 to 17
    args.push_back(content);
    std::vector<std::string> all = {"1", "2", "400", "200", "0"};
    all.insert(all.end(), fields.begin(), fields.end());
    return Row{args, command("PDF417", all)};
  };
  //            6    7     8     9    10    11   12     13    14  15  16    17
  runRows(*this, f(),
          {
              // Any of 9 to 11: all eighteen fields, content bare.
              row({o, o, o, o, "E3", o, o, o, o, o, o, o}, "ABC",
                  {o, o, o, o, "E3", o, o, o, o, o, o, o, "ABC"}),
              row({o, o, o, "W2", o, o, o, o, o, o, o, o}, "ABC",
                  {o, o, o, "W2", o, o, o, o, o, o, o, o, "ABC"}),
              row({"E2", "P1", "H4", o, o, "X", o, o, o, o, o, "T1"}, "@V",
                  {"E2", "P1", "H4", o, o, "X", o, o, o, o, o, "T1", "@V"}),
              // 8 given: fifteen fields, 9 to 11 left out.
              row({o, "P1", "H4", o, o, o, o, "R5", o, o, o, o}, "ABC",
                  {o, "P1", "H4", o, "R5", o, o, o, o, "ABC"}),
              row({"E2", o, "H4", o, o, o, o, o, o, o, o, o}, "ABC",
                  {"E2", o, "H4", o, o, o, o, o, o, "ABC"}),
              // 6 given: fourteen fields, seven of them empty.
              row({"E2", o, o, o, o, o, o, o, o, o, o, o}, "ABC",
                  {"E2", o, o, o, o, o, o, o, "ABC"}),
              row({"E2", "P1", o, o, o, o, o, o, o, o, o, "T1"}, "ABC",
                  {"E2", "P1", o, o, o, o, o, "T1", "ABC"}),
              // The chain 7, 12..17 up to its last given member.
              row({o, o, o, o, o, o, o, o, o, o, o, o}, "ABC", {"\"ABC\""}),
              row({o, o, o, o, o, o, o, o, o, o, o, o}, "@V", {"@V"}),
              row({o, "P1", o, o, o, o, o, o, o, o, o, o}, "ABC", {"P1", "\"ABC\""}),
              row({o, o, o, o, o, o, "X12", o, o, o, o, o}, "ABC", {o, "X12", "\"ABC\""}),
              row({o, o, o, o, o, o, o, "R5", o, o, o, o}, "ABC", {o, o, "R5", "\"ABC\""}),
              row({o, o, o, o, o, o, o, o, o, o, "L1", o}, "ABC",
                  {o, o, o, o, o, "L1", "\"ABC\""}),
              // 17 given: thirteen fields, content bare whatever it begins with.
              row({o, o, o, o, o, o, o, o, o, o, o, "T1"}, "ABC", {o, o, o, o, o, o, "T1", "ABC"}),
              row({o, "P1", o, o, o, o, "X", o, o, o, o, "T1"}, "@V",
                  {"P1", "X", o, o, o, o, "T1", "@V"}),
          },
          callPdf417, 18);
}

TEST_F(Symbols, Pdf417HasRoomForFourHundredNinetyNineCharacters) {
  std::string prefix = "PDF417 1,2,400,200,0,";  // 21 characters, then the quoted content
  std::string c476(476, 'p'), c477(477, 'p');
  EXPECT_EQ(pdf417("1", "2", "400", "200", "0", "", "", "", "", "", "", "", "", "", "", "", "",
                   c476.c_str()),
            1);
  EXPECT_EQ(wire(), prefix + "\"" + c476 + "\"\r\n");
  f().clearJournal();
  EXPECT_EQ(pdf417("1", "2", "400", "200", "0", "", "", "", "", "", "", "", "", "", "", "", "",
                   c477.c_str()),
            0);
  EXPECT_EQ(wire(), "");
}

TEST_F(Symbols, NullArgumentsAndNoConnection) {
  EXPECT_EQ(qrcode("1", "1", "L", "4", "A", "0", nullptr, "", "x"), 0);
  EXPECT_EQ(dmatrix("1", "2", "3", "4", "", "", "", nullptr), 0);
  EXPECT_EQ(aztec("1", "2", "0", "", "", "", "", "", nullptr, "x"), 0);
  // Mode 4 ignores arguments 4 to 6, but a null one is still refused.
  EXPECT_EQ(maxicode("1", "2", "4", nullptr, "", "", "x"), 0);
  EXPECT_EQ(maxicode("1", "2", nullptr, "", "", "", "x"), 0);
  EXPECT_EQ(pdf417("1", "2", "400", "200", "0", "", "", "", "", "", "", "", "", "", "", "",
                   nullptr, "x"),
            0);
  EXPECT_TRUE(f().writes().empty());
  closeConnection();
  EXPECT_EQ(qrcode("1", "1", "L", "4", "A", "0", "", "", "x"), 0);
  EXPECT_EQ(dmatrix("1", "2", "3", "4", "", "", "", "x"), 0);
  EXPECT_EQ(aztec("1", "2", "0", "", "", "", "", "", "", "x"), 0);
  EXPECT_EQ(maxicode("1", "2", "4", "", "", "", "x"), 0);
  EXPECT_EQ(pdf417("1", "2", "400", "200", "0", "", "", "", "", "", "", "", "", "", "", "", "",
                   "x"),
            0);
  EXPECT_TRUE(f().writes().empty());
}

}  // namespace
}  // namespace paloma::test
