// Page setup and job control: setup, clearbuffer, formfeed, nobackfeed,
// printlabel, printlabelW, restart.
#include "commands/builders.h"
#include "platform/api_lock.h"

namespace paloma::commands {

namespace {

// Capacities of the command text, in bytes with the terminating NUL.
constexpr std::size_t kSetupCapacity = 100;  // each of setup's four commands
constexpr std::size_t kPrintLabelCapacity = 50;

constexpr const char* kClearBufferCommand = "CLS";
constexpr const char* kFormFeedCommand = "FORMFEED";
constexpr const char* kStriperOffCommand = "SET STRIPER OFF";
constexpr const char* kTearOffCommand = "SET TEAR OFF";

}  // namespace

bool formatSetup(const char* width, const char* height, const char* speed, const char* density,
                 const char* sensor, const char* gap, const char* offset, CommandLines* out) {
  out->clear();
  if (!sensor) return nullArgument("setup", "sensor");
  if (!noLineEndInFields("setup", kSetupCapacity, {width, height, speed, density, gap, offset},
                         {"width", "height", "speed", "density", "gap", "offset"}))
    return false;
  // Only the first byte chooses: "1", "10" and "1x" mean a black line.
  const char* keyword = sensor[0] == '1' ? "BLINE" : "GAP";
  bool ok = formatCommand(kSetupCapacity, "SIZE %s mm,%s mm", {width, height}, out) &&
            formatCommand(kSetupCapacity, "SPEED %s", {speed}, out) &&
            formatCommand(kSetupCapacity, "DENSITY %s", {density}, out) &&
            formatCommand(kSetupCapacity, "%s %s mm,%s mm", {keyword, gap, offset}, out);
  // A refused line leaves none of the others behind.
  if (!ok) out->clear();
  return ok;
}

bool formatClearBuffer(CommandLines* out) {
  *out = {kClearBufferCommand};
  return true;
}

bool formatFormFeed(CommandLines* out) {
  *out = {kFormFeedCommand};
  return true;
}

bool formatNoBackFeed(CommandLines* out) {
  *out = {kStriperOffCommand, kTearOffCommand};
  return true;
}

bool formatPrintLabel(const char* sets, const char* copies, CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("PRINT", kPrintLabelCapacity, {sets, copies}, {"sets", "copies"}))
    return false;
  return formatCommand(kPrintLabelCapacity, "PRINT %s,%s", {sets, copies}, out);
}

}  // namespace paloma::commands

using namespace paloma::commands;

extern "C" {

int setup(const char* width, const char* height, const char* speed, const char* density,
          const char* sensor, const char* gap, const char* offset) {
  paloma::ApiLock lock;
  // All four commands are formatted before any is sent, so the printer never
  // gets half a page setup.
  return sendFormatted([&](CommandLines* l) {
    return formatSetup(width, height, speed, density, sensor, gap, offset, l);
  });
}

int clearbuffer(void) { paloma::ApiLock lock; return sendFormatted(formatClearBuffer); }
int formfeed(void) { paloma::ApiLock lock; return sendFormatted(formatFormFeed); }
int nobackfeed(void) { paloma::ApiLock lock; return sendFormatted(formatNoBackFeed); }

int printlabel(const char* sets, const char* copies) {
  paloma::ApiLock lock;
  return sendFormatted([&](CommandLines* l) { return formatPrintLabel(sets, copies, l); });
}

int printlabelW(const paloma_wchar* sets, const paloma_wchar* copies) {
  paloma::ApiLock lock;
  if (!connectionOpen()) return 0;
  const paloma_wchar* wide[2] = {sets, copies};
  std::string narrow[2];
  if (!narrowWideArgs(wide, 2, narrow)) return 0;
  return printlabel(narrow[0].c_str(), narrow[1].c_str());
}

int restart(void) {
  paloma::ApiLock lock;
  // A wider guard than the other builders: a transport flag that outlived
  // its connection is enough to try.
  if (!connectionOrTransportActive()) return 0;
  return sendBinaryData(kRestartBytes, sizeof kRestartBytes);
}

}  // extern "C"
