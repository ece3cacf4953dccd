// The Linux backend's spooler: print jobs handed to the CUPS server.
#include "platform/posix/posix_internal.h"

#include "platform/last_error.h"

#include <cups/cups.h>
#include <errno.h>

#include <memory>
#include <string>
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
  ipp_t* response = cupsDoRequest(http, request, "/");  // frees the request
  std::string result;
  if (response) {
    if (answered) *answered = true;
    ipp_attribute_t* a = ippFindAttribute(response, attribute, valueTag);
    if (ippSucceeded(ippGetStatusCode(response)) && a && ippGetString(a, 0, nullptr))
      result = ippGetString(a, 0, nullptr);
    ippDelete(response);
  }
  return result;
}

// Connects to the server of `sq` and asks for its queue: the connection (the
// caller closes it) with the server's spelling of the queue in *destination,
// or null with the last error naming the server.
http_t* openServerQueue(const ServerQueue& sq, std::string* destination) {
  http_t* http = connectCups(sq.host.c_str(), sq.port, kCupsLookupTimeoutSec);
  if (!http) {
    int err = errno;
    setLastError("print server " + sq.server() + ": cannot connect (" + cupsLastErrorString() +
                     ")",
                 err);
    return nullptr;
  }
  bool answered = false;
  *destination = askPrinterAttribute(http, sq.queue.c_str(), "printer-name", IPP_TAG_NAME,
                                     &answered, sq.host.c_str(), sq.port);
  if (!destination->empty()) return http;
  if (answered)
    setLastError("print server " + sq.server() + " has no printer \"" + sq.queue + "\"");
  else
    setLastError("print server " + sq.server() + " did not answer within " +
                 std::to_string(static_cast<int>(kCupsLookupTimeoutSec)) + " s (" +
                 cupsLastErrorString() + ")");
  httpClose(http);
  return nullptr;
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
  return startDocument(*r->job);
}

IoResult PosixOs::spoolerWrite(Handle h, const void* data, std::size_t n) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r || (!data && n)) return failed(EBADF);
  std::lock_guard<std::mutex> g(r->lock);
  SpoolerJob& job = *r->job;
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
  return finishDocument(*r->job);
}

bool PosixOs::spoolerEndDoc(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  return endJob(*r->job);
}

bool PosixOs::spoolerClose(Handle h) {
  auto r = findKind(h, {Resource::Spooler});
  if (!r) return false;
  r = resources().remove(h);
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  if (r->job->jobId != 0) endJob(*r->job);
  return true;
}

Os::ServerLookup PosixOs::spoolerPrinterOnServer(std::string_view port, SpoolerPrinter* out) {
  ServerQueue onServer;
  if (!parseServerQueue(port, &onServer)) return ServerLookup::NotServerName;
  std::string destination;
  http_t* http = openServerQueue(onServer, &destination);
  if (!http) return ServerLookup::Missing;
  httpClose(http);
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
  ipp_t* response = cupsDoRequest(http, request, "/");  // frees the request
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
