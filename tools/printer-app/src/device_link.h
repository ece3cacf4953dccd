// Queries of a printer: the status byte and the dpi. A socket:// printer is
// asked over a short connection of its own through the library (tcp://); a
// paloma: device asks through its own PALOMA handle.
#ifndef PALOMA_PRINTAPP_DEVICE_LINK_H
#define PALOMA_PRINTAPP_DEVICE_LINK_H

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace paloma::printapp {

// The status byte the printer answers to ESC "!?"; false when it did not
// answer within `timeoutMs`.
bool queryStatus(pappl_device_t* device, const char* deviceUri, int timeoutMs, uint8_t* byte);
// The printer's dpi as the text it answers ("203"); false when it did not.
bool queryDpi(pappl_device_t* device, const char* deviceUri, int timeoutMs, std::string* reply);

// Registers the paloma: scheme (serial ports, USB printers, spooler queues
// and TCP printers through the PALOMA library).
void addPalomaScheme();

// The PALOMA URI inside a "paloma:" device URI ("paloma:tcp://h:9100" ->
// "tcp://h:9100"); empty when `deviceUri` is not one.
std::string palomaUriOf(const char* deviceUri);
// The library's URI of a socket:// device ("socket://h:9100/x?y" ->
// "tcp://h:9100"); empty when it is none the library opens.
std::string tcpUriOfSocket(const char* deviceUri);

}  // namespace paloma::printapp

#endif
