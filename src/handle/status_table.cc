// The status byte read through the one table of its conditions
// (handle/status_conditions.h), so that every tool uses the same words.
#include <cstddef>
#include <cstdint>
#include <string>

#include "handle/status_conditions.h"
#include "paloma.h"

namespace {

using paloma::kStatusConditions;
using Condition = paloma::StatusCondition;
constexpr std::size_t kConditionCount = paloma::kStatusConditionCount;

// The text of every byte, made once.
struct StatusTexts {
  std::string text[256];
  StatusTexts() {
    text[0] = "ready";
    for (unsigned b = 1; b < 256; ++b)
      for (const Condition& c : kStatusConditions)
        if (b & c.bit) text[b] += (text[b].empty() ? "" : ", ") + std::string(c.name);
  }
};

}  // namespace

extern "C" {

size_t paloma_status_conditions(uint8_t byte, const char** names, size_t max) {
  size_t count = 0;
  for (const Condition& c : kStatusConditions) {
    if (!(byte & c.bit)) continue;
    if (names && count < max) names[count] = c.name;
    ++count;
  }
  return count;
}

const char* paloma_status_condition(size_t index, uint8_t* bit) {
  if (index >= kConditionCount) return nullptr;
  if (bit) *bit = kStatusConditions[index].bit;
  return kStatusConditions[index].name;
}

const char* paloma_status_text(uint8_t byte) {
  static const StatusTexts texts;
  return texts.text[byte].c_str();
}

}  // extern "C"
