// One command of the label command language as the virtual printer received it.
#ifndef PALOMA_VPRINTER_COMMAND_H
#define PALOMA_VPRINTER_COMMAND_H

#include <cstdint>
#include <string>
#include <vector>

namespace vprinter {

// A field between commas. `quoted` fields arrived in double quotes; `text` is
// what stood between them. `raw` is the field as it stood on the wire (quotes
// included, surrounding blanks trimmed), which is what the log shows.
struct Field {
  std::string raw;
  std::string text;
  bool quoted = false;
};

struct Command {
  uint64_t offset = 0;      // byte offset of the command's first byte in its stream
  std::string name;         // "TEXT", "SET", "~!T", "ESC !?", ...
  std::string args;         // everything after the name and its blank, as received
  std::vector<Field> fields;
  std::string payload;      // BITMAP rows or DOWNLOAD file bytes
  uint64_t payloadAnnounced = 0;
  bool hasPayload = false;
  std::string error;        // set when the command is malformed; it is then not executed
};

// Splits `args` at commas outside double quotes. Returns false (and sets
// `error`) when a quote is left open; the fields are still filled.
bool splitFields(const std::string& args, std::vector<Field>& fields, std::string& error);

// Parses a whole decimal integer (optional sign, surrounding blanks allowed).
bool parseInt(const std::string& text, long long& value);
// Parses a decimal number with an optional fraction ("2.5").
bool parseNumber(const std::string& text, double& value);

}  // namespace vprinter

#endif
