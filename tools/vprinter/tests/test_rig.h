// Scaffolding shared by the virtual printer's unit tests: a scratch folder
// and a printer fed through one session.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "printer.h"

namespace vprinter {

// A folder under /tmp for one test, removed with all it holds at the end.
// `path` is empty when it could not be made.
struct TempDir {
  TempDir() {
    char t[] = "/tmp/vprinter-test-XXXXXX";
    if (mkdtemp(t)) path = t;
  }
  ~TempDir() {
    if (!path.empty() && std::system(("rm -rf '" + path + "'").c_str()) != 0) {
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path + "/" + name, std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool has(const std::string& name) const { return access((path + "/" + name).c_str(), F_OK) == 0; }
  // The names starting with "label-", sorted.
  std::vector<std::string> labels() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.rfind("label-", 0) == 0) names.push_back(n);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string path;
};

// A printer with a log that keeps its lines, fed one stream at a time.
struct PrinterRig {
  explicit PrinterRig(PrinterOptions o = PrinterOptions()) : printer(std::move(o), &log) {
    log.keepLines(true);
  }
  // Feeds the bytes as one stream, in pieces of `piece` bytes (0: whole),
  // and returns the replies.
  std::string send(const std::string& bytes, size_t piece = 0) {
    Session s(printer, "test");
    if (piece == 0) piece = std::max<size_t>(bytes.size(), 1);
    for (size_t at = 0; at < bytes.size(); at += piece) {
      s.feed(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
             std::min(piece, bytes.size() - at));
    }
    s.finish();
    return s.takeReply();
  }
  // Whether a line of the log holds `part`.
  bool logHas(const std::string& part) const {
    for (const std::string& l : log.lines()) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }
  JsonLog log;
  Printer printer;
};

}  // namespace vprinter
