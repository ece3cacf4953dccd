#include "web_preview.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "handle/status_conditions.h"
#include "json_log.h"
#include "options.h"
#include "web_assets.h"

namespace vprinter {

namespace {

// A connection of the page's server, read within one deadline for the whole
// request (head and body): a client trickling it, a byte now and then, is
// cut off when the deadline passes, whatever each read waits. Writes wait at
// most kWriteSeconds for room each.
class DeadlineStream : public httplib::Stream {
 public:
  static constexpr int kWriteSeconds = 5;
  DeadlineStream(socket_t sock, std::chrono::steady_clock::time_point readEnd)
      : sock_(sock), readEnd_(readEnd) {}

  bool is_readable() const override { return waitFor(POLLIN, leftMs()) > 0; }
  bool is_writable() const override { return waitFor(POLLOUT, kWriteSeconds * 1000) > 0; }
  ssize_t read(char* ptr, size_t size) override {
    if (!is_readable()) return -1;
    ssize_t n;
    do n = ::recv(sock_, ptr, size, 0);
    while (n < 0 && errno == EINTR);
    return n;
  }
  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    address(::getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    address(::getsockname, ip, port);
  }
  socket_t socket() const override { return sock_; }

 private:
  int leftMs() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        readEnd_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
  int waitFor(short events, int ms) const {
    pollfd p{sock_, events, 0};
    int r;
    do r = ::poll(&p, 1, ms);
    while (r < 0 && errno == EINTR);
    return r;
  }
  void address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    char host[INET6_ADDRSTRLEN] = "", serv[8] = "";
    ip.clear();
    port = 0;
    if (get(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        ::getnameinfo(reinterpret_cast<sockaddr*>(&a), len, host, sizeof host, serv, sizeof serv,
                      NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
      ip = host;
      port = std::atoi(serv);
    }
  }

  socket_t sock_;
  std::chrono::steady_clock::time_point readEnd_;
};

// The page's server, guarded so that one client cannot take the page away
// from the others (slow clients holding every thread of the pool): each
// connection carries one request, which must arrive whole (head and body)
// within kRequestSeconds, and one client address holds at most
// kConnectionsPerAddress connections at once (more are closed at once).
// What the server writes, the event stream among it, is not bounded so.
class GuardedServer : public httplib::Server {
 public:
  static constexpr int kRequestSeconds = 5;
  static constexpr int kConnectionsPerAddress = 12;

