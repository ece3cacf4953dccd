#include "device_link.h"

#include <chrono>
#include <cstring>

#include "paloma_scheme.h"

namespace paloma::printapp {

namespace {

using Clock = std::chrono::steady_clock;

// Reads until `stop` is in the reply, the reply holds `limit` bytes, or
// `timeoutMs` has passed. The framework's device read waits a bounded time
// of its own for each piece.
bool readUntil(pappl_device_t* device, char stop, size_t limit, int timeoutMs,
               std::string* reply) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[256];
  while (reply->size() < limit) {
    if (Clock::now() >= deadline) return false;
    const ssize_t n = papplDeviceRead(device, buffer, sizeof buffer);
    if (n <= 0) return false;
    reply->append(buffer, static_cast<size_t>(n));
    if (reply->find(stop) != std::string::npos) return true;
  }
  return false;
}

bool sendRequest(pappl_device_t* device, const char* request, size_t size) {
  if (papplDeviceWrite(device, request, size) != static_cast<ssize_t>(size)) return false;
  papplDeviceFlush(device);
  return true;
}

}  // namespace

std::string palomaUriOf(const char* deviceUri) {
  if (!deviceUri || std::strncmp(deviceUri, "paloma:", 7) != 0) return {};
  return deviceUri + 7;
}

bool queryStatus(pappl_device_t* device, const char* deviceUri, int timeoutMs, uint8_t* byte) {
  if (!palomaUriOf(deviceUri).empty()) return palomaDeviceStatus(device, timeoutMs, byte);
  static const char kRequest[] = "\x1b!?\r\n";
  if (!sendRequest(device, kRequest, sizeof kRequest - 1)) return false;
  std::string reply;
  // One byte answers; take the first that comes.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char c;
  while (Clock::now() < deadline) {
    const ssize_t n = papplDeviceRead(device, &c, 1);
    if (n == 1) {
      *byte = static_cast<uint8_t>(c);
      return true;
    }
    if (n < 0) return false;
  }
  return false;
}

bool queryDpi(pappl_device_t* device, const char* deviceUri, int timeoutMs, std::string* reply) {
  if (!palomaUriOf(deviceUri).empty()) return palomaDeviceDpi(device, timeoutMs, reply);
  static const char kRequest[] =
      "OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT \"\x02\"\r\n";
  if (!sendRequest(device, kRequest, sizeof kRequest - 1)) return false;
  std::string raw;
  // The answer ends with STX.
  if (!readUntil(device, '\x02', 256, timeoutMs, &raw)) return false;
  const size_t end = raw.find_first_of("\r\n\x02");
  *reply = raw.substr(0, end);
  return !reply->empty();
}

}  // namespace paloma::printapp

