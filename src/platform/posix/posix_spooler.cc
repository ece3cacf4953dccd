// The Linux backend's spooler: print jobs handed to the CUPS server.
#include "platform/posix/posix_internal.h"

#include "platform/last_error.h"

#include <cups/cups.h>
#include <errno.h>
#include <fcntl.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace paloma {
namespace posix_internal {

struct SpoolerJob {
  http_t* http = nullptr;
  std::string destination;
  std::string printerUri;  // a queue on a print server: its URI there
  std::string docName;
  int jobId = 0;
  bool documentOpen = false;
  bool documentSent = false;

  ~SpoolerJob() {
    if (http) httpClose(http);
  }
};

void SpoolerJobDeleter::operator()(SpoolerJob* job) const { delete job; }

bool parseServerQueue(std::string_view name, ServerQueue* out) {
  char sep;
  if (name.substr(0, 2) == "\\\\") sep = '\\';
  else if (name.substr(0, 2) == "//") sep = '/';
  else return false;
  name.remove_prefix(2);
  std::size_t cut = name.find(sep);
  if (cut == std::string_view::npos) return false;
  std::string_view server = name.substr(0, cut), queue = name.substr(cut + 1);
  if (server.empty() || queue.empty()) return false;
  for (char c : queue)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
  int port = 631;
  std::size_t colon = server.rfind(':');
  if (colon != std::string_view::npos) {
    std::string_view digits = server.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    port = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return false;
    server = server.substr(0, colon);
  }
  if (server.empty()) return false;
  for (char c : server)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
  out->host = std::string(server);
  out->port = port;
  out->queue = std::string(queue);
  return true;
}

}  // namespace posix_internal

using namespace posix_internal;

namespace {

constexpr int kCupsConnectTimeoutMs = 5000;    // reaching the CUPS server
constexpr double kCupsLookupTimeoutSec = 5.0;  // a question about its queues
constexpr double kCupsIoTimeoutSec = 15.0;     // any one exchange of a job with it

// A connection of our own to a CUPS server, with a bounded connect and
// bounded exchanges (no time-out callback: a stalled exchange fails). Every
// question is asked on it: the library's lookups (cupsGetNamedDest,
// cupsGetDests) fall back to a connection of their own without these bounds
// when the server does not answer, and wait minutes on a hung server.
http_t* connectCups(const char* host, int port, double timeoutSec) {
  http_t* http = httpConnect2(host, port, nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              kCupsConnectTimeoutMs, nullptr);
  if (http) httpSetTimeout(http, timeoutSec, nullptr, nullptr);
  return http;
}

http_t* connectCups(double timeoutSec) { return connectCups(cupsServer(), ippPort(), timeoutSec); }

// Bounds one whole exchange with the server, however the server paces it: a
// server that trickles its answer a byte at a time, or floods "100 Continue"
// lines, keeps each read short but the exchange going. At the deadline a
// watcher shuts the connection's socket down (through a duplicate of its
// descriptor, so the socket cannot be closed and its number reused while
// watched), and the waiting read or write ends at once. A silent spell on a
// connection the library made anew meanwhile ends through the time-out
// callback, which gives up once the deadline has passed.
class ExchangeBound {
 public:
  ExchangeBound(http_t* http, double seconds)
      : http_(http),
        seconds_(seconds),
        end_(std::chrono::steady_clock::now() +
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                 std::chrono::duration<double>(seconds))) {
    if (!http_) return;
    int fd = httpGetFd(http_);
    if (fd >= 0) fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    httpSetTimeout(http_, seconds < 1.0 ? seconds : 1.0, &ExchangeBound::keepWaiting, this);
    if (fd_ >= 0) watcher_ = std::thread([this] { watch(); });
  }
  ~ExchangeBound() {
    {
      std::lock_guard<std::mutex> g(m_);
      done_ = true;
    }
    cv_.notify_one();
    if (watcher_.joinable()) watcher_.join();
    if (fd_ >= 0) close(fd_);
    if (http_) httpSetTimeout(http_, seconds_, nullptr, nullptr);
  }
  ExchangeBound(const ExchangeBound&) = delete;
  ExchangeBound& operator=(const ExchangeBound&) = delete;

  bool expired() const {
    return expired_.load() || std::chrono::steady_clock::now() >= end_;
  }
  double seconds() const { return seconds_; }

