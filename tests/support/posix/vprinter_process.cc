#include "support/posix/vprinter_process.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>

#include "support/posix/process.h"

namespace paloma::test {
namespace {

const char kFolderPrefix[] = "/tmp/paloma-vprinter-test-";

}  // namespace

VPrinterProcess::VPrinterProcess(const std::string& exe, std::vector<std::string> args,
                                 const Prepare& prepare) {
  std::string tmpl = std::string(kFolderPrefix) + "XXXXXX";
  if (!mkdtemp(tmpl.data())) return;
  dir_ = tmpl;
  if (prepare) prepare(dir_);
  int fd[2];
  if (pipe(fd) != 0) return;
  args.insert(args.begin(), {exe, "--out", dir_});
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fd[1], 1);
    close(fd[0]);
    close(fd[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fd[1]);
  if (pid_ < 0) {
    close(fd[0]);
    return;
  }
  out_ = fd[0];
}

VPrinterProcess::~VPrinterProcess() {
  if (pid_ > 0) stopChild(pid_, SIGTERM, 5000);
  if (out_ >= 0) close(out_);
  if (dir_.rfind(kFolderPrefix, 0) == 0 && std::system(("rm -rf '" + dir_ + "'").c_str()) != 0) {
  }
}

std::string VPrinterProcess::waitFor(const std::string& prefix, int ms) {
  const std::string p = "paloma-vprinter: " + prefix;
  long long end = nowMs() + ms;
  while (nowMs() < end && out_ >= 0) {
    std::size_t nl;
    while ((nl = buffered_.find('\n')) != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      if (line.rfind(p, 0) == 0) return line.substr(p.size());
    }
    pollfd pf{out_, POLLIN, 0};
    if (poll(&pf, 1, 100) > 0) {
      char b[512];
      ssize_t n = read(out_, b, sizeof b);
      if (n <= 0) break;
      buffered_.append(b, static_cast<std::size_t>(n));
    }
  }
  return "";
}

int VPrinterProcess::port() {
  if (port_ == 0) port_ = std::atoi(waitFor("listening on 127.0.0.1:").c_str());
  return port_;
}

long long VPrinterProcess::stop(int sig) {
  if (pid_ <= 0) return -1;
  long long start = nowMs();
  int status = 0;
  bool ended = stopChild(pid_, sig, 5000, &status);
  pid_ = -1;
  if (!ended) return -1;
  exitStatus_ = status;
  return nowMs() - start;
}

}  // namespace paloma::test