 private:
  bool process_and_close_socket(socket_t sock) override {
    std::string ip;
    int port = 0;
    DeadlineStream strm(sock, std::chrono::steady_clock::now() +
                                  std::chrono::seconds(kRequestSeconds));
    strm.get_remote_ip_and_port(ip, port);
    bool admitted;
    {
      std::lock_guard<std::mutex> g(m_);
      int& open = perAddress_[ip];
      admitted = open < kConnectionsPerAddress;
      if (admitted) ++open;
      else if (open == 0) perAddress_.erase(ip);
    }
    bool served = false;
    if (admitted) {
      bool closed = false;
      served = process_request(strm, /*close_connection=*/true, closed, nullptr);
      std::lock_guard<std::mutex> g(m_);
      if (--perAddress_[ip] <= 0) perAddress_.erase(ip);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
  }

  std::mutex m_;
  std::map<std::string, int> perAddress_;
};

std::string millimetres(double mm) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", mm);
  return b;
}

std::string boxJson(const DotBox& b) {
  return "[" + std::to_string(b.x) + "," + std::to_string(b.y) + "," + std::to_string(b.w) + "," +
         std::to_string(b.h) + "]";
}

const WebAsset* findAsset(const std::string& path) {
  for (size_t i = 0; i < kWebAssetCount; ++i) {
    if (path == kWebAssets[i].path) return &kWebAssets[i];
  }
  return nullptr;
}

// "127.0.0.1:8080", "localhost", "[::1]:8080": a Host header naming an address.
bool hostIsAddress(const std::string& host) {
  std::string h = host;
  if (!h.empty() && h[0] == '[') return h.find(']') != std::string::npos;  // IPv6 literal
  size_t colon = h.rfind(':');
  if (colon != std::string::npos) h.resize(colon);
  if (h == "localhost") return true;
  in_addr a{};
  return ::inet_pton(AF_INET, h.c_str(), &a) == 1;
}

}  // namespace

WebPreview::WebPreview(Printer& printer, std::string outDir)
    : printer_(printer), outDir_(std::move(outDir)) {}

WebPreview::~WebPreview() {
  if (thread_.joinable()) {
    if (!stop(2000)) {
      thread_.detach();
      server_.release();  // still used by its thread; the process is ending
    }
  }
}

std::string WebPreview::labelJson(const LabelRecord& l) {
  char name[48];
  std::snprintf(name, sizeof name, "/labels/label-%06llu.png",
                static_cast<unsigned long long>(l.number));
  std::string png = name;
  std::string raw;
  if (!l.raw.empty()) {
    size_t slash = l.raw.rfind('/');
    raw = "/labels/" + l.raw.substr(slash == std::string::npos ? 0 : slash + 1);
  }
  // The last commands are the ones nearest the label; earlier ones are in the log file.
  size_t first = l.commands.size() > kMaxCommandsSent ? l.commands.size() - kMaxCommandsSent : 0;
  std::string commands = "[";
  for (size_t i = first; i < l.commands.size(); ++i) {
    const DrawnCommand& d = l.commands[i];
    JsonObject c;
    c.add("endpoint", d.endpoint).add("text", d.text);
    if (!d.box.empty()) c.addJson("box", boxJson(d.box));
    if (!d.markBox.empty()) c.addJson("mark", boxJson(d.markBox)).add("mark_text", d.markText);
    if (!d.note.empty()) c.add("note", d.note);
    if (!d.error.empty()) c.add("error", d.error);
    if (commands.size() > 1) commands += ",";
    commands += c.str();
  }
  commands += "]";
  JsonObject o;
  o.add("number", static_cast<long long>(l.number))
      .add("png", png)
      .add("raw", raw)
      .add("file", l.png)
      .add("width_dots", static_cast<long long>(l.widthDots))
      .add("height_dots", static_cast<long long>(l.heightDots))
      .addJson("width_mm", millimetres(l.widthMm))
      .addJson("height_mm", millimetres(l.heightMm))
      .add("dpi", static_cast<long long>(l.dpi))
      .add("time", l.time)
      .add("endpoint", l.endpoint)
      .add("copies", l.copies)
      .add("errors", static_cast<long long>(l.errors))
      .addJson("gap_mm", millimetres(l.gapMm))
      .add("black_mark", l.blackMark)
      .addJson("commands", commands)
      .add("commands_dropped", static_cast<long long>(l.commandsDropped + first));
  return o.str();
}

void WebPreview::publish(const std::string& event, const std::string& json) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t id = nextId_++;
  std::string text = "id: " + std::to_string(id) + "\nevent: " + event + "\ndata: " + json + "\n\n";
  eventBytes_ += text.size();
  events_.push_back({id, std::move(text)});
  while (events_.size() > 1 &&
         (events_.size() > kMaxEventsKept || eventBytes_ > kMaxEventBytesKept)) {
    eventBytes_ -= events_.front().text.size();
    events_.pop_front();
  }
  changed_.notify_all();
}

void WebPreview::addLabel(const LabelRecord& label) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto page = pageLabels_.find(label.endpoint);
    if (page != pageLabels_.end()) ++page->second;
  }
  publish("label", labelJson(label));
}

void WebPreview::clearLabels() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto e = events_.begin(); e != events_.end();) {
      if (e->text.find("\nevent: label\n") != std::string::npos) {
        eventBytes_ -= e->text.size();
        e = events_.erase(e);
      } else {
        ++e;
      }
    }
  }
  publish("clear", "{}");
}

