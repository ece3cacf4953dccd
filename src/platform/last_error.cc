#include "platform/last_error.h"

#include <atomic>

#include "paloma.h"
#include "platform/message_handler.h"
#include "platform/os.h"

namespace paloma {
namespace {

struct LastError {
  std::string text;
  int code = 0;
};

LastError& lastError() {
  thread_local LastError e;
  return e;
}

std::atomic<int> g_logLevel{PALOMA_LOG_MESSAGES};

}  // namespace

void setLastError(std::string text, int osError) {
  LastError& e = lastError();
  e.text = std::move(text);
  e.code = osError;
}

void setLastOsError(std::string_view what, int osError) {
  std::string text(what);
  text += ": ";
  text += osError != 0 ? os().osErrorText(osError) : std::string("failed");
  setLastError(std::move(text), osError);
}

bool debugEnabled() { return g_logLevel.load(std::memory_order_relaxed) >= PALOMA_LOG_DEBUG; }

void debugMessage(std::string_view text) {
  if (g_logLevel.load(std::memory_order_relaxed) >= PALOMA_LOG_DEBUG)
    deliverMessage(text, "Debug", static_cast<MessageIcon>(PALOMA_ICON_DEBUG));
}

}  // namespace paloma

extern "C" {

const char* paloma_last_error(void) { return paloma::lastError().text.c_str(); }

int paloma_last_error_code(void) { return paloma::lastError().code; }

void paloma_clear_error(void) {
  paloma::lastError().text.clear();
  paloma::lastError().code = 0;
}

int paloma_set_log_level(int level) {
  if (level < PALOMA_LOG_MESSAGES) level = PALOMA_LOG_MESSAGES;
  if (level > PALOMA_LOG_DEBUG) level = PALOMA_LOG_DEBUG;
  return paloma::g_logLevel.exchange(level);
}

}  // extern "C"
