// The tool's default printer and named printers, and the labels it composes:
// sizes, item options, label files, CSV tables and their placeholders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "label.h"
#include "printers.h"

namespace paloma_cli {
namespace {

const char kBook[] =
    "# labels\n"
    "default = shipping\n"
    "shipping = tcp://192.168.1.50\r\n"
    "\n"
    "  office =   queue:Office_Labels  \n";

TEST(Printers, ConfigurationFileAndItsMistakes) {
  PrinterBook book;
  std::string why;
  ASSERT_TRUE(parsePrinterBook(kBook, &book, &why)) << why;
  ASSERT_EQ(book.printers.size(), 2u);
  EXPECT_EQ(book.printers[1].first, "office");
  EXPECT_EQ(book.printers[1].second, "queue:Office_Labels");
  EXPECT_EQ(book.defaultPrinter, "shipping");

  struct Bad {
    const char* text;
    const char* says;
  };
  const Bad bad[] = {
      {"shipping tcp://x\n", "line 1"},
      {"a = tcp://x\nb c = tcp://y\n", "line 2"},
      {"a = tcp://x\na = tcp://y\n", "second printer"},
      {"default = a\ndefault = b\n", "second default"},
      {"a =\n", "no value"},
      {"a = b\n", "address"},  // a name standing for a name would loop
  };
  for (const Bad& b : bad) {
    PrinterBook kept = book;
    EXPECT_FALSE(parsePrinterBook(b.text, &kept, &why)) << b.text;
    EXPECT_NE(why.find(b.says), std::string::npos) << b.text << ": " << why;
    EXPECT_EQ(kept.printers.size(), 2u) << "a refused file leaves the book as it was";
  }
  EXPECT_EQ(configPath("/x/cfg", "/home/u"), "/x/cfg/paloma/config");
  EXPECT_EQ(configPath("relative", "/home/u"), "/home/u/.config/paloma/config");
  EXPECT_EQ(configPath(nullptr, nullptr), "");
}

TEST(Printers, ChoiceOrderAndNames) {
  int loads = 0;
  auto load = [&](PrinterBook* b, std::string* why) {
    ++loads;
    return parsePrinterBook(kBook, b, why);
  };
  std::string why;
  // --to beats PALOMA_PRINTER beats the default; an address needs no book.
  auto c = choosePrinter("tcp://10.0.0.1", "office", load, &why);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->uri, "tcp://10.0.0.1");
  EXPECT_EQ(loads, 0);
  c = choosePrinter("office", "tcp://10.0.0.2", load, &why);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->uri, "queue:Office_Labels");
  c = choosePrinter("", "/dev/usb/lp0", load, &why);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->uri, "/dev/usb/lp0");
  EXPECT_EQ(c->source, "PALOMA_PRINTER");
  c = choosePrinter("", "", load, &why);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->uri, "tcp://192.168.1.50");

  // An unknown name is refused with the names there are, never opened as a
  // spooler queue or a file of that name.
  EXPECT_FALSE(choosePrinter("shiping", nullptr, load, &why));
  EXPECT_NE(why.find("shipping, office"), std::string::npos) << why;
  auto empty = [](PrinterBook*, std::string*) { return true; };
  EXPECT_FALSE(choosePrinter("", nullptr, empty, &why));
  EXPECT_NE(why.find("--to"), std::string::npos) << why;
  auto unreadable = [](PrinterBook*, std::string* w) {
    *w = "cannot read it";
    return false;
  };
  EXPECT_FALSE(choosePrinter("", nullptr, unreadable, &why));
  EXPECT_EQ(why, "cannot read it");
}

TEST(Label, SizesAndItemOptions) {
  std::string w, h, why;
  ASSERT_TRUE(parseLabelSize("100x150mm", &w, &h, &why)) << why;
  EXPECT_EQ(w + "," + h, "100,150");
  ASSERT_TRUE(parseLabelSize("4 x 6 in", &w, &h, &why)) << why;
  EXPECT_EQ(w + "," + h, "101.6,152.4");
  for (const char* bad : {"100x150", "100mm", "x150mm", "0x10mm", "-5x10mm", "2000x10mm", "axbmm"})
    EXPECT_FALSE(parseLabelSize(bad, &w, &h, &why)) << bad;

  LabelItem item;
  ASSERT_TRUE(parseItemOption(ItemKind::Barcode, "40,15mm,128,A,B,C", 203, &item, &why)) << why;
  EXPECT_EQ(item.x, "40");
  EXPECT_EQ(item.y, "120");
  EXPECT_EQ(item.type, "128");
  EXPECT_EQ(item.data, "A,B,C") << "the data keeps its commas";
  ASSERT_TRUE(parseItemOption(ItemKind::Qr, "0,0,https://example.com/?a=1,2", 203, &item, &why));
  EXPECT_EQ(item.data, "https://example.com/?a=1,2");
  EXPECT_FALSE(parseItemOption(ItemKind::Text, "40,Hello", 203, &item, &why));
  EXPECT_FALSE(parseItemOption(ItemKind::Text, "40,40,", 203, &item, &why));
  EXPECT_FALSE(parseItemOption(ItemKind::Text, "-1,40,Hi", 203, &item, &why));
  EXPECT_FALSE(parseItemOption(ItemKind::Barcode, "1,2,Hi", 203, &item, &why));
}

