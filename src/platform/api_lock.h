// The library's one lock. Every exported function takes it first thing, so
// calls made from several threads run one after another, each whole: no two
// threads share the command buffer, the reply buffers or a connection's
// socket at once. It is recursive because exported functions call one
// another (a builder calls sendcommand, a string read calls ComportSendData)
// and because a message handler may call the library on the calling thread.
#pragma once

#include <mutex>

namespace paloma {

// The process-wide recursive mutex behind ApiLock.
std::recursive_mutex& apiMutex();

// Holds the library lock for the lifetime of the guard.
class ApiLock {
 public:
  ApiLock() { apiMutex().lock(); }
  ~ApiLock() { apiMutex().unlock(); }
  ApiLock(const ApiLock&) = delete;
  ApiLock& operator=(const ApiLock&) = delete;
};

}  // namespace paloma
