// The paloma: device scheme: "paloma:" followed by a PALOMA URI
// (tcp://HOST[:PORT], serial:/dev/ttyUSB0?baud=9600, usb:, usb:SERIAL,
// queue:NAME, ...), opened, written and asked through the PALOMA library's
// printer handles.
#ifndef PALOMA_PRINTAPP_PALOMA_SCHEME_H
#define PALOMA_PRINTAPP_PALOMA_SCHEME_H

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace paloma::printapp {

bool palomaDeviceStatus(pappl_device_t* device, int timeoutMs, uint8_t* byte);
bool palomaDeviceDpi(pappl_device_t* device, int timeoutMs, std::string* reply);

}  // namespace paloma::printapp

#endif