TEST(Label, FileReadsEveryKeyAndRefusesTypos) {
  LabelDesign d;
  std::string why;
  ASSERT_TRUE(parseLabelFile(R"({"size": "4x6in", "gap": "0.1in", "dpi": 300, "speed": 3,
      "items": [{"text": "Hi {name}", "x": "10mm", "y": 5, "scale": 2, "rotation": 90},
                {"barcode": "{order}", "x": 1, "y": 2, "type": "EAN13", "height": "10mm"},
                {"qr": "q", "x": 0, "y": 0, "cell": 4, "ecc": "H"}]})",
                             &d, &why))
      << why;
  EXPECT_EQ(d.widthMm, "101.6");
  EXPECT_EQ(d.gapMm, "2.54");
  EXPECT_EQ(d.speed, "3");
  ASSERT_EQ(d.items.size(), 3u);
  EXPECT_EQ(d.items[0].x, "118") << "10 mm at 300 dpi";
  EXPECT_EQ(d.items[0].xScale, "2");
  EXPECT_EQ(d.items[0].yScale, "2");
  EXPECT_EQ(d.items[0].rotation, "90");
  EXPECT_EQ(d.items[1].kind, ItemKind::Barcode);
  EXPECT_EQ(d.items[1].height, "118");
  EXPECT_EQ(d.items[2].ecc, "H");

  const char* bad[] = {
      "", "[]", "{\"items\": 3}", "{}",
      R"({"items": [{"txt": "a"}]})",                   // a typo is not ignored
      R"({"items": [{"text": "a", "qr": "b"}]})",       // one kind an item
      R"({"items": [{"x": 1}]})",
      R"({"items": [{"text": ["a"]}]})",
      R"({"items": [], "colour": "red"})",
      R"({"items": [], "dpi": 0})",
      R"({"items": [], "size": "big"})",
      R"({"items": [{"text": "a", "x": "5cm"}]})",
  };
  for (const char* text : bad) {
    LabelDesign kept;
    EXPECT_FALSE(parseLabelFile(text, &kept, &why)) << text;
    EXPECT_FALSE(why.empty());
  }
}

TEST(Label, CsvTables) {
  Table t;
  std::string why;
  ASSERT_TRUE(parseCsv("\xEF\xBB\xBForder,name\r\n"
                       "1001,\"Smith, J\"\r\n"
                       "\n"
                       "1002,\"say \"\"hi\"\"\nthere\"\n"
                       "1003,",
                       &t, &why))
      << why;
  ASSERT_EQ(t.columns, (std::vector<std::string>{"order", "name"}));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0][1], "Smith, J");
  EXPECT_EQ(t.rows[1][1], "say \"hi\"\nthere");
  EXPECT_EQ(t.rows[2][1], "") << "a last field may be empty, with no line end";

  struct Bad {
    const char* text;
    const char* says;
  };
  const Bad bad[] = {
      {"", "empty"},
      {"a,b\n1\n", "row 1"},
      {"a,b\n1,2,3\n", "row 1"},
      {"a,a\n", "two columns"},
      {"a\n\"open\n", "not closed"},
      {"a\nx\"y\n", "quote inside"},
      {"a\n\"x\"y\n", "after a quoted"},
  };
  for (const Bad& b : bad) {
    EXPECT_FALSE(parseCsv(b.text, &t, &why)) << b.text;
    EXPECT_NE(why.find(b.says), std::string::npos) << b.text << ": " << why;
  }
}

TEST(Label, Placeholders) {
  const std::vector<std::string> columns{"order", "counter"};
  std::string out, why;
  ASSERT_TRUE(fillPlaceholders("#{order} {{x}} { order }", columns, {"7", "c"}, 3, &out, &why));
  EXPECT_EQ(out, "#7 {x} 7");
  // A column named "counter" is the table's; otherwise the row number.
  ASSERT_TRUE(fillPlaceholders("{counter}", columns, {"7", "c"}, 3, &out, &why));
  EXPECT_EQ(out, "c");
  ASSERT_TRUE(fillPlaceholders("{counter}/{counter}", {}, {}, 12, &out, &why));
  EXPECT_EQ(out, "12/12");
  out = "kept";
  EXPECT_FALSE(fillPlaceholders("{name}", columns, {"7", "c"}, 1, &out, &why));
  EXPECT_EQ(out, "kept");
  EXPECT_NE(why.find("{name}"), std::string::npos);
  EXPECT_FALSE(fillPlaceholders("{order", columns, {"7", "c"}, 1, &out, &why));
  EXPECT_FALSE(fillPlaceholders("order}", columns, {"7", "c"}, 1, &out, &why));
}

}  // namespace
}  // namespace paloma_cli
