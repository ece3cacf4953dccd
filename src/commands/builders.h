// The command builders of the label command language.
//
// Every builder follows one pattern, written once here:
//
//   1. Guard: the exported function checks the connection (isOpen, or for
//      `restart` and the wireless-LAN commands "isOpen or any mode flag").
//   2. Fields: each argument's text goes verbatim into its field of the
//      command template: no trimming, no escaping of an embedded double quote,
//      no default for an empty text (an empty argument is an empty field).
//   3. Quoting: a field the template writes as \"%s\" is always quoted. Where
//      a command has a quoted and a bare form of its last (content) field, a
//      content whose first byte is '@' (a printer variable or counter) goes
//      bare and any other content, the empty one included, in double quotes.
//   3a. Line ends: an argument holding CR or LF is refused (nothing is sent,
//      the result is 0, the last error names the argument); the printer
//      would end the command there.
//   4. Bounded formatting: the command is formatted into a buffer of the
//      capacity its function states (NUL included). A command that needs the
//      whole capacity or more is refused: nothing is sent, the result is 0. A
//      command is never truncated.
//   5. Sending: the exported function hands each formatted line to
//      `sendcommand`, which appends the line end. It returns 1 only when every
//      line it sent was accepted.
//
// Formatting is kept apart from sending. The `format...` functions below are
// pure: they read no connection state, send nothing, and either fill `out`
// with the finished command lines (without line ends, in sending order) and
// return true, or empty `out` and return false. A null string argument is
// refused (false) before any memory is read; a text argument is read only up
// to the command's capacity, so a very long argument costs no more than a
// short one. The single-connection functions send the lines with
// `sendCommands`; the printer-slot twins send the same lines to a slot, so
// both always put the same bytes on the wire.
//
// The wide (UTF-16) functions narrow each argument with `narrowWideArgs`
// (each unit U+0000..U+00FF becomes the byte of the same value; a unit above
// U+00FF, or a text of more than 255 bytes, refuses the call) and then format
// exactly as their 8-bit twins.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "paloma.h"

