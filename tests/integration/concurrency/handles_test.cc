// Printer handles driven from many threads on the real backend against
// printers on 127.0.0.1: a silent printer holds back only its own handle,
// one handle shared by threads keeps every command whole, the legacy lock
// held by a slow legacy query never blocks a handle, and close delivers
// every byte sent before it. CI runs this under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

using paloma::test::LoopbackPeer;
using Clock = std::chrono::steady_clock;

constexpr char kStatusRequest[] = "\x1b!?\r\n";

// A printer that answers every status request with `byte`.
LoopbackPeer::Script answeringStatus(char byte) {
  auto answered = std::make_shared<std::size_t>(0);
  return [answered, byte](const std::string& got) {
    std::size_t asked = 0;
    for (std::size_t at = 0; (at = got.find(kStatusRequest, at)) != std::string::npos; ++at)
      ++asked;
    LoopbackPeer::Reply r;
    if (asked > *answered) {
      r.bytes.assign(asked - *answered, byte);
      *answered = asked;
    }
    return r;
  };
}

std::string uriOf(const LoopbackPeer& peer) {
  return "tcp://127.0.0.1:" + std::to_string(peer.port());
}

long msSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TEST(Handles, ASilentPrinterHoldsBackOnlyItsOwnHandle) {
  constexpr int kPrinters = 8;
  std::vector<std::unique_ptr<LoopbackPeer>> peers;
  peers.push_back(std::make_unique<LoopbackPeer>());  // silent
  for (int i = 1; i < kPrinters; ++i)
    peers.push_back(std::make_unique<LoopbackPeer>(answeringStatus(static_cast<char>(i))));
  std::vector<paloma_printer*> handles(kPrinters, nullptr);
  for (int i = 0; i < kPrinters; ++i)
    ASSERT_EQ(paloma_open(uriOf(*peers[i]).c_str(), &handles[i]), PALOMA_OK)
        << paloma_last_error();
  ASSERT_EQ(paloma_set_reply_timeout(handles[0], 1500), PALOMA_OK);

  std::atomic<int> healthyDone{0};
  std::atomic<long> silentMs{0};
  std::vector<int> failures(kPrinters, 0);
  std::vector<long> healthyMs(kPrinters, 0);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < kPrinters; ++i) {
    threads.emplace_back([&, i] {
      std::uint8_t byte = 0;
      if (i == 0) {
        if (paloma_status(handles[0], &byte) != PALOMA_ERROR_NO_REPLY) failures[0] = 1;
        silentMs = msSince(start);
        return;
      }
      for (int round = 0; round < 20; ++round) {
        if (paloma_status(handles[i], &byte) != PALOMA_OK || byte != i) ++failures[i];
      }
      healthyMs[i] = msSince(start);
      ++healthyDone;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(healthyDone.load(), kPrinters - 1);
  for (int i = 0; i < kPrinters; ++i) EXPECT_EQ(failures[i], 0) << "printer " << i;
  // Every healthy handle finished its 20 rounds long before the silent one
  // gave up: nothing waited for it.
  EXPECT_GE(silentMs.load(), 1400);
  for (int i = 1; i < kPrinters; ++i) EXPECT_LT(healthyMs[i], silentMs.load()) << i;
  for (auto* h : handles) EXPECT_EQ(paloma_close(h), PALOMA_OK);
}

TEST(Handles, ThreadsSharingAHandleSendWholeCommands) {
  LoopbackPeer peer;
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(uriOf(peer).c_str(), &p), PALOMA_OK) << paloma_last_error();
  constexpr int kThreads = 6, kRounds = 50;
  std::size_t total = 0;
  std::vector<std::string> sent;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kRounds; ++i) {
      std::string c = "T" + std::to_string(t) + " " + std::to_string(i) + " ";
      c.append(static_cast<std::size_t>((t * 131 + i * 17) % 3000), static_cast<char>('a' + t));
      total += c.size() + 2;
      sent.push_back(c);
    }
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i)
        if (paloma_send_command(p, sent[static_cast<std::size_t>(t * kRounds + i)].c_str()) !=
            PALOMA_OK)
          ++failed;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);
  ASSERT_EQ(paloma_close(p), PALOMA_OK);
  LoopbackPeer::Connection c = peer.nextClosed(5000);
  ASSERT_TRUE(c.ended);
  ASSERT_EQ(c.bytes.size(), total);
  // Every line is one of the commands, whole.
  std::size_t lines = 0;
  for (std::size_t at = 0; at < c.bytes.size();) {
    std::size_t end = c.bytes.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = c.bytes.substr(at, end - at);
    int t = line[1] - '0';
    int i = std::stoi(line.substr(3));
    ASSERT_EQ(line, sent[static_cast<std::size_t>(t * kRounds + i)]);
    ++lines;
    at = end + 2;
  }
  EXPECT_EQ(lines, sent.size());
}

TEST(Handles, ASlowLegacyQueryDoesNotBlockHandles) {
  LoopbackPeer silent;
  LoopbackPeer healthy(answeringStatus('\x20'));
  ASSERT_EQ(openethernet("127.0.0.1", silent.port()), 1);
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(uriOf(healthy).c_str(), &p), PALOMA_OK);
  std::atomic<bool> legacyDone{false};
  std::thread legacy([&] {
    ethernetprinterstatus();  // holds the legacy lock while it waits for silence
    legacyDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::uint8_t byte = 0;
  const auto start = Clock::now();
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_OK);
  EXPECT_EQ(byte, 0x20);
  EXPECT_FALSE(legacyDone.load()) << "the legacy query ended before the handle was asked";
  EXPECT_LT(msSince(start), 500);
  legacy.join();
  closeport();
  EXPECT_EQ(paloma_close(p), PALOMA_OK);
}

TEST(Handles, CloseDeliversEverythingSentWithoutThePause) {
  LoopbackPeer::Options o;
  o.keepBytes = false;
  LoopbackPeer peer(o);
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(uriOf(peer).c_str(), &p), PALOMA_OK);
  std::string block(256 * 1024, 'x');
  for (int i = 0; i < 8; ++i) ASSERT_EQ(paloma_write(p, block.data(), block.size()), PALOMA_OK);
  const auto start = Clock::now();
  EXPECT_EQ(paloma_close(p), PALOMA_OK);
  const long closeMs = msSince(start);
  LoopbackPeer::Connection c = peer.nextClosed(5000);
  EXPECT_TRUE(c.ended);
  EXPECT_EQ(c.count, 8u * block.size());
  EXPECT_LT(closeMs, 900);  // the single connection's close pauses 1000 ms
}

TEST(Handles, APrinterThatHangsUpIsToldApartFromASilentOne) {
  LoopbackPeer peer([](const std::string& got) {
    LoopbackPeer::Reply r;
    r.close = !got.empty();
    return r;
  });
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open(uriOf(peer).c_str(), &p), PALOMA_OK);
  std::uint8_t byte = 0;
  EXPECT_EQ(paloma_status(p, &byte), PALOMA_ERROR_CLOSED) << paloma_last_error();
  paloma_close(p);
  // Nobody listening on a port the peer no longer holds.
  peer.stop();
  paloma_printer* q = nullptr;
  EXPECT_NE(paloma_open(uriOf(peer).c_str(), &q), PALOMA_OK);
  EXPECT_EQ(q, nullptr);
}

}  // namespace
