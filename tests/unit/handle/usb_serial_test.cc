// Picking one of several USB printers by its serial number: the usb: forms
// that name one, and paloma_open among several printers on the fake.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handle/uri.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

std::string makerPath(const std::string& location, const char* product = "0001") {
  return std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID + "&pid_" + product + "#" +
         location + "#{a5dcbf10}";
}
const std::string kForeignPath = "\\\\?\\usb#vid_0000&pid_0001#b001p9#{a5dcbf10}";

TEST(UsbSerialUri, SerialsBusPlacesAndEscapes) {
  std::string why;
  struct Row {
    const char* uri;
    const char* serial;
    const char* location;
  } rows[] = {
      {"usb:EMU0001", "EMU0001", ""},
      {"usb://X7-A.b_c~", "X7-A.b_c~", ""},
      {"usb:A%20B%25c", "A B%c", ""},
      {"usb:%31-2", "1-2", ""},          // escaped first character: a serial, not a place
      {"usb:%C3%BC", "\xC3\xBC", ""},
      {"usb:12", "12", ""},              // digits without '-' are no place
      {"usb:1-2", "", "b001p2"},
      {"usb:b002p3.1", "", "b002p3.1"},
  };
  for (const Row& r : rows) {
    auto u = parsePrinterUri(r.uri, &why);
    ASSERT_TRUE(u) << r.uri << ": " << why;
    EXPECT_EQ(u->kind, UriKind::Usb) << r.uri;
    EXPECT_EQ(u->serial, r.serial) << r.uri;
    EXPECT_EQ(u->location, r.location) << r.uri;
  }
  for (const char* bad : {"usb:a b", "usb:A%2", "usb:A%zz", "usb:%00", "usb:A%0D", "usb:b001p",
                          "usb:12-x", "usb:A\x7F"}) {
    why.clear();
    EXPECT_FALSE(parsePrinterUri(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  EXPECT_FALSE(parsePrinterUri("usb:" + std::string(401, 'A'), &why));
  EXPECT_TRUE(parsePrinterUri("usb:" + std::string(400, 'A'), &why));

  // Whatever a printer reports, the address written for it names it again.
  for (std::string serial : {"EMU1", "A B/#?%&=", "1-2", "b001p3", "12", "0-", "\xC3\xBC-\xCE\xA9",
                             "~x.y_z-"}) {
    std::string uri = usbSerialUri(serial);
    auto u = parsePrinterUri(uri, &why);
    ASSERT_TRUE(u) << uri << ": " << why;
    EXPECT_EQ(u->serial, serial) << uri;
    EXPECT_EQ(u->location, "") << uri;
  }
  EXPECT_EQ(usbSerialUri("EMU-1.2_x~"), "usb:EMU-1.2_x~");
  EXPECT_EQ(usbSerialUri("1-2"), "usb:%31-2");
  EXPECT_EQ(usbPlaceText("b001p1.4"), "1-1.4");
  EXPECT_EQ(usbPlaceText("b012p3"), "12-3");
}

struct UsbRig {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  paloma_printer* p = nullptr;
  ~UsbRig() { paloma_close(p); }

  // Plugs in printers at the given places, each with its serial ("" none).
  void plug(const std::vector<std::pair<std::string, std::string>>& printers) {
    std::vector<std::string> paths;
    for (const auto& [location, serial] : printers) {
      paths.push_back(makerPath(location));
      if (!serial.empty()) f.setUsbSerial(paths.back(), serial);
    }
    paths.push_back(kForeignPath);
    f.setUsbSerial(kForeignPath, "B2");  // another maker's device is never picked
    f.setUsbPaths(paths);
  }
  std::string error() const { return paloma_last_error(); }
};

TEST(UsbSerialOpen, PicksThePrinterWithTheSerialAndOnlyIt) {
  UsbRig r;
  r.plug({{"b001p1", "A1"}, {"b001p2", "B2"}, {"b001p3", ""}, {"b001p4", "C3"}});
  ASSERT_EQ(paloma_open("usb:B2", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p2")));
  EXPECT_FALSE(r.f.isOpen(makerPath("b001p4")));  // plain usb: would take the last
  ASSERT_EQ(paloma_send_command(r.p, "PRINT 1"), PALOMA_OK);
  EXPECT_EQ(r.f.wire(makerPath("b001p2")), "PRINT 1\r\n");
  EXPECT_EQ(r.f.wire(makerPath("b001p4")), "");
  paloma_close(r.p);
  r.p = nullptr;

  // The first printer, and one whose number the system wrote in capitals.
  ASSERT_EQ(paloma_open("usb:A1", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p1")));
  paloma_close(r.p);
  r.p = nullptr;
  ASSERT_EQ(paloma_open("usb:c3", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p4")));
}

TEST(UsbSerialOpen, ExactCaseWinsOverAnotherThatDiffersOnlyInCase) {
  UsbRig r;
  r.plug({{"b001p1", "ab12"}, {"b001p2", "AB12"}});
  ASSERT_EQ(paloma_open("usb:AB12", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p2")));
  paloma_close(r.p);
  r.p = nullptr;
  ASSERT_EQ(paloma_open("usb:ab12", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p1")));
  paloma_close(r.p);
  r.p = nullptr;
  // Neither exact: two that differ only in case are two matches.
  EXPECT_EQ(paloma_open("usb:Ab12", &r.p), PALOMA_ERROR_OS);
  EXPECT_EQ(r.p, nullptr);
}

TEST(UsbSerialOpen, NoMatchNamesTheSerialAndListsThoseSeen) {
  UsbRig r;
  r.plug({{"b001p1", "A1"}, {"b001p2", "B2"}, {"b001p3", ""}});
  EXPECT_EQ(paloma_open("usb:Z9", &r.p), PALOMA_ERROR_OS);
  EXPECT_EQ(r.p, nullptr);
  EXPECT_EQ(r.error(),
            "no USB printer of the maker has serial number \"Z9\"; serial numbers seen: \"A1\", "
            "\"B2\"; 1 printer without one that could be read");
  EXPECT_TRUE(r.f.entries("open").empty());

  // Only another maker's device attached.
  r.f.setUsbPaths({kForeignPath});
  EXPECT_EQ(paloma_open("usb:B2", &r.p), PALOMA_ERROR_OS);
  EXPECT_EQ(r.error(), "no USB printer with serial number \"B2\": no USB printer of the maker is "
                       "connected");

  // The device list itself cannot be had.
  r.f.setUsbPaths({}, false);
  EXPECT_EQ(paloma_open("usb:A1", &r.p), PALOMA_ERROR_OS);
  EXPECT_FALSE(r.error().empty());
}

TEST(UsbSerialOpen, ASerialTwoPrintersShareIsRefusedWithTheirPlaces) {
  UsbRig r;
  r.plug({{"b001p1.4", "DUP"}, {"b001p2", "OTHER"}, {"b002p3", "DUP"}});
  EXPECT_EQ(paloma_open("usb:DUP", &r.p), PALOMA_ERROR_OS);
  EXPECT_EQ(r.p, nullptr);
  EXPECT_EQ(r.error(), "2 USB printers of the maker have serial number \"DUP\", so it names none "
                       "of them: pick one by its bus place instead (1-1.4, 2-3)");
  EXPECT_TRUE(r.f.entries("open").empty());
  // The bus place still picks either.
  ASSERT_EQ(paloma_open("usb:2-3", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b002p3")));
}

TEST(UsbSerialOpen, PlainUsbAsksNoSerialNumbers) {
  // Asking a device for its serial number takes time; an address that names
  // none must not.
  UsbRig r;
  r.plug({{"b001p1", "A1"}, {"b001p2", "B2"}});
  ASSERT_EQ(paloma_open("usb:", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p2")));
  paloma_close(r.p);
  r.p = nullptr;
  ASSERT_EQ(paloma_open("usb:1-1", &r.p), PALOMA_OK) << r.error();
  EXPECT_TRUE(r.f.isOpen(makerPath("b001p1")));
  EXPECT_TRUE(r.f.entries("usb-serial").empty());
  // Serial numbers are asked of the maker's printers only.
  paloma_close(r.p);
  r.p = nullptr;
  ASSERT_EQ(paloma_open("usb:A1", &r.p), PALOMA_OK) << r.error();
  for (const auto& e : r.f.entries("usb-serial")) EXPECT_NE(e.target, kForeignPath);
  EXPECT_EQ(r.f.entries("usb-serial").size(), 2u);
}

}  // namespace
}  // namespace paloma
