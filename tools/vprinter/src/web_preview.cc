#include "web_preview.h"

#include <arpa/inet.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "handle/status_conditions.h"
#include "json_log.h"
#include "options.h"
#include "web_assets.h"

namespace vprinter {

namespace {

std::string millimetres(double mm) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", mm);
  return b;
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
  // The last lines are the ones that made the label; earlier ones are in the log file.
  size_t first = l.logLines.size() > kMaxLogLinesSent ? l.logLines.size() - kMaxLogLinesSent : 0;
  std::string lines = "[";
  if (first > 0) {
    JsonObject cut;
    cut.add("note", std::to_string(first) + " earlier log lines of this label are in the log file");
    lines += "\"" + jsonEscape(cut.str()) + "\"";
  }
  for (size_t i = first; i < l.logLines.size(); ++i) {
    if (lines.size() > 1) lines += ",";
    lines += "\"" + jsonEscape(l.logLines[i]) + "\"";
  }
  lines += "]";
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
      .addJson("log", lines);
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

void WebPreview::addLabel(const LabelRecord& label) { publish("label", labelJson(label)); }

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
  server_ = std::make_unique<httplib::Server>();
  httplib::Server& s = *server_;
  // Each open page holds one thread for its event stream.
  s.new_task_queue = [] { return new httplib::ThreadPool(kMaxStreams + 8); };
  s.set_keep_alive_timeout(1);
  s.set_read_timeout(5, 0);
  s.set_write_timeout(5, 0);
  s.set_payload_max_length(4096);

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