 private:
  static int keepWaiting(http_t*, void* self) {
    return static_cast<ExchangeBound*>(self)->expired() ? 0 : 1;
  }
  void watch() {
    std::unique_lock<std::mutex> l(m_);
    if (cv_.wait_until(l, end_, [this] { return done_; })) return;
    expired_.store(true);
    shutdown(fd_, SHUT_RDWR);
  }

  http_t* http_;
  double seconds_;
  std::chrono::steady_clock::time_point end_;
  int fd_ = -1;
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::atomic<bool> expired_{false};
  std::thread watcher_;
};

bool ippSucceeded(ipp_status_t s) { return s < IPP_STATUS_REDIRECTION_OTHER_SITE; }

// Create-Job on a print server's queue, by its URI there: the library's
// cupsCreateJob looks the queue up among the destinations of the default
// server and does not find it. The job id, or 0.
int createJobOnServer(const SpoolerJob& job, int numOptions, cups_option_t* options) {
  ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               job.printerUri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
               job.docName.c_str());
  cupsEncodeOptions2(request, numOptions, options, IPP_TAG_JOB);
  std::string resource = "/printers/" + job.destination;
  ipp_t* response = cupsDoRequest(job.http, request, resource.c_str());  // frees the request
  int id = 0;
  if (response) {
    ipp_attribute_t* a = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
    if (ippSucceeded(ippGetStatusCode(response)) && a) id = ippGetInteger(a, 0);
    ippDelete(response);
  }
  return id;
}

bool startDocument(SpoolerJob& job) {
  if (job.jobId == 0 || job.documentOpen || job.documentSent) return job.documentOpen;
  http_status_t st = cupsStartDocument(job.http, job.destination.c_str(), job.jobId,
                                       job.docName.c_str(), CUPS_FORMAT_RAW, 1);
  job.documentOpen = st == HTTP_STATUS_CONTINUE;
  return job.documentOpen;
}

bool finishDocument(SpoolerJob& job) {
  if (!job.documentOpen) return false;
  job.documentOpen = false;
  job.documentSent = true;
  return ippSucceeded(cupsFinishDocument(job.http, job.destination.c_str()));
}

// Ends the job: the open document is finished; a job that never got a
// document is cancelled rather than left waiting in the queue.
bool endJob(SpoolerJob& job) {
  if (job.jobId == 0) return false;
  bool ok = true;
  if (job.documentOpen) {
    ok = finishDocument(job);
  } else if (!job.documentSent) {
    cupsCancelJob2(job.http, job.destination.c_str(), job.jobId, 0);
  }
  job.jobId = 0;
  job.documentSent = false;
  return ok;
}

// One attribute of a queue, asked of the server: its first value, or "" when
// the server has no such queue or gave no answer (*answered tells which).
std::string askPrinterAttribute(http_t* http, const char* name, const char* attribute,
                                ipp_tag_t valueTag, bool* answered = nullptr,
                                const char* host = "localhost", int port = 0) {
  if (answered) *answered = false;
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, host, port,
                       "/printers/%s", name) != HTTP_URI_STATUS_OK)
    return {};
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               attribute);
  ExchangeBound bound(http, kCupsLookupTimeoutSec);
  ipp_t* response = cupsDoRequest(http, request, "/");  // frees the request
  std::string result;
  if (response) {
    if (answered) *answered = true;
    ipp_status_t status = ippGetStatusCode(response);
    ipp_attribute_t* a = ippFindAttribute(response, attribute, valueTag);
    if (ippSucceeded(status) && a && ippGetString(a, 0, nullptr))
      result = ippGetString(a, 0, nullptr);
    ippDelete(response);
  }
  return result;
}

// ---- a question to a print server ---------------------------------------------

// One IPP question to a print server over a connection of its own, every
// step of it watched: connecting (at most 5 s), then the whole exchange
// (request out, answer in) within the lookup's bound, however the server
// paces it. Unlike the library's own exchange this one can say what the
// server did: refused, closed or reset the connection, answered something
// that is not HTTP, an HTTP error, something that is not IPP, or nothing in
// time.
class ServerQuestion {
 public:
  explicit ServerQuestion(const ServerQueue& sq) : sq_(sq) {}
  ~ServerQuestion() {
    if (fd_ >= 0) close(fd_);
  }
  ServerQuestion(const ServerQuestion&) = delete;
  ServerQuestion& operator=(const ServerQuestion&) = delete;

