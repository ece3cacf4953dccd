// The preview's server: who may change the status, what files it hands out,
// the events a page gets, and that stopping ends open pages at once.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "web_preview.h"

namespace vprinter {
namespace {

struct PreviewRig {
  PreviewRig() : printer(options(), nullptr), preview(printer, dir) {
    std::string error;
    started = preview.start("127.0.0.1", 0, error);
  }
  ~PreviewRig() {
    preview.stop(2000);
    unlink((dir + "/label-000007.png").c_str());
    rmdir(dir.c_str());
  }
  PrinterOptions options() {
    char t[] = "/tmp/vprinter-web-XXXXXX";
    dir = mkdtemp(t) ? t : "/tmp";
    PrinterOptions o;
    o.status = 0x00;
    return o;
  }
  httplib::Client client() {
    httplib::Client c("127.0.0.1", preview.port());
    c.set_connection_timeout(2, 0);
    c.set_read_timeout(3, 0);
    return c;
  }
  // The text of the event stream until it holds `until` (at most 3 s).
  std::string events(const std::string& until) {
    std::string got;
    httplib::Client c = client();
    c.Get("/events", [&](const char* data, size_t n) {
      got.append(data, n);
      return got.find(until) == std::string::npos;
    });
    return got;
  }
  std::string dir;
  Printer printer;
  WebPreview preview;
  bool started = false;
};

TEST(WebPreview, OnlyThePrintersOwnPageChangesTheStatus) {
  PreviewRig rig;
  ASSERT_TRUE(rig.started);
  struct Row {
    const char* what;
    std::string query;
    httplib::Headers headers;
    int httpStatus;
    int printerStatus;  // after the request
  };
  const Row rows[] = {
      {"from the page", "status=4", {{"X-Paloma-Page", "1"}}, 200, 4},
      {"hexadecimal", "status=0x11", {{"X-Paloma-Page", "1"}}, 200, 0x11},
      {"without the page's header (another site's form)", "status=0", {}, 403, 0x11},
      {"not a byte", "status=256", {{"X-Paloma-Page", "1"}}, 400, 0x11},
      {"no value", "", {{"X-Paloma-Page", "1"}}, 400, 0x11},
      {"a name pointing here (DNS rebinding)", "status=0",
       {{"X-Paloma-Page", "1"}, {"Host", "printer.example.com"}}, 403, 0x11},
      {"back to ready", "status=0", {{"X-Paloma-Page", "1"}}, 200, 0},
  };
  for (const Row& r : rows) {
    httplib::Client c = rig.client();
    auto res = c.Post(("/api/status?" + r.query).c_str(), r.headers, "", "text/plain");
    ASSERT_TRUE(res) << r.what;
    EXPECT_EQ(res->status, r.httpStatus) << r.what;
    EXPECT_EQ(rig.printer.status(), r.printerStatus) << r.what;
  }
  auto facts = rig.client().Get("/api/printer");
  ASSERT_TRUE(facts);
  EXPECT_NE(facts->body.find("\"status\":0"), std::string::npos) << facts->body;
  // The page names the bits with the library's table, every bit once.
  EXPECT_NE(facts->body.find("\"status_conditions\":[{\"bit\":1,\"name\":\"head open\"},"
                             "{\"bit\":2,\"name\":\"paper jam\"},{\"bit\":4,\"name\":\"paper empty\"},"
                             "{\"bit\":8,\"name\":\"ribbon empty\"},{\"bit\":16,\"name\":\"paused\"},"
                             "{\"bit\":32,\"name\":\"printing\"},"
                             "{\"bit\":64,\"name\":\"unknown condition\"},"
                             "{\"bit\":128,\"name\":\"other error\"}]"),
            std::string::npos)
      << facts->body;
  // Each change reached the pages.
  std::string ev = rig.events("\"status\":0}");
  EXPECT_NE(ev.find("event: status\ndata: {\"status\":17}"), std::string::npos) << ev;
}

TEST(WebPreview, LabelFilesAreServedByTheirNamesOnly) {
  PreviewRig rig;
  ASSERT_TRUE(rig.started);
  std::ofstream(rig.dir + "/label-000007.png") << "PNG bytes";
  auto ok = rig.client().Get("/labels/label-000007.png");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(ok->body, "PNG bytes");
  EXPECT_EQ(ok->get_header_value("Content-Type"), "image/png");
  for (const char* path : {"/labels/label-000008.png", "/labels/../label-000007.png",
                           "/labels/label-000007.png.tmp", "/labels/log.jsonl",
                           "/labels/label-7.png", "/labels/%2e%2e%2flabel-000007.png"}) {
    auto res = rig.client().Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
  }
  auto page = rig.client().Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<script src=\"/app.js\">"), std::string::npos);
}

TEST(WebPreview, ANewPageGetsTheRecentEventsInOrderAndNoMore) {
  PreviewRig rig;
  ASSERT_TRUE(rig.started);
  const size_t sent = WebPreview::kMaxEventsKept + 50;
  for (size_t i = 1; i <= sent; ++i) rig.preview.addProblem("tcp#1", "problem " + std::to_string(i) + ";");
  std::string ev = rig.events("problem " + std::to_string(sent) + ";");
  EXPECT_EQ(ev.find("problem 50;"), std::string::npos) << "the oldest are dropped";
  size_t first = ev.find("problem 51;");
  size_t last = ev.find("problem " + std::to_string(sent) + ";");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(first, last);

  LabelRecord label;
  label.number = 12;
  label.widthMm = 50;
  label.raw = "/somewhere/label-000012.prn";
  label.logLines.assign(WebPreview::kMaxLogLinesSent + 5, "{\"command\":\"CLS\"}");
  label.logLines.back() = "{\"command\":\"PRINT\"}";
  std::string json = WebPreview::labelJson(label);
  EXPECT_NE(json.find("\"png\":\"/labels/label-000012.png\",\"raw\":\"/labels/label-000012.prn\""),
            std::string::npos);
  EXPECT_NE(json.find("\"width_mm\":50.0"), std::string::npos);
  EXPECT_NE(json.find("5 earlier log lines"), std::string::npos);
  EXPECT_NE(json.find("PRINT"), std::string::npos) << "the last lines are kept";
}

TEST(WebPreview, StoppingEndsOpenPagesAtOnce) {
  PreviewRig rig;
  ASSERT_TRUE(rig.started);
  std::thread page([&] { rig.events("never comes"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto t = std::chrono::steady_clock::now();
  EXPECT_TRUE(rig.preview.stop(900));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t);
  EXPECT_LT(ms.count(), 900);
  page.join();
}

}  // namespace
}  // namespace vprinter
