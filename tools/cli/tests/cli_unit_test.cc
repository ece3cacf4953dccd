// The tool's own logic: which addresses it takes and what it opens for them,
// how it reads status codes into words and exit codes, how it cleans replies
// and discovery answers, and the JSON and progress texts it writes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "target.h"
#include "words.h"

namespace paloma_cli {
namespace {

TEST(Target, AcceptedFormsAndWhatTheyOpen) {
  struct Case {
    const char* uri;
    TargetKind kind;
    const char* canonical;
    QueryPath path;
  };
  const Case cases[] = {
      {"tcp://127.0.0.1", TargetKind::Tcp, "tcp://127.0.0.1:9100", QueryPath::Network},
      {"tcp://printer.local:6101/", TargetKind::Tcp, "tcp://printer.local:6101", QueryPath::Network},
      {"serial:/dev/ttyUSB0?baud=115200", TargetKind::Serial, "serial:/dev/ttyUSB0?baud=115200",
       QueryPath::Serial},
      {"serial:/dev/ttyS1?stop=2&parity=even&bits=7", TargetKind::Serial,
       "serial:/dev/ttyS1?parity=even&bits=7&stop=2", QueryPath::Serial},
      {"usb:", TargetKind::Usb, "usb:", QueryPath::Usb},
      {"usb:1-1.4", TargetKind::Usb, "usb:b001p1.4", QueryPath::Usb},
      {"usb:SN%2042", TargetKind::Usb, "usb:SN%2042", QueryPath::Usb},
      {"usb:%31-2", TargetKind::Usb, "usb:%31-2", QueryPath::Usb},
      {"queue:labels", TargetKind::Queue, "queue:labels", QueryPath::None},
      {"queue://127.0.0.2:6310/labels", TargetKind::ServerQueue, "queue://127.0.0.2:6310/labels",
       QueryPath::None},
      {"queue://spool/front-desk", TargetKind::ServerQueue, "queue://spool:631/front-desk",
       QueryPath::None},
      {"file:/tmp/capture.prn", TargetKind::File, "file:/tmp/capture.prn", QueryPath::None},
      {"/dev/usb/lp0", TargetKind::File, "/dev/usb/lp0", QueryPath::None},
      {"/dev/pts/3", TargetKind::Serial, "serial:/dev/pts/3", QueryPath::Serial},
  };
  for (const Case& c : cases) {
    std::string why;
    auto t = parseTarget(c.uri, &why);
    ASSERT_TRUE(t) << c.uri << ": " << why;
    EXPECT_EQ(t->kind, c.kind) << c.uri;
    EXPECT_EQ(describe(*t), c.canonical);
    EXPECT_EQ(queryPathOf(*t), c.path) << c.uri;
    // What the tool writes back opens the same printer.
    auto again = parseTarget(describe(*t), &why);
    ASSERT_TRUE(again) << describe(*t) << ": " << why;
    EXPECT_EQ(describe(*again), c.canonical);
  }
}

TEST(Target, RefusedFormsSayWhy) {
  // Each is refused with a reason; none falls through to another form (a
  // queue name with a slash must not reach openport as a path).
  const char* bad[] = {
      "", "tcp://", "tcp://host:", "tcp://host:0", "tcp://host:65536", "tcp://host:91x",
      "tcp://ho st", "tcp://[::1]:9100", "serial:", "serial:COM1", "serial:/dev/ttyS0?baud=1234",
      "serial:/dev/ttyS0?parity=E", "usb:1-", "usb:a b", "serial:/dev/ttyS0?baud=9600&flow=on", "queue:", "queue:a/b", "queue:has space",
      "queue://server", "queue://server/", "queue://ser ver/q", "queue://server/a/b",
      "/dev/", "/tmp/file", "http://127.0.0.1", "127.0.0.1:9100", "queue:lab\"els",
  };
  for (const char* uri : bad) {
    std::string why;
    EXPECT_FALSE(parseTarget(uri, &why)) << uri;
    EXPECT_FALSE(why.empty()) << uri;
  }
  std::string why;
  ASSERT_FALSE(parseTarget("tcp://host:70000", &why));
  EXPECT_NE(why.find("70000"), std::string::npos) << why;
}

TEST(Status, EveryConditionOfAByteInTheLibrarysWords) {
  struct Case {
    std::uint8_t byte;
    const char* words;
    std::vector<std::string> conditions;
    int exitCode;
  };
  const Case cases[] = {
      {0x00, "ready", {}, kExitOk},
      {0x05, "head open, paper empty", {"head open", "paper empty"}, kExitHeadOpen},
      // Combinations outside the old code list are reported whole.
      {0x06, "paper jam, paper empty", {"paper jam", "paper empty"}, kExitPaperJam},
      {0x30, "paused, printing", {"paused", "printing"}, kExitPaused},
      {0x40, "unknown condition", {"unknown condition"}, kExitUnknownStatus},
      {0xC0, "unknown condition, other error", {"unknown condition", "other error"},
       kExitUnknownStatus},
      {0xFF, nullptr, {"head open", "paper jam", "paper empty", "ribbon empty", "paused",
                       "printing", "unknown condition", "other error"}, kExitHeadOpen},
  };
  for (const Case& c : cases) {
    StatusReport r = describeStatus(c.byte);
    if (c.words) {
      EXPECT_EQ(r.words, c.words) << int{c.byte};
    }
    EXPECT_EQ(r.conditions, c.conditions) << int{c.byte};
    EXPECT_EQ(r.exitCode, c.exitCode) << int{c.byte};
    ASSERT_TRUE(r.byte);
    EXPECT_EQ(*r.byte, c.byte);
  }
  EXPECT_EQ(statusCode(0x0A), "0A");
  EXPECT_EQ(statusCode(0x00), "00");
  StatusReport none = noStatusReply();
  EXPECT_FALSE(none.byte);
  EXPECT_EQ(none.exitCode, kExitNoReply);
  EXPECT_TRUE(none.conditions.empty());
  // Every byte names each of its bits once and exits with a condition's code
  // (never one of the tool's own failures).
  for (unsigned b = 1; b < 256; ++b) {
    StatusReport r = describeStatus(static_cast<std::uint8_t>(b));
    EXPECT_EQ(r.conditions.size(), static_cast<std::size_t>(__builtin_popcount(b))) << b;
    EXPECT_NE(r.exitCode, kExitOk);
    EXPECT_NE(r.exitCode, kExitFailed);
    EXPECT_NE(r.exitCode, kExitUsage);
    EXPECT_NE(r.exitCode, kExitNoReply);
  }
}

TEST(Json, NumbersStayNumbersAndAnythingElseIsAString) {
  for (const char* n : {"203", "0", "-1", "12.5", "1048576"}) EXPECT_EQ(jsonNumberOrString(n), n);
  for (const char* s : {"", "-", "012", "1.", ".5", "1e5", "203 dpi", "12,5", "0x10", "1.2.3"})
    EXPECT_EQ(jsonNumberOrString(s), jsonString(s)) << s;
}

TEST(Replies, FramingIsDroppedAndMissingRepliesAreNone) {
  EXPECT_EQ(cleanReply("PALOMA-VP\r\n"), "PALOMA-VP");
  EXPECT_EQ(cleanReply("\x02" "203\r\n\x03"), "203");
  EXPECT_EQ(cleanReply("  Code Page 850 \r\n"), "Code Page 850");
  EXPECT_EQ(cleanReply("a b"), "a b");
  EXPECT_FALSE(cleanReply("-1"));
  EXPECT_FALSE(cleanReply(""));
  EXPECT_FALSE(cleanReply(std::string("\r\n\0", 3)));
}

TEST(Replies, DiscoveryAnswerFieldsOnlyWhenUsable) {
  auto parse = [](const std::string& s) {
    return parseAnswer(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  };
  std::string vp = "paloma-vprinter;name=Front desk;tcp=9100;";
  vp.resize(64, '\0');
  AnswerFields f = parse(vp);
  EXPECT_EQ(f.name, "Front desk");
  EXPECT_EQ(f.tcpPort, 9100);

  EXPECT_FALSE(parse(std::string(33, 'A')).name);
  EXPECT_FALSE(parse(std::string(33, 'A')).tcpPort);
  EXPECT_FALSE(parse("x;tcp=0;name=;").tcpPort);
  EXPECT_FALSE(parse("x;tcp=0;name=;").name);
  EXPECT_FALSE(parse("x;tcp=65536;").tcpPort);
  EXPECT_FALSE(parse("x;tcp=12ab;").tcpPort);
  // Reserved bytes come %XX-encoded; control bytes, as sent or decoded,
  // never reach the terminal; a broken escape stays as it is.
  EXPECT_EQ(parse("x;name=A%3BB%3dC%25;").name, "A;B=C%");
  EXPECT_EQ(parse("x;name=bell\x07%1B[2J;").name, "bell??[2J");
  EXPECT_EQ(parse("x;name=50%;").name, "50%");
  EXPECT_EQ(parse("x;name=%4;").name, "%4");
  EXPECT_EQ(parse("x;name=%zz1;").name, "%zz1");
  EXPECT_FALSE(parse(std::string("x;na\0me=hidden;", 15)).name);  // text ends at NUL
  EXPECT_EQ(parse("name=last field without end").name, "last field without end");
}

TEST(Json, StringsAreEscapedAndStayValidUtf8) {
  EXPECT_EQ(jsonString("plain"), "\"plain\"");
  EXPECT_EQ(jsonString("a\"b\\c\n\r\t"), "\"a\\\"b\\\\c\\n\\r\\t\"");
  EXPECT_EQ(jsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(jsonString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  // Bytes that are not UTF-8: a lone continuation, a cut sequence, an
  // overlong form, an encoded surrogate.
  EXPECT_EQ(jsonString("\x80"), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(jsonString("ab\xE2\x82"), "\"ab\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  // C1 controls in UTF-8 (a CSI among them) are escaped too.
  EXPECT_EQ(jsonString("a\xC2\x9B" "2J\xC2\xA0"), "\"a\\u009b2J\xC2\xA0\"");
}

// No escape sequence from a printer reaches the terminal: ESC, an OSC
// title or clipboard write, a screen clear, a raw or UTF-8 C1 control all
// show as visible escapes; text and UTF-8 letters stay as they are.
TEST(Terminal, ControlsFromThePrinterAreShownNotObeyed) {
  EXPECT_EQ(terminalText("PALOMA VP-203 caf\xC3\xA9"), "PALOMA VP-203 caf\xC3\xA9");
  EXPECT_EQ(terminalText("\x1b]0;owned\x07"), "\\x1B]0;owned\\x07");
  EXPECT_EQ(terminalText("\x1b]52;c;ZWNobw==\x1b\\"), "\\x1B]52;c;ZWNobw==\\x1B\\");
  EXPECT_EQ(terminalText("\x1b[2J\x1b[H"), "\\x1B[2J\\x1B[H");
  EXPECT_EQ(terminalText("\xC2\x9B" "2J\xC2\x9D"), "\\u009B2J\\u009D");
  EXPECT_EQ(terminalText("\x9B" "2J\x7F\t"), "\\x9B2J\\x7F\\x09");
  for (int c = 0; c < 256; ++c) {
    std::string shown = terminalText(std::string(1, static_cast<char>(c)));
    for (unsigned char b : shown) EXPECT_TRUE(b >= 0x20 && b < 0x7F) << c;
  }
}

TEST(Progress, LineShowsShareBytesRateAndTimeLeftWithinItsWidth) {
  std::string l = progressLine(1000000, 4000000, 2.0, 80);
  EXPECT_EQ(l.substr(0, 1), "[");
  EXPECT_NE(l.find(" 25% "), std::string::npos) << l;
  EXPECT_NE(l.find("1.0 MB of 4.0 MB"), std::string::npos) << l;
  EXPECT_NE(l.find("500.0 kB/s"), std::string::npos) << l;
  EXPECT_NE(l.find("0:06 left"), std::string::npos) << l;
  EXPECT_LE(l.size(), 80u);

  // No time yet: no rate and no guess; done beyond the total reads as all.
  EXPECT_EQ(progressLine(0, 2000000, 0.0, 80).find("/s"), std::string::npos);
  EXPECT_NE(progressLine(5000000, 2000000, 1.0, 80).find("100%"), std::string::npos);
  EXPECT_NE(progressLine(0, 0, 1.0, 80).find("100%"), std::string::npos);
  // A narrow terminal drops the bar, not the numbers.
  std::string narrow = progressLine(1000000, 4000000, 2.0, 30);
  EXPECT_EQ(narrow.find('['), std::string::npos);
  EXPECT_NE(narrow.find("25%"), std::string::npos);
  // An hour and more left is still minutes and seconds.
  EXPECT_NE(progressLine(1000, 4000000000ULL, 1.0, 100).find("66:39 left"), std::string::npos)
      << progressLine(1000, 4000000000ULL, 1.0, 100);
  EXPECT_EQ(humanBytes(999), "999 B");
  EXPECT_EQ(humanBytes(1500000000.0), "1.5 GB");
}

TEST(Pictures, PicturesAndDocumentsAreToldFromLabelCommands) {
  struct Case {
    std::string head;
    const char* format;  // nullptr: label commands
  } cases[] = {
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), "PNG"},
      {"\xFF\xD8\xFF\xE0\0\x10JFIF", "JPEG"},
      {"GIF89a\x01\0\x01\0", "GIF"},
      {std::string("BM\x36\0\0\0\0\0\0\0\x36\0", 12), "BMP"},
      {std::string("II*\0\x08\0\0\0", 8), "TIFF"},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "WebP"},
      {"%PDF-1.7\n", "PDF"},
      {"%!PS-Adobe-3.0\n", "PostScript"},
      {"P6\n640 480\n255\n", "PNM"},
      {"SIZE 50 mm,30 mm\r\n", nullptr},
      {"BLINE 2 mm,0\r\n", nullptr},
      {"BMP_LOGO\r\n", nullptr},  // "BM" without the zero fields of a bitmap
      {"PRINT 1\r\n", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const auto got = pictureOrDocument(reinterpret_cast<const unsigned char*>(c.head.data()),
                                       c.head.size());
    if (c.format) {
      ASSERT_TRUE(got.has_value()) << c.format;
      EXPECT_EQ(*got, c.format);
    } else {
      EXPECT_FALSE(got.has_value()) << c.head << " taken for " << got.value_or("");
    }
  }
}

TEST(Pictures, LengthsInDotsMillimetresAndInches) {
  EXPECT_EQ(lengthInDots("120", 203, 5000), 120);
  EXPECT_EQ(lengthInDots("25mm", 203, 5000), 200);   // 199.8
  EXPECT_EQ(lengthInDots("1.5in", 300, 5000), 450);
  EXPECT_EQ(lengthInDots("0", 203, 5000), 0);
  EXPECT_EQ(lengthInDots("10.5", 203, 5000), std::nullopt);  // dots are whole
  EXPECT_EQ(lengthInDots("-3", 203, 5000), std::nullopt);
  EXPECT_EQ(lengthInDots("3cm", 203, 5000), std::nullopt);
  EXPECT_EQ(lengthInDots("", 203, 5000), std::nullopt);
  EXPECT_EQ(lengthInDots("30in", 203, 5000), std::nullopt);  // beyond the bound
}

}  // namespace
}  // namespace paloma_cli
