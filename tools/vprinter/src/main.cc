// paloma-vprinter: a virtual label printer. See tools/vprinter/README.md.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "printer.h"
#include "server.h"

namespace {

std::atomic<bool> gStop{false};

void onSignal(int) { gStop.store(true); }

const char kUsage[] =
    "usage: paloma-vprinter [options]\n"
    "  --listen HOST:PORT   TCP endpoint (default 127.0.0.1:9100; port 0 picks a free one)\n"
    "  --no-tcp             no TCP endpoint\n"
    "  --serial             also serve a pseudo-terminal; its path is printed\n"
    "  --discovery          answer the UDP discovery probe (needs a raw socket)\n"
    "  --out DIR            where label PNGs go (default vprinter-out)\n"
    "  --log FILE           command log, one JSON object a line (default DIR/log.jsonl;\n"
    "                       \"-\" is standard output)\n"
    "  --dpi N              resolution (default 203)\n"
    "  --status BYTE        status byte answered to ESC !? (default 0; 0x.. for hex)\n"
    "  --name TEXT          model name answered to ~!T\n"
    "  --serial-number TEXT answered to OUT _SERIAL$\n"
    "  --setting A/S/K=V    a setting answered to OUT GETSETTING$(\"A\",\"S\",\"K\");\n"
    "                       SENSOR/NAME=V sets a sensor for OUT GETSENSOR(\"NAME\")\n"
    "  --idle-timeout SEC   close a connection silent this long (default 10)\n"
    "  --render FILE        render a saved command stream and exit (no network)\n";

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

std::string upperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  vprinter::PrinterOptions po;
  vprinter::ServerOptions so;
  std::string outDir = "vprinter-out";
  std::string logPath;
  bool logGiven = false;
  std::string renderFile;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "paloma-vprinter: %s needs a value\n%s", a.c_str(), kUsage);
        std::exit(64);
      }
      return argv[++i];
    };
    if (a == "--listen") {
      std::string v = value();
      size_t colon = v.rfind(':');
      if (colon == std::string::npos) {
        std::fprintf(stderr, "paloma-vprinter: --listen wants HOST:PORT\n");
        return 64;
      }
      so.host = v.substr(0, colon);
      so.port = std::atoi(v.c_str() + colon + 1);
      if (so.port < 0 || so.port > 65535) {
        std::fprintf(stderr, "paloma-vprinter: bad port in %s\n", v.c_str());
        return 64;
      }
    } else if (a == "--no-tcp") {
      so.tcp = false;
    } else if (a == "--serial") {
      so.serial = true;
    } else if (a == "--discovery") {
      so.discovery = true;
    } else if (a == "--out") {
      outDir = value();
    } else if (a == "--log") {
      logPath = value();
      logGiven = true;
    } else if (a == "--dpi") {
      po.dpi = std::atoi(value().c_str());
      if (po.dpi < 100 || po.dpi > 1200) {
        std::fprintf(stderr, "paloma-vprinter: --dpi is 100 to 1200\n");
        return 64;
      }
    } else if (a == "--status") {
      std::string v = value();
      char* end = nullptr;
      long s = std::strtol(v.c_str(), &end, 0);
      if (!end || *end || s < 0 || s > 255) {
        std::fprintf(stderr, "paloma-vprinter: --status is a byte (0-255 or 0x00-0xff)\n");
        return 64;
      }
      po.status = static_cast<uint8_t>(s);
    } else if (a == "--name") {
      po.name = value();
    } else if (a == "--serial-number") {
      po.serialNumber = value();
    } else if (a == "--setting") {
      std::string v = value();
      size_t eq = v.find('=');
      if (eq == std::string::npos) {
        std::fprintf(stderr, "paloma-vprinter: --setting wants APP/SECTION/KEY=VALUE\n");
        return 64;
      }
      po.settings[upperCase(v.substr(0, eq))] = v.substr(eq + 1);
    } else if (a == "--idle-timeout") {
      so.idleTimeoutMs = std::max(1, std::atoi(value().c_str())) * 1000;
    } else if (a == "--render") {
      renderFile = value();
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "paloma-vprinter: unknown option %s\n%s", a.c_str(), kUsage);
      return 64;
    }
  }
  if (!mkdirs(outDir)) {
    std::fprintf(stderr, "paloma-vprinter: cannot create %s: %s\n", outDir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  po.outDir = outDir;
  if (!logGiven) logPath = outDir + "/log.jsonl";
  vprinter::JsonLog log;
  if (!log.open(logPath)) {
    std::fprintf(stderr, "paloma-vprinter: cannot open the log %s\n", logPath.c_str());
    return 1;
  }
  vprinter::Printer printer(po, &log);

  if (!renderFile.empty()) {
    std::ifstream in(renderFile, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "paloma-vprinter: cannot read %s\n", renderFile.c_str());
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
                 printer.written().size(), outDir.c_str(),
                 static_cast<unsigned long long>(printer.errors()));
    return printer.errors() ? 2 : 0;
  }

  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return vprinter::runServer(printer, so, gStop, [](const std::string& line) {
    std::fprintf(stdout, "paloma-vprinter: %s\n", line.c_str());
    std::fflush(stdout);
  });
}

// Fontconfig keeps its configuration for the life of the process; it is not a
// leak of this program.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