void WebPreview::addProblem(const std::string& endpoint, const std::string& logLine) {
  JsonObject o;
  o.add("endpoint", endpoint).add("line", logLine);
  publish("problem", o.str());
}

void WebPreview::setTcpEndpoint(const std::string& endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  tcpEndpoint_ = endpoint;
}

bool WebPreview::nextEvents(uint64_t& cursor, std::string& out, int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms),
                    [&] { return stopping_ || (!events_.empty() && events_.back().id >= cursor); });
  if (stopping_) return false;
  for (const Event& e : events_) {
    if (e.id >= cursor) out += e.text;
  }
  if (!events_.empty() && events_.back().id >= cursor) cursor = events_.back().id + 1;
  return true;
}

// The status bits and their names as the page shows them: the library's own
// table, so that the page, the SDK and its tools use the same words.
namespace {
std::string statusConditionsJson() {
  std::string list = "[";
  for (const paloma::StatusCondition& c : paloma::kStatusConditions) {
    JsonObject o;
    o.add("bit", static_cast<long long>(c.bit)).add("name", c.name);
    list += (list.size() > 1 ? "," : "") + o.str();
  }
  return list + "]";
}
}  // namespace

std::string WebPreview::printerJson() {
  const PrinterOptions& o = printer_.options();
  JsonObject settings;
  std::map<std::string, std::string> all = o.settings;
  all.emplace("SYSTEM/INFORMATION/DPI", std::to_string(o.dpi));
  for (const auto& s : all) settings.add(s.first.c_str(), s.second);
  std::string tcp;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tcp = tcpEndpoint_;
  }
  JsonObject j;
  j.add("name", o.name)
      .add("dpi", static_cast<long long>(o.dpi))
      .add("serial_number", o.serialNumber)
      .add("code_page", o.codePage)
      .add("status", static_cast<long long>(printer_.status()))
      .add("tcp", tcp)
      .addJson("settings", settings.str())
      .addJson("status_conditions", statusConditionsJson());
  return j.str();
}

