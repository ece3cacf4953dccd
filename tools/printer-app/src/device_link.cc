#include "device_link.h"

#include <paloma.h>

#include <cstring>

#include "paloma_scheme.h"

namespace paloma::printapp {

namespace {

// Queries for a socket:// printer go over a connection of their own through
// the library, so that the reply bound holds (the framework's device read
// waits 10 s for a silent printer) and the job's connection carries only
// the job.
template <typename Query>
bool onSideConnection(const char* deviceUri, int timeoutMs, Query query) {
  const std::string uri = tcpUriOfSocket(deviceUri);
  if (uri.empty()) return false;
  paloma_set_connect_timeout(nullptr, timeoutMs);
  paloma_printer* printer = nullptr;
  if (paloma_open(uri.c_str(), &printer) != PALOMA_OK) return false;
  paloma_set_reply_timeout(printer, timeoutMs);
  paloma_set_stall_timeout(printer, timeoutMs);
  const bool ok = query(printer);
  paloma_close(printer);
  return ok;
}

}  // namespace

std::string palomaUriOf(const char* deviceUri) {
  if (!deviceUri || std::strncmp(deviceUri, "paloma:", 7) != 0) return {};
  return deviceUri + 7;
}

std::string tcpUriOfSocket(const char* deviceUri) {
  if (!deviceUri || std::strncmp(deviceUri, "socket://", 9) != 0) return {};
  std::string hostPort(deviceUri + 9);
  hostPort = hostPort.substr(0, hostPort.find_first_of("/?#"));
  if (hostPort.empty() || hostPort.find_first_of("@[") != std::string::npos) return {};
  return "tcp://" + hostPort;
}

bool queryStatus(pappl_device_t* device, const char* deviceUri, int timeoutMs, uint8_t* byte) {
  if (!palomaUriOf(deviceUri).empty()) return palomaDeviceStatus(device, timeoutMs, byte);
  return onSideConnection(deviceUri, timeoutMs, [byte](paloma_printer* p) {
    return paloma_status(p, byte) == PALOMA_OK;
  });
}

bool queryDpi(pappl_device_t* device, const char* deviceUri, int timeoutMs, std::string* reply) {
  if (!palomaUriOf(deviceUri).empty()) return palomaDeviceDpi(device, timeoutMs, reply);
  return onSideConnection(deviceUri, timeoutMs, [reply](paloma_printer* p) {
    char buffer[64];
    if (paloma_info(p, "dpi", buffer, sizeof buffer) != PALOMA_OK) return false;
    *reply = buffer;
    return !reply->empty();
  });
}

}  // namespace paloma::printapp
