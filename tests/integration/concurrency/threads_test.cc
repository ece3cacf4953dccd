// Calls from several threads at once, on the real backend against printers
// on 127.0.0.1: every command reaches the wire whole (no thread's text with
// another's length, no bytes of one inside another), each query gets its own
// reply, and opening and closing while others send neither crashes nor sends
// a command to a socket that was closed under it. CI also runs this file
// under ThreadSanitizer (scripts/test.sh), which reports any data race.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

using paloma::test::LoopbackPeer;

constexpr char kStatusRequest[] = "\x1b!?\r\n";
constexpr std::size_t kRequestBlock = 200;

// A command of its own length for thread `t`, round `i`: "T<t> <i> xxx...".
std::string commandOf(int t, int i) {
  std::string c = "T" + std::to_string(t) + " " + std::to_string(i) + " ";
  c.append(static_cast<std::size_t>((t * 37 + i * 11) % 1500), static_cast<char>('a' + t));
  return c;
}

// The lines of a stream ended by CR LF (or CR LF NUL), after the status
// request blocks are taken out; "" for a line without end or a torn block.
std::vector<std::string> linesOf(std::string bytes, std::size_t* blocks) {
  *blocks = 0;
  const std::string request(kStatusRequest);
  for (std::size_t at; (at = bytes.find(request)) != std::string::npos;) {
    // The request is the head of a block of NUL bytes.
    if (at + kRequestBlock > bytes.size() ||
        bytes.find_first_not_of('\0', at + request.size()) < at + kRequestBlock)
      return {""};
    bytes.erase(at, kRequestBlock);
    ++*blocks;
  }
  // CR LF NUL (sendBinaryData's line end on the network) ends a line too.
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (!(bytes[i] == '\0' && i >= 2 && bytes.compare(i - 2, 2, "\r\n") == 0)) text += bytes[i];
  bytes.swap(text);
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = bytes.find("\r\n", from)) != std::string::npos; from = end + 2)
    lines.push_back(bytes.substr(from, end - from));
  if (from != bytes.size()) lines.push_back("");
  return lines;
}

// Every line must be a command some thread sent; each is counted.
void countLines(const std::vector<std::string>& lines, std::map<std::string, int>* seen) {
  for (const std::string& l : lines) ++(*seen)[l];
}

TEST(Threads, CommandsAndQueriesFromSeveralThreadsReachTheWireWhole) {
  // The printer answers each status request block with status 00.
  int answered = 0;
  LoopbackPeer printer([&answered](const std::string& received) {
    int requests = 0;
    for (std::size_t at = 0; (at = received.find(kStatusRequest, at)) != std::string::npos; ++at)
      ++requests;
    LoopbackPeer::Reply r;
    if (requests > answered) {
      r.bytes.assign(static_cast<std::size_t>(requests - answered), '\0');
      answered = requests;
    }
    return r;
  });
  ASSERT_GT(printer.port(), 0);
  ASSERT_EQ(openethernet("127.0.0.1", printer.port()), 1);

  constexpr int kSenders = 4, kRounds = 1000, kQueries = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kSenders; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kRounds; ++i) {
        // Two writers that fill the command buffer in different ways.
        const std::string c = commandOf(t, i);
        int rc = i % 2 ? sendcommand(c.c_str())
                       : sendBinaryData(reinterpret_cast<const unsigned char*>(c.data()),
                                        static_cast<int>(c.size()));
        if (rc != 1) ++failures;
      }
    });
  }
  std::vector<std::string> statuses;
  threads.emplace_back([&statuses] {
    for (int i = 0; i < kQueries; ++i) statuses.push_back(ethernetprinterstatus());
  });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  for (const std::string& s : statuses) EXPECT_EQ(s, "00");
  ASSERT_EQ(closeethernetport(0), 1);

  LoopbackPeer::Connection c = printer.nextClosed(5000);
  ASSERT_TRUE(c.ended);
  std::size_t blocks = 0;
  std::map<std::string, int> seen;
  countLines(linesOf(c.bytes, &blocks), &seen);
  EXPECT_EQ(blocks, static_cast<std::size_t>(kQueries));
  std::map<std::string, int> sent;
  for (int t = 0; t < kSenders; ++t)
    for (int i = 0; i < kRounds; ++i) ++sent[commandOf(t, i)];
  // Compared by count, so that a failure says how much went wrong.
  int wrong = 0, missing = 0;
  for (const auto& [line, n] : seen)
    if (sent.count(line) == 0) wrong += n;
  for (const auto& [line, n] : sent)
    if (seen[line] != n) ++missing;
  EXPECT_EQ(wrong, 0) << "lines on the wire that no thread sent";
  EXPECT_EQ(missing, 0) << "commands that did not arrive whole";
}

