// A printer's side of TCP connections on 127.0.0.1, for the integration tests
// and the benchmarks. It listens on an ephemeral port and serves the
// connections made to it one after another on its own thread: it collects
// what arrives and, when given a script, answers it. Every wait is bounded,
// the peer stops by itself at the end of its life, and the destructor stops
// it and joins its thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace paloma::test {

class LoopbackPeer {
 public:
  // What the peer does after a call of its script.
  struct Reply {
    std::string bytes{};  // sent at once (nothing when empty)
    bool close = false;   // then the connection is closed
    int pauseMs = 0;      // otherwise, after this pause,
    std::string then{};   // these are sent as well
  };
  // Called on the peer's thread right after a connection is accepted (with
  // "") and after each receive, with every byte the connection brought so far.
  using Script = std::function<Reply(const std::string& received)>;

  struct Options {
    Script script;          // none: stay silent, only collect
    bool keepBytes = true;  // false: count what arrives and drop it (bulk transfers)
    int lifeMs = 10000;     // the peer stops by itself this long after it starts
  };

  // What one connection brought.
  struct Connection {
    bool ended = false;     // it ended within the wait
    std::string bytes;      // what it sent (when kept)
    std::size_t count = 0;  // how many bytes it sent
  };

  LoopbackPeer() : LoopbackPeer(Options{}) {}
  explicit LoopbackPeer(Script script) : LoopbackPeer(Options{std::move(script)}) {}
  explicit LoopbackPeer(Options options);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  // The port on 127.0.0.1; 0 when the listener could not be set up.
  int port() const { return port_; }

  // Waits at most `ms` for the next connection, in the order they were
  // accepted, to end: the other side closed it, the script did, or the peer
  // stopped.
  Connection nextClosed(int ms);
  // Waits at most `ms` until the latest connection has brought `count` bytes.
  bool waitReceived(std::size_t count, int ms);
  // The bytes the latest connection brought so far.
  std::string received() const;
  // Closes the connection and the listener now and joins the thread.
  void stop();

 private:
  void run();
  void serve(int c, std::vector<char>& buf);
  bool act(int c, const Reply& r);
  bool sendAll(int c, const std::string& bytes);
  bool stopping() const;
  int sliceMs() const;

  Options options_;
  int listener_ = -1;
  int port_ = 0;
  std::chrono::steady_clock::time_point end_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Connection> connections_;  // in the order accepted; guarded by mu_
  std::size_t taken_ = 0;                // how many nextClosed handed out
  bool done_ = false;                    // the thread has ended
  std::thread thread_;
};

}  // namespace paloma::test
