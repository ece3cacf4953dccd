// The live preview: a small web server (cpp-httplib) whose page shows every
// label as it prints, newest first, and a panel with what the printer answers,
// where the status can be changed.
//
//   GET  /                  the page (index.html, app.js, style.css)
//   GET  /events            server-sent events: "label", "problem", "status", "clear";
//                           a new reader gets the recent ones first
//   GET  /api/printer       name, dpi, serial number, code page, settings, status
//   POST /api/status?status=N   sets the status byte (needs the header
//                           X-Paloma-Page, which a page of another site cannot
//                           send without asking first)
//   POST /api/clear         empties the list of labels on every page (X-Paloma-Page)
//   POST /api/print         runs the body as a command stream of its own
//                           ("page#N"; needs X-Paloma-Page too); answers the
//                           labels made, the errors and what the printer replied
//   GET  /labels/label-NNNNNN.png, .prn   a label's PNG and the bytes received for it
//
// Each connection carries one request, which must arrive whole within 5 s,
// and one client address holds at most 12 connections at once, so that slow
// clients cannot take the page away from others.
#ifndef PALOMA_VPRINTER_WEB_PREVIEW_H
#define PALOMA_VPRINTER_WEB_PREVIEW_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "printer.h"

namespace httplib {
class Server;
}

namespace vprinter {

class WebPreview {
 public:
  WebPreview(Printer& printer, std::string outDir);
  ~WebPreview();
  WebPreview(const WebPreview&) = delete;
  WebPreview& operator=(const WebPreview&) = delete;

  // Listens on host:port (port 0 picks a free one) and serves from a thread of
  // its own. False with `error` when the address cannot be had.
  bool start(const std::string& host, int port, std::string& error);
  int port() const { return port_; }
  // The printer's TCP endpoint, shown on the page.
  void setTcpEndpoint(const std::string& endpoint);
  // Ends the event streams and the server. False when the server's thread did
  // not end within `ms` (it is then left running; end the process).
  bool stop(int ms);

  // Called by the printer (any thread).
  void addLabel(const LabelRecord& label);
  void addProblem(const std::string& endpoint, const std::string& logLine);
  // Forgets the labels sent so far; open pages empty their lists.
  void clearLabels();

  // The JSON of a label event (for tests).
  static std::string labelJson(const LabelRecord& label);
  // Bounds of what the page is sent.
  static constexpr size_t kMaxCommandsSent = 500;
  // Bytes a page may send to be printed (POST /api/print).
  static constexpr size_t kMaxPrintBytes = 4u << 20;
  static constexpr size_t kMaxEventsKept = 300;
  static constexpr size_t kMaxEventBytesKept = 32u << 20;
  static constexpr int kMaxStreams = 16;

 private:
  void publish(const std::string& event, const std::string& json);
  std::string printerJson();
  // Events from `cursor` on, waiting at most `ms` for one; false when stopping.
  bool nextEvents(uint64_t& cursor, std::string& out, int ms);

  Printer& printer_;
  std::string outDir_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> threadDone_{false};
  int port_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  struct Event {
    uint64_t id;
    std::string text;
  };
  std::deque<Event> events_;
  size_t eventBytes_ = 0;
  uint64_t nextId_ = 1;
  bool stopping_ = false;
  std::string tcpEndpoint_;
  std::atomic<int> streams_{0};
  uint64_t pageRuns_ = 0;                       // command files sent from the page
  std::map<std::string, uint64_t> pageLabels_;  // their endpoints -> labels made so far
};

}  // namespace vprinter

#endif
