#include "platform/message_handler.h"

#include <cstdio>
#include <string>

#include "paloma.h"
#include "platform/api_lock.h"

namespace paloma {
namespace {
paloma_message_handler g_handler = nullptr;
void* g_user = nullptr;
}  // namespace

void deliverMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
  std::string t(text), c(caption);
  if (g_handler) {
    g_handler(t.c_str(), c.c_str(), static_cast<int>(icon), g_user);
    return;
  }
  // A console line goes to standard output as it is; a message to standard
  // error with its caption.
  if (static_cast<int>(icon) == PALOMA_ICON_CONSOLE) {
    std::fprintf(stdout, "%s\n", t.c_str());
    std::fflush(stdout);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
}

}  // namespace paloma

extern "C" paloma_message_handler paloma_set_message_handler(paloma_message_handler handler,
                                                             void* user) {
  paloma::ApiLock lock;
  paloma_message_handler previous = paloma::g_handler;
  paloma::g_handler = handler;
  paloma::g_user = user;
  return previous;
}