  // Sends `request` (freed here) to `resource` and reads the answer: the
  // response (the caller deletes it), or null with *why saying what the
  // server did.
  ipp_t* ask(ipp_t* request, const std::string& resource, std::string* why) {
    std::string body;
    ippWriteIO(&body, &appendTo, 1, nullptr, request);
    ippDelete(request);
    if (!connectToServer(why)) return nullptr;
    Deadline bound(static_cast<int>(kCupsLookupTimeoutSec * 1000));
    // A server on this machine is "localhost" to itself: a scheduler takes
    // only the names it knows in the Host field, and always that one.
    std::string host = loopback_ ? "localhost:" + std::to_string(sq_.port) : sq_.server();
    std::string head = "POST " + resource + " HTTP/1.1\r\nHost: " + host +
                       "\r\nContent-Type: application/ipp\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!sendAll(head + body, bound, why)) return nullptr;
    std::string answer;
    if (!readAnswer(bound, &answer, why)) return nullptr;
    ipp_t* response = ippNew();
    Reader reader{answer, 0};
    if (ippReadIO(&reader, &Reader::read, 1, nullptr, response) != IPP_STATE_DATA) {
      ippDelete(response);
      *why = "answered over HTTP, but not with IPP";
      return nullptr;
    }
    return response;
  }

 private:
  // The largest answer taken: a queue's attributes are a few kilobytes.
  static constexpr std::size_t kMostAnswerBytes = 1u << 20;

  struct Reader {
    const std::string& data;
    std::size_t at;
    static ssize_t read(void* self, ipp_uchar_t* buf, size_t n) {
      auto* r = static_cast<Reader*>(self);
      std::size_t take = std::min(n, r->data.size() - r->at);
      std::memcpy(buf, r->data.data() + r->at, take);
      r->at += take;
      return static_cast<ssize_t>(take);
    }
  };
  static ssize_t appendTo(void* out, ipp_uchar_t* buf, size_t n) {
    static_cast<std::string*>(out)->append(reinterpret_cast<const char*>(buf), n);
    return static_cast<ssize_t>(n);
  }

  bool connectToServer(std::string* why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string port = std::to_string(sq_.port);
    if (getaddrinfo(sq_.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
      *why = "cannot be found (no address for \"" + sq_.host + "\")";
      return false;
    }
    Deadline bound(kCupsConnectTimeoutMs);
    int err = ETIMEDOUT;
    for (addrinfo* a = found; a && fd_ < 0 && !bound.passed(); a = a->ai_next) {
      int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) {
        err = errno;
        continue;
      }
      int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
      err = rc == 0 ? 0 : errno;
      if (rc != 0 && err == EINPROGRESS) {
        int ready = pollFor(fd, POLLOUT, bound.remainingMs());
        socklen_t len = sizeof err;
        if (ready == 0) err = ETIMEDOUT;
        else if (ready < 0) err = errno;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
      if (err == 0) {
        fd_ = fd;
        loopback_ = (a->ai_family == AF_INET &&
                     (ntohl(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr) >> 24) ==
                         127) ||
                    (a->ai_family == AF_INET6 &&
                     IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr));
      } else {
        close(fd);
      }
    }
    freeaddrinfo(found);
    if (fd_ >= 0) return true;
    errno_ = err;
    *why = err == ECONNREFUSED ? "refused the connection"
           : err == ETIMEDOUT  ? "could not be reached within " +
                                    std::to_string(kCupsConnectTimeoutMs / 1000) + " s"
                               : std::string("cannot be reached (") + std::strerror(err) + ")";
    return false;
  }

  std::string timedOut() const {
    return "did not answer within " + std::to_string(static_cast<int>(kCupsLookupTimeoutSec)) +
           " s";
  }
  std::string brokeOff(int err) {
    errno_ = err;
    if (err == ECONNRESET) return "reset the connection";
    if (err == EPIPE) return "closed the connection without answering";
    return std::string("broke off the exchange (") + std::strerror(err) + ")";
  }