bool WebPreview::start(const std::string& host, int port, std::string& error) {
  server_ = std::make_unique<GuardedServer>();
  httplib::Server& s = *server_;
  // Each open page holds one thread for its event stream.
  s.new_task_queue = [] { return new httplib::ThreadPool(kMaxStreams + 8); };
  // Reads and writes are bounded by GuardedServer's own stream.
  s.set_keep_alive_timeout(1);
  s.set_payload_max_length(kMaxPrintBytes);  // a command file sent from the page

  // Only requests naming the printer by address: a web site whose name was
  // made to point at this machine (DNS rebinding) cannot read or set anything.
  s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (hostIsAddress(req.get_header_value("Host"))) return httplib::Server::HandlerResponse::Unhandled;
    res.status = 403;
    res.set_content("address the printer by its IP address or localhost\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });

  auto asset = [](const std::string& path, httplib::Response& res) {
    const WebAsset* a = findAsset(path);
    if (!a) {
      res.status = 404;
      return;
    }
    res.set_content(reinterpret_cast<const char*>(a->data), a->size, a->contentType);
    res.set_header("Cache-Control", "no-cache");
    // Everything the page uses comes from the printer itself.
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self'; connect-src 'self'; object-src 'none'; "
                   "frame-ancestors 'none'");
  };
  s.Get("/", [asset](const httplib::Request&, httplib::Response& res) { asset("/index.html", res); });
  s.Get(R"(/(index\.html|app\.js|style\.css))",
        [asset](const httplib::Request& req, httplib::Response& res) { asset(req.path, res); });

  s.Get("/api/printer", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(printerJson(), "application/json");
    res.set_header("Cache-Control", "no-store");
  });

  s.Post("/api/status", [this](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_header("X-Paloma-Page")) {
      res.status = 403;
      res.set_content("the status is changed from the printer's page (header X-Paloma-Page)\n",
                      "text/plain");
      return;
    }
    uint8_t status = 0;
    if (!req.has_param("status") || !parseStatusByte(req.get_param_value("status"), status)) {
      res.status = 400;
      res.set_content("status wants a byte: 0 to 255, or 0x00 to 0xff\n", "text/plain");
      return;
    }
    printer_.setStatus(status);
    printer_.event("page", "status set to 0x" + std::string(1, "0123456789ABCDEF"[status >> 4]) +
                               std::string(1, "0123456789ABCDEF"[status & 15]));
    JsonObject o;
    o.add("status", static_cast<long long>(status));
    publish("status", o.str());
    res.set_content(o.str(), "application/json");
  });

  // Empties the list of labels on every open page, and for pages opened later.
  s.Post("/api/clear", [this](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_header("X-Paloma-Page")) {
      res.status = 403;
      res.set_content("the list is cleared from the printer's page (header X-Paloma-Page)\n",
                      "text/plain");
      return;
    }
    clearLabels();
    res.set_content("{}", "application/json");
  });

  // Runs a command file pasted or chosen on the page, as a stream of its own.
  s.Post("/api/print", [this](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_header("X-Paloma-Page")) {
      res.status = 403;
      res.set_content("commands are sent from the printer's page (header X-Paloma-Page)\n",
                      "text/plain");
      return;
    }
    std::string endpoint;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      endpoint = "page#" + std::to_string(++pageRuns_);
      pageLabels_[endpoint] = 0;
    }
    uint64_t errorsBefore = printer_.errors();
    printer_.event(endpoint, "commands sent from the page (" + std::to_string(req.body.size()) +
                                 " bytes)");
    Session session(printer_, endpoint);
    session.feed(reinterpret_cast<const uint8_t*>(req.body.data()), req.body.size());
    session.finish();
    printer_.event(endpoint, "done");
    uint64_t labels = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      labels = pageLabels_[endpoint];
      pageLabels_.erase(endpoint);
    }
    JsonObject o;
    o.add("endpoint", endpoint)
        .add("labels", static_cast<long long>(labels))
        // Commands of other streams that failed meanwhile are counted too.
        .add("errors", static_cast<long long>(printer_.errors() - errorsBefore))
        .add("reply", session.takeReply());
    res.set_content(o.str(), "application/json");
  });

  s.Get(R"(/labels/(label-[0-9]{6,18}\.(png|prn)))",
        [this](const httplib::Request& req, httplib::Response& res) {
          std::string name = req.matches[1];
          std::ifstream in(outDir_ + "/" + name, std::ios::binary);
          if (!in) {
            res.status = 404;
            res.set_content("no such label file (removed to stay within --max-disk?)\n",
                            "text/plain");
            return;
          }
          std::stringstream bytes;
          bytes << in.rdbuf();
          bool png = req.matches[2] == "png";
          res.set_content(bytes.str(), png ? "image/png" : "application/octet-stream");
          if (!png) res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
        });

  s.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
    if (streams_.fetch_add(1) >= kMaxStreams) {
      --streams_;
      res.status = 503;
      res.set_content("too many pages open\n", "text/plain");
      return;
    }
    auto cursor = std::make_shared<uint64_t>(0);
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](size_t, httplib::DataSink& sink) {
          // The first call answers at once, with the recent events.
          bool first = *cursor == 0;
          std::string out = first ? "retry: 1000\n\n" : "";
          if (first) *cursor = 1;
          if (!nextEvents(*cursor, out, first ? 0 : 1000)) return false;
          if (out.empty()) out = ": still here\n\n";
          return sink.write(out.data(), out.size());
        },
        [this](bool) { --streams_; });
  });

  int bound = port == 0 ? s.bind_to_any_port(host) : (s.bind_to_port(host, port) ? port : -1);
  if (bound < 0) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + " for the page";
    server_.reset();
    return false;
  }
  port_ = bound;
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    threadDone_ = true;
  });
  return true;
}

bool WebPreview::stop(int ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (!thread_.joinable()) return true;
  server_->stop();
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!threadDone_.load() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!threadDone_.load()) return false;
  thread_.join();
  return true;
}

}  // namespace vprinter
