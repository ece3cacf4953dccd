#include "support/posix/process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

}  // namespace paloma::test