  bool sendAll(const std::string& bytes, const Deadline& bound, std::string* why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t w = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (w > 0) {
        done += static_cast<std::size_t>(w);
        continue;
      }
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        *why = brokeOff(errno);
        return false;
      }
      if (bound.passed() || pollFor(fd_, POLLOUT, bound.remainingMs()) == 0) {
        *why = timedOut();
        return false;
      }
    }
    return true;
  }

  // Reads more of the answer into *in: false with *why when the server
  // closed, reset, went past the size or the bound passed.
  bool readMore(const Deadline& bound, std::string* in, bool* ended, std::string* why) {
    for (;;) {
      char buf[16384];
      ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
      if (got > 0) {
        if (in->size() + static_cast<std::size_t>(got) > kMostAnswerBytes) {
          *why = "answered with more than " + std::to_string(kMostAnswerBytes >> 20) + " MB";
          return false;
        }
        in->append(buf, static_cast<std::size_t>(got));
        return true;
      }
      if (got == 0) {
        *ended = true;
        return true;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        *why = brokeOff(errno);
        return false;
      }
      if (bound.passed() || pollFor(fd_, POLLIN, bound.remainingMs()) == 0) {
        *why = timedOut();
        return false;
      }
    }
  }

  // The answer's IPP body in *body: its HTTP head checked (interim "100
  // Continue" heads skipped), then as many bytes as it announces, chunked or
  // up to the end of the connection.
  bool readAnswer(const Deadline& bound, std::string* body, std::string* why) {
    std::string in;
    bool ended = false;
    std::string head;
    for (;;) {
      std::size_t end = in.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (in.size() >= 5 && in.compare(0, 5, "HTTP/") != 0) {
          *why = "answered something that is not HTTP (is it a print server?)";
          return false;
        }
        if (in.size() > 65536) {
          *why = "answered with a header of more than 64 KB";
          return false;
        }
        if (ended) {
          *why = in.empty() ? "closed the connection without answering"
                            : "closed the connection in the middle of its answer";
          return false;
        }
        if (!readMore(bound, &in, &ended, why)) return false;
        continue;
      }
      head = in.substr(0, end + 2);
      in.erase(0, end + 4);
      if (head.compare(0, 5, "HTTP/") != 0) {
        *why = "answered something that is not HTTP (is it a print server?)";
        return false;
      }
      int status = std::atoi(head.c_str() + std::min(head.size(), head.find(' ') + 1));
      if (status >= 100 && status < 200) continue;  // an interim answer
      if (status != 200) {
        std::string line = head.substr(0, head.find("\r\n"));
        *why = "answered \"" + line.substr(0, 80) + "\"";
        return false;
      }
      break;
    }
    std::string lower;
    for (char c : head) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    auto field = [&](const char* name) -> std::string {
      std::size_t at = lower.find(std::string("\r\n") + name + ":");
      if (at == std::string::npos) return {};
      at += std::strlen(name) + 3;
      std::size_t stop = lower.find("\r\n", at);
      std::string v = lower.substr(at, stop - at);
      v.erase(0, v.find_first_not_of(" \t"));
      return v;
    };
    if (field("content-type").rfind("application/ipp", 0) != 0) {
      *why = "answered over HTTP, but not with IPP (" +
             (field("content-type").empty() ? std::string("no content type")
                                            : field("content-type").substr(0, 60)) +
             ")";
      return false;
    }
    const bool chunked = field("transfer-encoding").find("chunked") != std::string::npos;
    const std::string lengthText = field("content-length");
    if (!chunked) {
      const std::size_t want = lengthText.empty()
                                   ? kMostAnswerBytes
                                   : std::strtoull(lengthText.c_str(), nullptr, 10);
      if (want > kMostAnswerBytes) {
        *why = "answered with more than " + std::to_string(kMostAnswerBytes >> 20) + " MB";
        return false;
      }
      while (in.size() < want && !ended)
        if (!readMore(bound, &in, &ended, why)) return false;
      if (!lengthText.empty() && in.size() < want) {
        *why = "closed the connection in the middle of its answer";
        return false;
      }
      *body = in.substr(0, want);
      return true;
    }
    // Chunked: a size line in hexadecimal, that many bytes, CR LF; size 0 ends.
    for (;;) {
      std::size_t eol = in.find("\r\n");
      if (eol == std::string::npos) {
        if (ended) {
          *why = "closed the connection in the middle of its answer";
          return false;
        }
        if (!readMore(bound, &in, &ended, why)) return false;
        continue;
      }
      std::size_t size = std::strtoull(in.c_str(), nullptr, 16);
      if (size > kMostAnswerBytes - body->size()) {
        *why = "answered with more than " + std::to_string(kMostAnswerBytes >> 20) + " MB";
        return false;
      }
      if (size == 0) return true;
      while (in.size() < eol + 2 + size + 2) {
        if (ended) {
          *why = "closed the connection in the middle of its answer";
          return false;
        }
        if (!readMore(bound, &in, &ended, why)) return false;
      }
      body->append(in, eol + 2, size);
      in.erase(0, eol + 2 + size + 2);
    }
  }

  ServerQueue sq_;
  int fd_ = -1;
  bool loopback_ = false;
  int errno_ = 0;

 public:
  int osError() const { return errno_; }
};

