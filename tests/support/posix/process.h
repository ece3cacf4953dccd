// Child processes, files and descriptors for the integration tests on POSIX
// systems. Every wait here is bounded.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace paloma::test {

// Milliseconds on the monotonic clock.
long long nowMs();

// Waits at most `ms` for the child `pid` to end and stores its wait status in
// `*status` (when given). A child still running then is killed (SIGKILL) and
// reaped, and the result is false.
bool waitForExit(pid_t pid, int ms, int* status = nullptr);

// Sends `sig` to the child `pid`, then waits for it as waitForExit does.
bool stopChild(pid_t pid, int sig, int ms, int* status = nullptr);

// The whole content of a file ("" when it cannot be read).
std::string readFile(const std::string& path);

// Waits (at most `ms`) until the file at `path` holds `part`.
bool waitForText(const std::string& path, const std::string& part, int ms = 5000);

// How many descriptors this process has open (one more while counting).
int openDescriptors();

// What a program run by runProgram did.
struct ProgramRun {
  int rc = -1;  // its exit code; -1 when it did not exit by itself in time
  std::string out, err;
};

// Runs `argv` (argv[0] is the program's path) in the folder `cwd` ("" for
// this one) and collects what it writes; a program still running after `ms`
// is killed.
ProgramRun runProgram(const std::vector<std::string>& argv, int ms,
                      const std::string& cwd = "");

// Runs a shell command, ended after 20 s, its output dropped; its exit status
// (-1 when it did not exit).
int runCommand(const std::string& cmd);

// Whether the local print scheduler answers (asked for at most 5 s).
bool schedulerRunning();

// A raw spooler queue on the local scheduler, made for a test and deleted
// when it goes away. Where the machine cannot give one (no scheduler, no
// lpadmin, or a user who may not make queues), skipReason() says why and the
// test skips; when root could not make it, error() says what lpadmin said and
// the test fails.
class SpoolerQueue {
 public:
  SpoolerQueue(std::string name, const std::string& deviceUri);
  ~SpoolerQueue();
  SpoolerQueue(const SpoolerQueue&) = delete;
  SpoolerQueue& operator=(const SpoolerQueue&) = delete;

  bool ok() const { return ok_; }
  const std::string& skipReason() const { return skip_; }
  const std::string& error() const { return error_; }

 private:
  std::string name_;
  bool ok_ = false;
  std::string skip_, error_;
};

}  // namespace paloma::test

// In a test body: skips with the reason, or fails, unless `queue` was made.
#define PALOMA_REQUIRE_QUEUE(queue)                                          \
  do {                                                                       \
    if (!(queue).skipReason().empty()) GTEST_SKIP() << (queue).skipReason(); \
    ASSERT_TRUE((queue).ok()) << (queue).error();                            \
  } while (0)

namespace paloma::test {

}  // namespace paloma::test