TEST(Threads, OpeningAndClosingWhileOthersSendKeepsEveryCommandWhole) {
  LoopbackPeer printer(LoopbackPeer::Options{{}, true, 30000});
  ASSERT_GT(printer.port(), 0);
  const int port = printer.port();
  constexpr int kOpeners = 2, kCycles = 12, kSenders = 2;
  std::atomic<bool> opening{true};
  std::atomic<int> accepted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kOpeners; ++t) {
    threads.emplace_back([port] {
      for (int i = 0; i < kCycles; ++i) {
        openethernet("127.0.0.1", port);
        closeethernetport(0);
      }
    });
  }
  for (int t = 0; t < kSenders; ++t) {
    threads.emplace_back([t, &opening, &accepted] {
      for (int i = 0; opening.load() || i < 50; ++i) {
        // With no connection this fails; with one, the whole line is sent.
        const std::string c = commandOf(t, i);
        if (sendcommand(c.c_str()) == 1) ++accepted;
      }
    });
  }
  for (int t = 0; t < kOpeners; ++t) threads[static_cast<std::size_t>(t)].join();
  opening = false;
  for (std::size_t t = kOpeners; t < threads.size(); ++t) threads[t].join();
  closeethernetport(0);

  // Every connection ended (each open replaced or closed the one before) and
  // holds only whole commands; together, exactly those that were accepted.
  int lines = 0;
  for (int k = 0; k < kOpeners * kCycles; ++k) {
    LoopbackPeer::Connection c = printer.nextClosed(5000);
    ASSERT_TRUE(c.ended) << "connection " << k;
    std::size_t blocks = 0;
    for (const std::string& l : linesOf(c.bytes, &blocks)) {
      ASSERT_FALSE(l.empty()) << "a command cut short on connection " << k;
      ASSERT_EQ(l[0], 'T') << l;
      ++lines;
    }
  }
  EXPECT_EQ(lines, accepted.load());
}

// Host-font text from several threads at once on one connection: every
// bitmap arrives whole, and under ThreadSanitizer the only reports the font
// libraries give (their own configuration thread) are the ones the shipped
// suppression file names, which scripts/test.sh uses.
TEST(Threads, HostFontTextFromSeveralThreadsArrivesWhole) {
  constexpr int kThreads = 3, kRounds = 4;
  LoopbackPeer printer(LoopbackPeer::Options{{}, true, 30000});
  ASSERT_EQ(openethernet("127.0.0.1", printer.port()), 1);
  std::atomic<int> sent{0};
  std::mutex m;
  std::string why;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &sent, &m, &why] {
      for (int i = 0; i < kRounds; ++i) {
        std::string text = "T" + std::to_string(t) + "-" + std::to_string(i);
        if (windowsfont(10, 10, 24, 0, 0, 0, "Sans", text.c_str()) == 1) {
          ++sent;
        } else {
          std::lock_guard<std::mutex> g(m);
          why = paloma_last_error();
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  closeethernetport(0);
  EXPECT_EQ(sent.load(), kThreads * kRounds) << why;
  LoopbackPeer::Connection c = printer.nextClosed(5000);
  ASSERT_TRUE(c.ended);
  std::size_t bitmaps = 0;
  for (std::size_t at = 0; (at = c.bytes.find("BITMAP ", at)) != std::string::npos; ++at) ++bitmaps;
  EXPECT_EQ(bitmaps, static_cast<std::size_t>(kThreads * kRounds));
}

}  // namespace
