// Shared by the command builder tests: an open spooler connection on the
// fake, and helpers to pass argument rows to the builders.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "paloma.h"
#include "support/fake_os.h"

namespace paloma::test {

// A spooler printer "P", opened; the journal starts empty after the open.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f().addPrinter("P", "p1");
    ASSERT_EQ(openport("P"), 1);
    f().clearJournal();
  }
  FakeOs& f() { return scope_.fake(); }
  std::string wire() { return f().wire("spooler:P"); }
  // Closes the connection and forgets what the close wrote.
  void closeConnection() {
    ASSERT_EQ(closeport(), 1);
    f().clearJournal();
  }

 private:
  FakeOsScope scope_;
};

// Each line followed by CR LF, joined: the bytes a list of commands puts on
// the wire.
inline std::string crlfLines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

// Pointers to a row's texts, for builders called with an argument array.
inline std::vector<const char*> cstrs(const std::vector<std::string>& args) {
  std::vector<const char*> out;
  for (const auto& a : args) out.push_back(a.c_str());
  return out;
}

}  // namespace paloma::test
