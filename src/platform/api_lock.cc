#include "platform/api_lock.h"

namespace paloma {

std::recursive_mutex& apiMutex() {
  // Never destroyed: a thread still inside the library while the process
  // exits must not find the lock gone.
  static auto* m = new std::recursive_mutex;
  return *m;
}

}  // namespace paloma
