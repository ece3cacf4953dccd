// paloma-vprinter: a virtual label printer. See tools/vprinter/README.md.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "options.h"
#include "console.h"
#include "printer.h"
#include "server.h"
#include "web_preview.h"

namespace {

std::atomic<bool> gStop{false};
std::atomic<long long> gStopAtMs{0};

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void onSignal(int) {
  if (!gStop.exchange(true)) gStopAtMs.store(nowMs());
}

bool mkdirs(const std::string& dir) {
  std::string cur;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!cur.empty() && ::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < dir.size()) cur.push_back(dir[i]);
  }
  return true;
}

// Standard output goes through a console of its own, so that nobody ever
// waits for it while holding anything: a pipe nobody reads drops console
// lines (counted) instead of stopping the printer. It is never destroyed,
// as its writer may still be blocked on such a pipe when the program ends.
vprinter::Console& console() {
  static vprinter::Console* c = new vprinter::Console(stdout);
  return *c;
}

void say(const std::string& line) { console().say("paloma-vprinter: " + line); }

// Everything is flushed (standard output for at most half a second); threads
// still rendering are not waited for.
[[noreturn]] void endNow(int code) {
  console().flush(500);
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

}  // namespace

int main(int argc, char** argv) {
  vprinter::Config cfg;
  std::string error;
  switch (vprinter::parseOptions(argc, argv, cfg, error)) {
    case vprinter::ParseResult::kRun:
      break;
    case vprinter::ParseResult::kHelp:
      std::fputs(vprinter::usageText().c_str(), stdout);
      return 0;
    case vprinter::ParseResult::kVersion:
      std::printf("paloma-vprinter %s\n", PALOMA_VERSION);
      return 0;
    case vprinter::ParseResult::kError:
      std::fprintf(stderr, "paloma-vprinter: %s\nTry 'paloma-vprinter --help'.\n", error.c_str());
      return 2;
  }
  vprinter::PrinterOptions& po = cfg.printer;
  vprinter::ServerOptions& so = cfg.server;
  if (!mkdirs(cfg.outDir)) {
    std::fprintf(stderr, "paloma-vprinter: cannot create the folder %s: %s; give another with --out\n",
                 cfg.outDir.c_str(), std::strerror(errno));
    return 1;
  }
  po.outDir = cfg.outDir;
  std::string logPath = cfg.logGiven ? cfg.logPath : cfg.outDir + "/log.jsonl";
  vprinter::JsonLog log;
  log.setStdoutSink([](const std::string& line) { console().say(line); });
  if (!log.open(logPath, cfg.maxLogBytes)) {
    std::fprintf(stderr, "paloma-vprinter: cannot open the log %s: %s; give another with --log\n",
                 logPath.c_str(), std::strerror(errno));
    return 1;
  }
  vprinter::Printer printer(po, &log);
  printer.setStopFlag(&gStop);
  if (!printer.outDirSummary().empty()) say(printer.outDirSummary());
  vprinter::WebPreview* web = nullptr;
  printer.onLabel([&web](const vprinter::LabelRecord& l) {
    char line[512];
    std::snprintf(line, sizeof line, "label %llu: %.1f x %.1f mm, %d x %d dots, %s, %llu error%s",
                  static_cast<unsigned long long>(l.number), l.widthMm, l.heightMm, l.widthDots,
                  l.heightDots, l.png.c_str(), static_cast<unsigned long long>(l.errors),
                  l.errors == 1 ? "" : "s");
    say(line);
    if (web) web->addLabel(l);
  });

  if (!cfg.renderFile.empty()) {
    std::ifstream in(cfg.renderFile, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "paloma-vprinter: cannot read %s\n", cfg.renderFile.c_str());
      return 1;
    }
    vprinter::Session session(printer, "file", so.limits);
    std::vector<char> chunk(64 * 1024);
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      std::streamsize n = in.gcount();
      if (n <= 0) break;
      session.feed(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<size_t>(n));
      session.takeReply();
    }
    session.finish();
    std::fprintf(stderr, "paloma-vprinter: %zu label file(s) in %s, %llu command(s) with errors\n",
                 printer.written().size(), cfg.outDir.c_str(),
                 static_cast<unsigned long long>(printer.errors()));
    console().flush(500);
    return printer.errors() ? 2 : 0;
  }

  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  vprinter::WebPreview preview(printer, cfg.outDir);
  if (cfg.http) {
    std::string why;
    if (!preview.start(cfg.httpHost, cfg.httpPort, why)) {
      std::fprintf(stderr, "paloma-vprinter: %s; give another port with --http\n", why.c_str());
      return 1;
    }
    web = &preview;
    printer.onError([&preview](const std::string& endpoint, const std::string& line) {
      preview.addProblem(endpoint, line);
    });
    so.httpPort = preview.port();
    say("preview on http://" + cfg.httpHost + ":" + std::to_string(preview.port()) + "/");
  }
  int rc = vprinter::runServer(printer, so, gStop, [&preview, &cfg](const std::string& line) {
    const char kListening[] = "listening on ";
    if (cfg.http && line.rfind(kListening, 0) == 0) {
      preview.setTcpEndpoint(line.substr(sizeof kListening - 1));
    }
    say(line);
  }, 600);
  if (rc == 1) {
    std::fprintf(stderr,
                 "paloma-vprinter: an endpoint could not be set up (see above): choose another "
                 "port with --listen (port 0 picks a free one), or run --discovery as root\n");
  }
  if (rc == 3) {
    say("stopped while a label was rendering");
    endNow(0);
  }
  // Whatever is still running a second after the signal is not waited for.
  long long stopAt = gStopAtMs.load();
  int left = stopAt ? static_cast<int>(900 - (nowMs() - stopAt)) : 900;
  if (cfg.http && !preview.stop(left > 50 ? left : 50)) endNow(0);
  console().flush(500);
  return rc == 1 ? 1 : 0;
}

// Fontconfig keeps its configuration for the life of the process; it is not a
// leak of this program.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