// Asks the server of `sq` for its queue's name: the server's spelling, or
// "" with the last error saying what the server did.
std::string lookUpServerQueue(const ServerQueue& sq) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, sq.host.c_str(),
                       sq.port, "/printers/%s", sq.queue.c_str()) != HTTP_URI_STATUS_OK) {
    setLastError("print server " + sq.server() + ": the queue name \"" + sq.queue +
                 "\" does not fit a printer address");
    return {};
  }
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-name");
  ServerQuestion question(sq);
  std::string why;
  ipp_t* response = question.ask(request, "/printers/" + sq.queue, &why);
  if (!response) {
    setLastError("print server " + sq.server() + " " + why + " when asked for \"" + sq.queue +
                     "\"",
                 question.osError());
    return {};
  }
  std::string name;
  ipp_status_t status = ippGetStatusCode(response);
  ipp_attribute_t* a = ippFindAttribute(response, "printer-name", IPP_TAG_NAME);
  if (ippSucceeded(status) && a && ippGetString(a, 0, nullptr)) name = ippGetString(a, 0, nullptr);
  ippDelete(response);
  if (!name.empty()) return name;
  if (ippSucceeded(status) || status == IPP_STATUS_ERROR_NOT_FOUND ||
      status == IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES)
    setLastError("print server " + sq.server() + " has no printer \"" + sq.queue + "\"");
  else
    setLastError("print server " + sq.server() + " refused the question for \"" + sq.queue +
                 "\" (" + ippErrorString(status) + ")");
  return {};
}

// Connects to the server of `sq` and asks for its queue: the connection (the
// caller closes it) with the server's spelling of the queue in *destination,
// or null with the last error naming the server.
http_t* openServerQueue(const ServerQueue& sq, std::string* destination) {
  *destination = lookUpServerQueue(sq);
  if (destination->empty()) return nullptr;
  http_t* http = connectCups(sq.host.c_str(), sq.port, kCupsLookupTimeoutSec);
  if (!http) {
    int err = errno;
    setLastError("print server " + sq.server() + " refused a second connection (" +
                     cupsLastErrorString() + ")",
                 err);
    destination->clear();
  }
  return http;
}

}  // namespace

// ---- spooler -----------------------------------------------------------------

bool PosixOs::spoolerOpen(std::string_view name, Handle* out) {
  // A queue name never starts with "/" (that separates an instance) and
  // holds no control characters; such a name is no printer.
  // \\SERVER\QUEUE and //SERVER/QUEUE are a queue on a print server.
  if (!out || name.empty()) return false;
  ServerQueue onServer;
  bool remote = parseServerQueue(name, &onServer);
  if (!remote && name[0] == '/') return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  auto job = std::make_unique<SpoolerJob>();
  if (remote) {
    job->http = openServerQueue(onServer, &job->destination);
    if (!job->http) return false;
    char uri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr,
                         onServer.host.c_str(), onServer.port, "/printers/%s",
                         job->destination.c_str()) != HTTP_URI_STATUS_OK)
      return false;
    job->printerUri = uri;
  } else {
    job->http = connectCups(kCupsLookupTimeoutSec);
    if (!job->http) return false;
    // The server's own spelling of the name (queue names ignore case).
    std::string wanted(name);
    job->destination =
        askPrinterAttribute(job->http, wanted.c_str(), "printer-name", IPP_TAG_NAME);
    if (job->destination.empty()) return false;
  }
  httpSetTimeout(job->http, kCupsIoTimeoutSec, nullptr, nullptr);
  auto r = std::make_shared<Resource>();
  r->kind = Resource::Spooler;
  r->job.reset(job.release());
  *out = resources().add(std::move(r));
  return true;
}

