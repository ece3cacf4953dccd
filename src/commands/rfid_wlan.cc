// RFID commands (rfidDetect, rfidRead, rfidWrite) and the printer's
// wireless-LAN settings (WiFi_*).
//
// The RFID templates end in CR LF of their own and sendcommand adds another,
// so each RFID command goes out followed by two line ends; the printer
// accepts the empty line.
#include <string>

#include "commands/builders.h"
#include "platform/os.h"
#include "platform/api_lock.h"

namespace paloma::commands {

namespace {

// Capacity of the command text, in bytes with the terminating NUL
// (rfidRead/Write, WiFi_*).
constexpr std::size_t kRfidWlanCapacity = 1024;

// How long the printer needs to write a tag before the next command.
constexpr int kRfidWritePauseMs = 500;

}  // namespace

bool formatRfidRead(const char* const args[5], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("RFID READ", kRfidWlanCapacity, args, {"a1", "a2", "a3", "a4", "a5"}))
    return false;
  return formatCommand(kRfidWlanCapacity, "RFID READ,%s,%s,%s,%s,%s,\"\"\r\n",
                       {args[0], args[1], args[2], args[3], args[4]}, out);
}

bool formatRfidWrite(const char* const args[6], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("RFID WRITE", kRfidWlanCapacity, args,
                         {"a1", "a2", "a3", "a4", "a5", "data"}))
    return false;
  // The data field is always quoted, whatever its first character.
  return formatCommand(kRfidWlanCapacity, "RFID WRITE,%s,%s,%s,%s,%s,\"%s\"\r\n",
                       {args[0], args[1], args[2], args[3], args[4], args[5]}, out);
}

bool formatWlanDhcp(CommandLines* out) {
  out->clear();
  return formatCommand(kRfidWlanCapacity, "WLAN DHCP", {}, out);
}

bool formatWlanPort(int port, CommandLines* out) {
  out->clear();
  std::string decimal = std::to_string(port);
  return formatCommand(kRfidWlanCapacity, "WLAN PORT %s", {decimal.c_str()}, out);
}

bool formatWlanSsid(const char* ssid, CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("WLAN SSID", kRfidWlanCapacity, {ssid}, {"ssid"})) return false;
  return formatCommand(kRfidWlanCapacity, "WLAN SSID \"%s\"", {ssid}, out);
}

bool formatWlanStaticIp(const char* ip, const char* mask, const char* gateway,
                        CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("WLAN IP", kRfidWlanCapacity, {ip, mask, gateway},
                         {"ip", "mask", "gateway"}))
    return false;
  return formatCommand(kRfidWlanCapacity, "WLAN IP \"%s\", \"%s\", \"%s\"",
                       {ip, mask, gateway}, out);
}

bool formatWlanWep(int index, const char* key, CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("WLAN WEP", kRfidWlanCapacity, {key}, {"key"})) return false;
  std::string decimal = std::to_string(index);
  return formatCommand(kRfidWlanCapacity, "WLAN WEP %s,\"%s\"", {decimal.c_str(), key}, out);
}

bool formatWlanWpa(const char* key, CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("WLAN WPA", kRfidWlanCapacity, {key}, {"key"})) return false;
  return formatCommand(kRfidWlanCapacity, "WLAN WPA \"%s\"", {key}, out);
}

}  // namespace paloma::commands

using namespace paloma::commands;

namespace {

// The wireless-LAN guard: refused only when neither isOpen nor any transport
// flag is set. sendcommand then decides whether the line is written.
int sendWlan(bool formatted, const CommandLines& lines) {
  if (!formatted) return 0;
  if (!connectionOrTransportActive()) return 0;
  return sendCommands(lines);
}

}  // namespace

extern "C" {

int rfidDetect(void) { paloma::ApiLock lock; return sendcommand(kRfidDetectCommand) == 1 ? 1 : 0; }

int rfidRead(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5) {
  paloma::ApiLock lock;
  const char* args[5] = {a1, a2, a3, a4, a5};
  CommandLines lines;
  if (!formatRfidRead(args, &lines)) return 0;
  return sendCommands(lines);
}

int rfidWrite(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
              const char* data) {
  paloma::ApiLock lock;
  const char* args[6] = {a1, a2, a3, a4, a5, data};
  CommandLines lines;
  if (!formatRfidWrite(args, &lines)) return 0;
  int result = sendCommands(lines);
  // The pause follows every attempt, also one that was not written.
  paloma::os().sleepMs(kRfidWritePauseMs);
  return result;
}

int WiFi_DHCP(void) {
  paloma::ApiLock lock;
  CommandLines lines;
  bool ok = formatWlanDhcp(&lines);
  return sendWlan(ok, lines);
}

int WiFi_Port(int port) {
  paloma::ApiLock lock;
  CommandLines lines;
  bool ok = formatWlanPort(port, &lines);
  return sendWlan(ok, lines);
}

int WiFi_SSID(const char* ssid) {
  paloma::ApiLock lock;
  CommandLines lines;
  bool ok = formatWlanSsid(ssid, &lines);
  return sendWlan(ok, lines);
}

int WiFi_StaticIP(const char* ip, const char* mask, const char* gateway) {
  paloma::ApiLock lock;
  CommandLines lines;
  bool ok = formatWlanStaticIp(ip, mask, gateway, &lines);
  return sendWlan(ok, lines);
}

int WiFi_WEP(int index, const char* key) {
  paloma::ApiLock lock;
  CommandLines lines;
  bool ok = formatWlanWep(index, key, &lines);
  return sendWlan(ok, lines);
}

int WiFi_WPA(const char* key) {
  paloma::ApiLock lock;
  CommandLines lines;
  bool ok = formatWlanWpa(key, &lines);
  return sendWlan(ok, lines);
}

int WiFi_Default(void) {
  paloma::ApiLock lock;
  if (!connectionOrTransportActive()) return 0;
  // The reset command, then a restart so that it takes effect; both are
  // attempted, and the result is 1 only when both were accepted.
  int reset = sendcommand(kWlanDefaultCommand);
  int restarted = sendBinaryData(kRestartBytes, sizeof kRestartBytes);
  return reset == 1 && restarted == 1 ? 1 : 0;
}

}  // extern "C"
