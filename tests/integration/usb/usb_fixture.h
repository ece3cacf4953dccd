// The test fixture over the emulated USB bench: every test starts with no
// device plugged in and no connection open, and unplugs what it plugged.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "emulated_usb.h"
#include "paloma.h"

namespace paloma_test {

class UsbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    bench_ = UsbBench::get(&why);
    if (!bench_) GTEST_FAIL() << why;
  }
  void TearDown() override {
    closeport();
    for (int n = 1; n <= 5; ++n) closeportmult(n);
    if (bench_) bench_->unplugAll();
    for (const std::string& f : files_) std::remove(f.c_str());
  }
  UsbBench& bench() { return *bench_; }

  // A file in the temporary directory holding `bytes`; removed after the test.
  std::string tempFile(const std::string& bytes) {
    char name[] = "/tmp/paloma-usb-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
      EXPECT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
      close(fd);
    }
    files_.push_back(name);
    return name;
  }

  static double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  }

 private:
  UsbBench* bench_ = nullptr;
  std::vector<std::string> files_;
};

// A maker printer on the given port.
inline UsbPrinterSpec printerAt(int port, std::uint16_t product = 0x0001) {
  UsbPrinterSpec s;
  s.port = port;
  s.product = product;
  s.serial = "EMU" + std::to_string(port);
  return s;
}

// A scripted device: nothing answers unless the test queues packets.
inline UsbPrinterSpec scriptedAt(int port) {
  UsbPrinterSpec s = printerAt(port);
  s.brain = false;
  return s;
}

}  // namespace paloma_test