bool PosixOs::spoolerStartDoc(Handle h, std::string_view docName) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  SpoolerJob& job = *r->job;
  if (job.jobId != 0) return false;  // one document at a time
  job.docName = std::string(docName.substr(0, docName.find('\0')));
  cups_option_t* options = nullptr;
  int n = cupsAddOption("raw", "true", 0, &options);
  ExchangeBound bound(job.http, kCupsIoTimeoutSec);
  job.jobId = job.printerUri.empty()
                  ? cupsCreateJob(job.http, job.destination.c_str(), job.docName.c_str(), n, options)
                  : createJobOnServer(job, n, options);
  cupsFreeOptions(n, options);
  job.documentOpen = job.documentSent = false;
  return job.jobId != 0;
}

bool PosixOs::spoolerStartPage(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  ExchangeBound bound(r->job->http, kCupsIoTimeoutSec);
  return startDocument(*r->job);
}

IoResult PosixOs::spoolerWrite(Handle h, const void* data, std::size_t n) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r || (!data && n)) return failed(EBADF);
  std::lock_guard<std::mutex> g(r->lock);
  SpoolerJob& job = *r->job;
  ExchangeBound bound(job.http, kCupsIoTimeoutSec);
  // Bytes written before a page was started still belong to the document.
  if (!startDocument(job)) return failed(EIO);
  if (n == 0) return {true, 0, 0, false};
  if (cupsWriteRequestData(job.http, static_cast<const char*>(data), n) != HTTP_STATUS_CONTINUE)
    return failed(EIO);
  return {true, n, 0, false};
}

bool PosixOs::spoolerEndPage(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  ExchangeBound bound(r->job->http, kCupsIoTimeoutSec);
  return finishDocument(*r->job);
}

bool PosixOs::spoolerEndDoc(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  ExchangeBound bound(r->job->http, kCupsIoTimeoutSec);
  return endJob(*r->job);
}

bool PosixOs::spoolerClose(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  r = resources().remove(h);
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  if (r->job->jobId != 0) {
    ExchangeBound bound(r->job->http, kCupsIoTimeoutSec);
    endJob(*r->job);
  }
  return true;
}

Os::ServerLookup PosixOs::spoolerPrinterOnServer(std::string_view port, SpoolerPrinter* out) {
  ServerQueue onServer;
  if (!parseServerQueue(port, &onServer)) return ServerLookup::NotServerName;
  if (lookUpServerQueue(onServer).empty()) return ServerLookup::Missing;
  if (out) *out = SpoolerPrinter{std::string(port), std::string(port)};
  return ServerLookup::Found;
}

bool PosixOs::spoolerList(std::vector<SpoolerPrinter>* out) {
  if (!out) return false;
  out->clear();
  http_t* http = connectCups(kCupsLookupTimeoutSec);
  if (!http) return false;
  // One CUPS-Get-Printers exchange: the queues (printers and classes) in the
  // server's order, by name, each with its device URI.
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char* const kWanted[] = {"printer-name", "device-uri"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                kWanted);
  ipp_t* response;
  {
    ExchangeBound bound(http, kCupsLookupTimeoutSec);
    response = cupsDoRequest(http, request, "/");  // frees the request
  }
  ipp_status_t status = response ? ippGetStatusCode(response) : cupsLastError();
  // The server answers "not found" when it has no queue at all.
  bool ok = response && (ippSucceeded(status) || status == IPP_STATUS_ERROR_NOT_FOUND);
  if (ok) {
    SpoolerPrinter p;
    auto flush = [&] {
      if (!p.name.empty()) out->push_back(std::move(p));
      p = SpoolerPrinter{};
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
      // Printers are separated by attributes outside the printer group.
      if (ippGetGroupTag(a) != IPP_TAG_PRINTER || !ippGetName(a)) {
        flush();
        continue;
      }
      const char* value = ippGetString(a, 0, nullptr);
      if (!value) continue;
      std::string_view attr = ippGetName(a);
      if (attr == "printer-name" && ippGetValueTag(a) == IPP_TAG_NAME) p.name = value;
      if (attr == "device-uri" && ippGetValueTag(a) == IPP_TAG_URI) p.port = value;
    }
    flush();
  }
  if (response) ippDelete(response);
  httpClose(http);
  return ok;
}

}  // namespace paloma
