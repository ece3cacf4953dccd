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

}  // namespace paloma::test
