// The one table of the status byte's conditions. The printer sets one bit
// per condition, and a byte is the sum of those that hold; every tool reads
// the byte through this table so that all use the same words.
#include <cstddef>
#include <cstdint>
#include <string>

#include "paloma.h"

namespace {

struct Condition {
  std::uint8_t bit;
  const char* name;
};

constexpr Condition kConditions[] = {
    {0x01, "head open"}, {0x02, "paper jam"},         {0x04, "paper empty"},
    {0x08, "ribbon empty"}, {0x10, "paused"},          {0x20, "printing"},
    {0x40, "unknown condition"}, {0x80, "other error"},
};
constexpr std::size_t kConditionCount = sizeof kConditions / sizeof kConditions[0];

// The text of every byte, made once.
struct StatusTexts {
  std::string text[256];
  StatusTexts() {
    text[0] = "ready";
    for (unsigned b = 1; b < 256; ++b)
      for (const Condition& c : kConditions)
        if (b & c.bit) text[b] += (text[b].empty() ? "" : ", ") + std::string(c.name);
  }
};

}  // namespace

extern "C" {

size_t paloma_status_conditions(uint8_t byte, const char** names, size_t max) {
  size_t count = 0;
  for (const Condition& c : kConditions) {
    if (!(byte & c.bit)) continue;
    if (names && count < max) names[count] = c.name;
    ++count;
  }
  return count;
}

const char* paloma_status_condition(size_t index, uint8_t* bit) {
  if (index >= kConditionCount) return nullptr;
  if (bit) *bit = kConditions[index].bit;
  return kConditions[index].name;
}

const char* paloma_status_text(uint8_t byte) {
  static const StatusTexts texts;
  return texts.text[byte].c_str();
}

}  // extern "C"
