#include "support/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace paloma::test {

namespace {
using Clock = std::chrono::steady_clock;
// The longest the thread waits at a time before it looks at stop() and the
// end of its life again.
constexpr int kSliceMs = 20;
constexpr std::size_t kReceiveBuffer = 1u << 20;
}  // namespace

LoopbackPeer::LoopbackPeer(Options options)
    : options_(std::move(options)), end_(Clock::now() + std::chrono::milliseconds(options_.lifeMs)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listener_, 4) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return;
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { run(); });
}

LoopbackPeer::~LoopbackPeer() { stop(); }

void LoopbackPeer::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

bool LoopbackPeer::stopping() const { return stop_ || Clock::now() >= end_; }

int LoopbackPeer::sliceMs() const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, kSliceMs));
}

LoopbackPeer::Connection LoopbackPeer::nextClosed(int ms) {
  std::unique_lock<std::mutex> g(mu_);
  auto ready = [this] { return taken_ < connections_.size() && connections_[taken_].ended; };
  cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return ready() || done_; });
  if (!ready()) return {};
  return connections_[taken_++];
}

bool LoopbackPeer::waitReceived(std::size_t count, int ms) {
  std::unique_lock<std::mutex> g(mu_);
  auto ready = [&] { return !connections_.empty() && connections_.back().count >= count; };
  cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return ready() || done_; });
  return ready();
}

std::string LoopbackPeer::received() const {
  std::lock_guard<std::mutex> g(mu_);
  return connections_.empty() ? std::string() : connections_.back().bytes;
}

void LoopbackPeer::run() {
  std::vector<char> buf(kReceiveBuffer);
  while (!stopping()) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, sliceMs()) <= 0) continue;
    int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    {
      std::lock_guard<std::mutex> g(mu_);
      connections_.emplace_back();
    }
    serve(c, buf);
    close(c);
    std::lock_guard<std::mutex> g(mu_);
    connections_.back().ended = true;
    cv_.notify_all();
  }
  std::lock_guard<std::mutex> g(mu_);
  done_ = true;
  cv_.notify_all();
}

// Only this thread changes connections_, so it reads the latest one without
// the lock.
void LoopbackPeer::serve(int c, std::vector<char>& buf) {
  const std::string& got = connections_.back().bytes;
  if (options_.script && !act(c, options_.script(got))) return;
  while (!stopping()) {
    pollfd q{c, POLLIN, 0};
    if (poll(&q, 1, sliceMs()) <= 0) continue;
    ssize_t n = recv(c, buf.data(), buf.size(), 0);
    if (n <= 0) return;  // the other side closed the connection
    {
      std::lock_guard<std::mutex> g(mu_);
      Connection& now = connections_.back();
      now.count += static_cast<std::size_t>(n);
      if (options_.keepBytes) now.bytes.append(buf.data(), static_cast<std::size_t>(n));
      cv_.notify_all();
    }
    if (options_.script && !act(c, options_.script(got))) return;
  }
}

// False when the connection is to end.
bool LoopbackPeer::act(int c, const Reply& r) {
  if (!sendAll(c, r.bytes) || r.close) return false;
  if (r.pauseMs <= 0 && r.then.empty()) return true;
  const auto until = Clock::now() + std::chrono::milliseconds(r.pauseMs);
  while (Clock::now() < until) {
    if (stopping()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSliceMs, r.pauseMs)));
  }
  return sendAll(c, r.then);
}

bool LoopbackPeer::sendAll(int c, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (stopping()) return false;
    pollfd q{c, POLLOUT, 0};
    if (poll(&q, 1, sliceMs()) <= 0) continue;
    ssize_t n = send(c, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace paloma::test
