// Discovery tests inside a network namespace of the test's own, so that no
// broadcast leaves this process's loopback.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace paloma::test {

// Moves this process into a fresh network namespace with loopback up and a
// limited-broadcast route on it. Returns "" on success, or why it could not.
// A user other than root enters a user namespace first, in which it is root
// (the process must have one thread then).
std::string enterPrivateNetwork();

// Sees every probe sent to the discovery port on a raw socket (the library
// holds that port itself, without address reuse) and answers each, to the
// probe's source, with the given datagrams from a UDP port of its own on
// 127.0.0.1. Stops and joins its thread when it goes away.
class ProbeResponder {
 public:
  struct Options {
    std::vector<std::string> answers;  // sent, in order, for every probe
    // Non-empty: only a datagram with exactly these bytes is a probe (another
    // responder's answer of the probe's length to the library's port is not).
    // Empty: any datagram of the probe's length is one.
    std::string probe = {};
  };
  explicit ProbeResponder(Options options);
  ~ProbeResponder();
  ProbeResponder(const ProbeResponder&) = delete;
  ProbeResponder& operator=(const ProbeResponder&) = delete;

  int probesSeen() const { return probes_; }
  std::string lastProbe() const;
  // The port the answers come from.
  int port() const { return port_; }

 private:
  void run();
  Options options_;
  int raw_ = -1, out_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> probes_{0};
  mutable std::mutex mu_;
  std::string last_;  // guarded by mu_
  std::thread thread_;
};

}  // namespace paloma::test
