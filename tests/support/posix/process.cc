#include "support/posix/process.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace paloma::test {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool waitForExit(pid_t pid, int ms, int* status) {
  int st = 0;
  long long end = nowMs() + ms;
  pid_t got;
  while ((got = waitpid(pid, &st, WNOHANG)) == 0) {
    if (nowMs() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      if (status) *status = st;
      return false;
    }
    usleep(2000);
  }
  if (status) *status = st;
  return got == pid;
}

bool stopChild(pid_t pid, int sig, int ms, int* status) {
  kill(pid, sig);
  return waitForExit(pid, ms, status);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool waitForText(const std::string& path, const std::string& part, int ms) {
  long long end = nowMs() + ms;
  do {
    if (readFile(path).find(part) != std::string::npos) return true;
    usleep(20000);
  } while (nowMs() < end);
  return false;
}

int openDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

ProgramRun runProgram(const std::vector<std::string>& argv, int ms, const std::string& cwd) {
  ProgramRun r;
  int o[2], e[2];
  if (pipe(o) != 0) return r;
  if (pipe(e) != 0) {
    close(o[0]);
    close(o[1]);
    return r;
  }
  pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    dup2(o[1], 1);
    dup2(e[1], 2);
    close(o[0]), close(o[1]), close(e[0]), close(e[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(o[1]);
  close(e[1]);
  if (pid < 0) {
    close(o[0]);
    close(e[0]);
    return r;
  }
  long long end = nowMs() + ms;
  pollfd fds[2] = {{o[0], POLLIN, 0}, {e[0], POLLIN, 0}};
  int open = 2;
  while (open > 0 && nowMs() < end) {
    if (poll(fds, 2, 100) <= 0) continue;
    for (pollfd& p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
      char b[4096];
      ssize_t n = read(p.fd, b, sizeof b);
      if (n <= 0) {
        close(p.fd);
        p.fd = -1;
        --open;
      } else {
        (&p == &fds[0] ? r.out : r.err).append(b, static_cast<std::size_t>(n));
      }
    }
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  int status = 0;
  if (!waitForExit(pid, static_cast<int>(std::max(0LL, end - nowMs())), &status)) return r;
  if (WIFEXITED(status)) r.rc = WEXITSTATUS(status);
  return r;
}

int runCommand(const std::string& cmd) {
  int rc = std::system(("timeout 20 " + cmd + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool schedulerRunning() {
  FILE* p = popen("timeout 5 lpstat -r 2>/dev/null", "r");
  if (!p) return false;
  char line[128] = {};
  bool running = fgets(line, sizeof line, p) && std::string(line) == "scheduler is running\n";
  pclose(p);
  return running;
}

namespace {

// lpadmin and cupsd live in /usr/sbin, off an ordinary user's PATH.
ProgramRun runAdmin(const std::string& command) {
  return runProgram({"/bin/sh", "-c", "PATH=\"$PATH:/usr/sbin:/sbin\"; " + command}, 20000);
}

}  // namespace

SpoolerQueue::SpoolerQueue(std::string name, const std::string& deviceUri)
    : name_(std::move(name)) {
  const bool root = geteuid() == 0;
  if (runAdmin("command -v lpadmin >/dev/null").rc != 0) {
    skip_ = "lpadmin is missing (Debian package cups-client; scripts/deps.sh installs it)";
    return;
  }
  if (!schedulerRunning()) {
    skip_ = root ? "no CUPS scheduler is running (scripts/with-cupsd.sh starts one for the tests)"
                 : "no CUPS scheduler is running, and only root may start one "
                   "(scripts/with-cupsd.sh does, run as root)";
    return;
  }
  ProgramRun r = runAdmin("lpadmin -p " + name_ + " -E -v " + deviceUri);
  ok_ = r.rc == 0;
  if (ok_) return;
  std::string said = r.err.empty() ? r.out : r.err;
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  if (r.rc == -1) said = "lpadmin did not finish within 20 s";
  if (root) {
    error_ = "lpadmin could not make the queue " + name_ + ": " + said;
  } else {
    skip_ = "making a spooler queue needs root or membership of the lpadmin group (lpadmin: " +
            said + ")";
  }
}

SpoolerQueue::~SpoolerQueue() {
  if (ok_) runAdmin("lpadmin -x " + name_);
}

}  // namespace paloma::test
