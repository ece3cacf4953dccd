// The preview's server: who may change the status, what files it hands out,
// the events a page gets, and that stopping ends open pages at once.
#include <gtest/gtest.h>
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "web_preview.h"

namespace vprinter {
namespace {

struct PreviewRig {
  explicit PreviewRig(bool writeLabels = false)
      : printer(options(writeLabels), nullptr), preview(printer, dir) {
    std::string error;
    started = preview.start("127.0.0.1", 0, error);
  }
  ~PreviewRig() {
    preview.stop(2000);
    if (dir != "/tmp" && std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
    }
  }
  PrinterOptions options(bool writeLabels) {
    char t[] = "/tmp/vprinter-web-XXXXXX";
    dir = mkdtemp(t) ? t : "/tmp";
    PrinterOptions o;
    if (writeLabels) o.outDir = dir;
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
  label.commandsDropped = 3;
  label.commands.resize(WebPreview::kMaxCommandsSent + 5);
  label.commands.front().text = "CLS";
  label.commands.back().text = "PRINT \"1\"";
  label.commands.back().endpoint = "tcp#2";
  label.commands.back().markBox = {4, 5, 60, 30};
  label.commands.back().markText = "PRINT";
  label.commands.back().error = "quoted";
  std::string json = WebPreview::labelJson(label);
  EXPECT_NE(json.find("\"png\":\"/labels/label-000012.png\",\"raw\":\"/labels/label-000012.prn\""),
            std::string::npos);
  EXPECT_NE(json.find("\"width_mm\":50.0"), std::string::npos);
  EXPECT_EQ(json.find("\"text\":\"CLS\""), std::string::npos) << "the first are left out";
  EXPECT_NE(json.find("\"commands_dropped\":8"), std::string::npos) << "and counted";
  EXPECT_NE(json.find("{\"endpoint\":\"tcp#2\",\"text\":\"PRINT \\\"1\\\"\",\"mark\":[4,5,60,30],"
                      "\"mark_text\":\"PRINT\",\"error\":\"quoted\"}]"),
            std::string::npos)
      << json;
}

// A command file sent from the page prints as a stream of its own; another
// site's page cannot send one.
TEST(WebPreview, ThePagePrintsACommandFile) {
  PreviewRig rig(true);
  ASSERT_TRUE(rig.started);
  std::vector<LabelRecord> labels;
  rig.printer.onLabel([&](const LabelRecord& l) {
    labels.push_back(l);
    rig.preview.addLabel(l);
  });
  const std::string file = "SIZE 20 mm,10 mm\r\nCLS\r\nBAR 1,1,8,8\r\nFROB\r\nPRINT 2\r\nOUT @LABEL\r\n";
  auto refused = rig.client().Post("/api/print", file, "text/plain");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
  EXPECT_TRUE(labels.empty());
  auto res = rig.client().Post("/api/print", {{"X-Paloma-Page", "1"}}, file, "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "{\"endpoint\":\"page#1\",\"labels\":2,\"errors\":1,\"reply\":\"2\\r\\n\"}");
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].endpoint, "page#1");
  ASSERT_EQ(labels[0].commands.size(), 5u);
  EXPECT_EQ(labels[0].commands[3].markText, "FROB");
  std::string ev = rig.events("label-000002.png");
  EXPECT_NE(ev.find("\"text\":\"BAR 1,1,8,8\",\"box\":[1,1,8,8]"), std::string::npos) << ev;

  // Cleared from the page, the labels are not sent to pages opened later.
  rig.preview.addProblem("tcp#1", "kept;");
  auto clear = rig.client().Post("/api/clear", {{"X-Paloma-Page", "1"}}, "", "text/plain");
  ASSERT_TRUE(clear);
  EXPECT_EQ(clear->status, 200);
  ev = rig.events("event: clear");
  EXPECT_EQ(ev.find("event: label"), std::string::npos) << ev;
  EXPECT_NE(ev.find("kept;"), std::string::npos) << "problems stay";
}

// Sixty slow clients from one address (each sending a request head a byte
// at a time) neither keep the page from another client nor hold their
// connections beyond the request bound.
TEST(WebPreview, SlowClientsOfOneAddressCannotTakeThePageFromOthers) {
  PreviewRig rig;
  ASSERT_TRUE(rig.started);
  std::vector<int> slow;
  for (int i = 0; i < 60; ++i) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);  // the slow clients' own address
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(static_cast<uint16_t>(rig.preview.port()));
    if (bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      close(s);
      continue;
    }
    send(s, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", 33, MSG_NOSIGNAL);
    slow.push_back(s);
  }
  ASSERT_EQ(slow.size(), 60u);
  auto start = std::chrono::steady_clock::now();
  std::vector<bool> cut(slow.size(), false);
  bool pageServed = false;
  // A header byte every second from each, for at most 9 s.
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(9)) {
    if (!pageServed) {
      httplib::Result r = rig.client().Get("/");
      pageServed = r && r->status == 200;
    }
    for (std::size_t i = 0; i < slow.size(); ++i) {
      if (cut[i]) continue;
      pollfd p{slow[i], POLLIN, 0};
      char b;
      if (poll(&p, 1, 0) > 0 && recv(slow[i], &b, 1, MSG_DONTWAIT) <= 0) cut[i] = true;
      else if (send(slow[i], "X", 1, MSG_NOSIGNAL) != 1) cut[i] = true;
    }
    if (pageServed && std::count(cut.begin(), cut.end(), true) == static_cast<long>(slow.size()))
      break;
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_TRUE(pageServed);
  EXPECT_EQ(std::count(cut.begin(), cut.end(), true), static_cast<long>(slow.size()));
  for (int s : slow) close(s);
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
