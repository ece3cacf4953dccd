#include "support/posix/spooler_queue.h"

#include <sys/wait.h>

#include <cstdio>
#include <utility>

#include "support/posix/process.h"

namespace paloma::test {

namespace {

// lpadmin lives in /usr/sbin, off an ordinary user's PATH.
const char* const kLpadmin = "env PATH=\"$PATH:/usr/sbin:/sbin\" lpadmin";

std::string lastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  auto nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

}  // namespace

int runCommandOutput(const std::string& cmd, std::string* output, int seconds) {
  output->clear();
  FILE* p = popen(("timeout " + std::to_string(seconds) + " " + cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[512];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (output->size() < 4096) output->append(buf, n);
  int rc = pclose(p);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

SpoolerQueue::SpoolerQueue(std::string name, const std::string& deviceUri)
    : name_(std::move(name)) {
  if (!schedulerRunning()) {
    why_ = "no print scheduler is running (run the tests through scripts/with-cupsd.sh)";
    return;
  }
  std::string out;
  int rc = runCommandOutput(std::string(kLpadmin) + " -p " + name_ + " -E -v " + deviceUri, &out);
  if (rc == 127) {
    why_ = "lpadmin is not installed";
  } else if (rc != 0) {
    // Typically "lpadmin: Unauthorized" (a user outside the lpadmin group,
    // or a scheduler that refuses this caller), or "Forbidden".
    why_ = "lpadmin could not make the queue " + name_ + " here (exit " + std::to_string(rc) +
           "): " + lastLine(out);
  } else {
    made_ = true;
  }
}

SpoolerQueue::~SpoolerQueue() {
  if (!made_) return;
  std::string out;
  runCommandOutput(std::string(kLpadmin) + " -x " + name_, &out);
}

}  // namespace paloma::test
