// What the tool says about the printer's answers: status words and exit
// codes, cleaned information values, the discovery answer's fields, JSON
// text, and the progress line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "target.h"

namespace paloma_cli {

// Exit codes. A status other than ready exits with the code of its first
// condition in bit order (head open first); a byte with several conditions
// does the same, so that a script testing one condition's code sees it
// whenever that condition is the first that holds.
enum Exit : int {
  kExitOk = 0,
  kExitFailed = 1,        // a connection, file or write failed
  kExitUsage = 2,         // the command line is wrong
  kExitNoReply = 3,       // the printer did not answer a query
  kExitUnknownStatus = 4, // the printer's "unknown condition" bit (0x40)
  kExitHeadOpen = 10,
  kExitPaperJam = 11,
  kExitPaperEmpty = 12,
  kExitRibbonEmpty = 13,
  kExitPaused = 14,
  kExitPrinting = 15,
  kExitOtherError = 16,
};

struct StatusReport {
  std::string words;                    // "ready", "head open, paper empty", "no reply"
  std::optional<std::uint8_t> byte;     // the printer's byte; none when it did not answer
  std::vector<std::string> conditions;  // the byte's conditions in bit order (empty: ready)
  int exitCode = kExitOk;
};

// The printer's status byte in the library's words, its conditions and the
// exit code.
StatusReport describeStatus(std::uint8_t byte);
// A status query the printer did not answer.
StatusReport noStatusReply();
// "05": the byte as two uppercase hex digits.
std::string statusCode(std::uint8_t byte);

// `value` as it goes into JSON where a number is expected: the number as it
// is when it is one (JSON's syntax: "203", "-1.5"), else a string.
std::string jsonNumberOrString(std::string_view value);

// An information reply without its framing (STX, ETX, CR, LF, NUL, blanks at
// either end); nothing when the printer did not answer ("-1" or empty).
std::optional<std::string> cleanReply(std::string_view reply);

// The fields of a discovery answer of the form "...;name=NAME;tcp=PORT;"
// (text up to the first NUL). A field is present only when the answer
// carries it in a usable form: a name not empty (%XX decoded, control bytes
// shown as '?'), a port 1..65535.
struct AnswerFields {
  std::optional<std::string> name;
  std::optional<int> tcpPort;
};
AnswerFields parseAnswer(const unsigned char* bytes, std::size_t n);


// A printer's text made safe for a terminal: C0 controls, DEL and bytes that
// are no UTF-8 show as \xNN, C1 controls written in UTF-8 as \uNNNN, so
// that no escape sequence from a printer reaches the terminal.
std::string terminalText(std::string_view text);

// A JSON string literal of `text` (quotes included); bytes that are not
// UTF-8 become U+FFFD; C0 and C1 controls are escaped.
std::string jsonString(std::string_view text);

// "[#####.....]  45%  1.2 MB of 2.6 MB  3.4 MB/s  0:02 left", fitting `width`
// columns.
std::string progressLine(std::uint64_t done, std::uint64_t total, double seconds, int width);
// 1234567 -> "1.2 MB".
std::string humanBytes(double bytes);

// The picture or document format the first bytes of a file show ("PNG",
// "JPEG", "GIF", "BMP", "TIFF", "WebP", "PDF", "PostScript", "PNM"), or
// nothing for anything else (label commands among it).
std::optional<std::string> pictureOrDocument(const unsigned char* bytes, std::size_t n);

// A length on the label in dots: "120" (dots), "25mm", "1.5in" at `dpi`
// dots per inch, rounded to the nearest dot. Nothing for other text or a
// length outside 0..max dots.
std::optional<long> lengthInDots(const std::string& text, double dpi, long max);

}  // namespace paloma_cli