namespace paloma::commands {

// The command lines of one builder call, without line ends, in sending order.
using CommandLines = std::vector<std::string>;

// The fixed commands.
inline constexpr const char* kRfidDetectCommand = "RFIDDETECT\r\n";
inline constexpr const char* kWlanDefaultCommand = "WLAN DEFAULT";

// The restart bytes: ESC '!' 'R' CR and a zero byte (five bytes), sent
// through sendBinaryData, which adds its own line end.
inline constexpr unsigned char kRestartBytes[5] = {0x1B, 0x21, 0x52, 0x0D, 0x00};

// ---- the pattern's parts ----------------------------------------------------

// The bounded formatter. Replaces each "%s" of `tmpl` by the next argument,
// verbatim, and appends the result to `lines`. Refuses (false, `lines`
// unchanged) when an argument is null, when the number of "%s" and of
// arguments differ, or when the command would need `capacity` bytes or more
// with its NUL. Arguments are read only up to `capacity` bytes.
bool formatCommand(std::size_t capacity, std::string_view tmpl, const char* const* args,
                   std::size_t count, CommandLines* lines);
inline bool formatCommand(std::size_t capacity, std::string_view tmpl,
                          std::initializer_list<const char*> args, CommandLines* lines) {
  return formatCommand(capacity, tmpl, args.begin(), args.size(), lines);
}

// The printer ends every command at its line end, so a field can never hold
// CR or LF: one that did would end the command early and make the rest of
// the text a command of its own. True when no argument holds either byte
// (each is read at most up to `capacity` bytes) and none is a null pointer.
// Otherwise false, with the last error naming the first such argument by
// its name in `names` and the command by `keyword`.
bool noLineEndInFields(std::string_view keyword, std::size_t capacity, const char* const* args,
                       std::initializer_list<const char*> names);
inline bool noLineEndInFields(std::string_view keyword, std::size_t capacity,
                              std::initializer_list<const char*> args,
                              std::initializer_list<const char*> names) {
  return noLineEndInFields(keyword, capacity, args.begin(), names);
}

// The content quoting rule: true when the content goes into the bare field
// (its first byte is '@'). False for an empty or null content.
bool contentIsBare(const char* content);

// True when an optional argument is given: not null and not empty.
bool isGiven(const char* arg);

// A template of `keyword`, a space, `bareFields` bare "%s" fields and a last
// content field, quoted or bare, all separated by commas: for example
// fieldTemplate("AZTEC", 3, true) is "AZTEC %s,%s,%s,\"%s\"".
std::string fieldTemplate(std::string_view keyword, std::size_t bareFields, bool quoteContent);

// Narrows `count` UTF-16 arguments, each into its own 256-byte working
// buffer. False when any is null, holds a unit above U+00FF or does not fit.
bool narrowWideArgs(const paloma_wchar* const* wide, std::size_t count, std::string* narrow);

// Hands each line to sendcommand, in order; every line is attempted. Returns
// 1 when there is at least one line and sendcommand accepted every one,
// else 0.
int sendCommands(const CommandLines& lines);

// True when a connection is open (isOpen). The guard of most builders.
// Both guards record why when they refuse.
bool connectionOpen();
// True when isOpen or any transport mode flag is set: the guard of restart
// and of the wireless-LAN commands.
bool connectionOrTransportActive();

// Records that a text argument was a null pointer; returns false.
bool nullArgument(std::string_view keyword = {}, std::string_view name = {});

// The single-connection builder: 0 unless a connection is open, 0 when
// `format` refuses, else the lines it made sent with sendCommands.
template <typename Format>
int sendFormatted(Format format) {
  if (!connectionOpen()) return 0;
  CommandLines lines;
  if (!format(&lines)) return 0;
  return sendCommands(lines);
}

// ---- page setup and job control (one or more lines each) --------------------

// Four lines: "SIZE %s mm,%s mm", "SPEED %s", "DENSITY %s" and
// "BLINE %s mm,%s mm" when the first byte of `sensor` is '1', otherwise
// "GAP %s mm,%s mm". All four are formatted (100 bytes each) before any is
// returned; if one does not fit, none is.
bool formatSetup(const char* width, const char* height, const char* speed, const char* density,
                 const char* sensor, const char* gap, const char* offset, CommandLines* out);
// "CLS".
bool formatClearBuffer(CommandLines* out);
// "FORMFEED".
bool formatFormFeed(CommandLines* out);
// "SET STRIPER OFF", then "SET TEAR OFF".
bool formatNoBackFeed(CommandLines* out);
// "PRINT %s,%s" (50 bytes).
bool formatPrintLabel(const char* sets, const char* copies, CommandLines* out);

// ---- text and linear barcodes -----------------------------------------------

// "TEXT %s,%s,\"%s\",%s,%s,%s,\"%s\"", content bare when it begins with '@'
// (500 bytes).
bool formatPrinterFont(const char* x, const char* y, const char* font, const char* rotation,
                       const char* xmul, const char* ymul, const char* content,
                       CommandLines* out);
// "BARCODE %s,%s,\"%s\",%s,%s,%s,%s,%s,\"%s\"": field 3 always quoted, the
// content by the quoting rule (1024 bytes).
bool formatBarcode(const char* x, const char* y, const char* type, const char* height,
                   const char* readable, const char* rotation, const char* narrow,
                   const char* wide, const char* content, CommandLines* out);
// As formatBarcode with one more bare field before the content.
bool formatBarcodeComplete(const char* x, const char* y, const char* type, const char* height,
                           const char* readable, const char* rotation, const char* narrow,
                           const char* wide, const char* extra, const char* content,
                           CommandLines* out);
// "RSS ..." with field 7 only when `extra` is given (100 bytes). In the
// seven-field form an '@' content is bare only when the type name sorts at or
// before "RSSEXP" in byte order.
bool formatRss(const char* x, const char* y, const char* type, const char* rotation,
               const char* moduleWidth, const char* separatorHeight, const char* extra,
               const char* content, CommandLines* out);

// ---- two-dimensional symbols (optional arguments: empty = not given) --------

// `args` holds the function's arguments in order, the content last.
bool formatQrcode(const char* const args[9], CommandLines* out);
bool formatDmatrix(const char* const args[8], CommandLines* out);
bool formatAztec(const char* const args[10], CommandLines* out);
// False (no command) for a mode other than '2'..'5', and for mode '5' with
// any of arguments 4 to 6 given.
bool formatMaxicode(const char* const args[7], CommandLines* out);
bool formatPdf417(const char* const args[18], CommandLines* out);

// ---- RFID and wireless LAN --------------------------------------------------

// "RFID READ,%s,%s,%s,%s,%s,\"\"\r\n" (the line end is part of the command).
bool formatRfidRead(const char* const args[5], CommandLines* out);
// "RFID WRITE,%s,%s,%s,%s,%s,\"%s\"\r\n".
bool formatRfidWrite(const char* const args[6], CommandLines* out);
bool formatWlanDhcp(CommandLines* out);                                   // "WLAN DHCP"
bool formatWlanPort(int port, CommandLines* out);                         // "WLAN PORT %d"
bool formatWlanSsid(const char* ssid, CommandLines* out);                 // "WLAN SSID \"%s\""
bool formatWlanStaticIp(const char* ip, const char* mask, const char* gateway,
                        CommandLines* out);  // "WLAN IP \"%s\", \"%s\", \"%s\""
bool formatWlanWep(int index, const char* key, CommandLines* out);        // "WLAN WEP %d,\"%s\""
bool formatWlanWpa(const char* key, CommandLines* out);                   // "WLAN WPA \"%s\""

}  // namespace paloma::commands
