// The parts every command builder shares: the bounded formatter, the content
// quoting rule, the wide-argument conversion, the guards and the sending.
#include "commands/builders.h"
#include "connection/connection_state.h"
#include "connection/text_convert.h"
#include "connection/write_path.h"
#include "platform/last_error.h"

namespace paloma::commands {

namespace {

constexpr std::string_view kPlaceholder = "%s";

// Length of a NUL-terminated text, reading at most `limit` bytes.
std::size_t boundedLength(const char* text, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && text[n] != '\0') ++n;
  return n;
}

bool tooLong(std::size_t capacity) {
  setLastError("the command would be longer than " + std::to_string(capacity - 1) +
               " characters; nothing was sent");
  return false;
}

}  // namespace

bool nullArgument(std::string_view keyword, std::string_view name) {
  if (name.empty())
    setLastError("a text argument is a null pointer");
  else
    setLastError(std::string(keyword) + ": the argument " + std::string(name) +
                 " is a null pointer; nothing was sent");
  return false;
}

bool formatCommand(std::size_t capacity, std::string_view tmpl, const char* const* args,
                   std::size_t count, CommandLines* lines) {
  if (capacity == 0) return false;
  // First pass: measure. Every argument is read at most up to the capacity,
  // so an argument far too long is refused after `capacity` bytes.
  std::size_t total = 0;
  std::size_t placeholders = 0;
  std::size_t pos = 0;
  while ((pos = tmpl.find(kPlaceholder, pos)) != std::string_view::npos) {
    ++placeholders;
    pos += kPlaceholder.size();
  }
  if (placeholders != count) return false;
  total = tmpl.size() - placeholders * kPlaceholder.size();
  if (total >= capacity) return tooLong(capacity);
  std::size_t lengths[32];
  if (count > sizeof lengths / sizeof lengths[0]) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!args[i]) return nullArgument();
    lengths[i] = boundedLength(args[i], capacity);
    total += lengths[i];
    if (total >= capacity) return tooLong(capacity);
  }
  // Second pass: fill.
  std::string line;
  line.reserve(total);
  std::size_t from = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t at = tmpl.find(kPlaceholder, from);
    line.append(tmpl.substr(from, at - from));
    line.append(args[i], lengths[i]);
    from = at + kPlaceholder.size();
  }
  line.append(tmpl.substr(from));
  lines->push_back(std::move(line));
  return true;
}

bool noLineEndInFields(std::string_view keyword, std::size_t capacity, const char* const* args,
                       std::initializer_list<const char*> names) {
  std::size_t i = 0;
  for (const char* name : names) {
    const char* text = args[i++];
    if (!text) return nullArgument(keyword, name);
    const std::size_t n = boundedLength(text, capacity);
    for (std::size_t k = 0; k < n; ++k) {
      if (text[k] == '\r' || text[k] == '\n') {
        setLastError(std::string(keyword) + ": the argument " + name +
                     " holds a line end (CR or LF), which would end the command early; "
                     "nothing was sent");
        return false;
      }
    }
  }
  return true;
}

bool contentIsBare(const char* content) { return content && content[0] == '@'; }

bool isGiven(const char* arg) { return arg && arg[0] != '\0'; }

std::string fieldTemplate(std::string_view keyword, std::size_t bareFields, bool quoteContent) {
  std::string t(keyword);
  t.push_back(' ');
  for (std::size_t i = 0; i < bareFields; ++i) t.append("%s,");
  t.append(quoteContent ? "\"%s\"" : "%s");
  return t;
}

bool narrowWideArgs(const paloma_wchar* const* wide, std::size_t count, std::string* narrow) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!narrowWide(wide[i], kWideArgCapacity, &narrow[i])) return false;
  }
  return true;
}

int sendCommands(const CommandLines& lines) {
  if (lines.empty()) return 0;
  bool allAccepted = true;
  for (const std::string& line : lines) {
    if (sendcommand(line.c_str()) != 1) allAccepted = false;
  }
  if (!allAccepted && connection().isOpen == 0) noteNoTransport();
  return allAccepted ? 1 : 0;
}

bool connectionOpen() {
  if (connection().isOpen != 0) return true;
  noteNoTransport();
  return false;
}

bool connectionOrTransportActive() {
  const ConnectionState& c = connection();
  if (c.isOpen != 0 || c.spoolerMode != 0 || c.lptMode != 0 || c.usbMode != 0 ||
      c.serialMode != 0 || c.networkMode != 0)
    return true;
  noteNoTransport();
  return false;
}

}  // namespace paloma::commands
