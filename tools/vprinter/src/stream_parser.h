// Cuts a byte stream into commands of the label command language.
//
// A command is one line ended by CR or LF (the SDK ends lines with CR LF, CR LF
// NUL over the network, and some queries with LF then a blank, or LF CR). NUL
// bytes, line ends and blanks between commands are skipped. ESC "!" and one
// more byte is a command of its own, taken at once without a line end (status
// request, framed status, restart). "BITMAP x,y,w,h,m," and
// "DOWNLOAD [m,]"name",size," are followed by a binary payload of the
// announced size, counted, not delimited.
//
// The parser is incremental: bytes may arrive in pieces of any size, split
// anywhere. Lines and payloads are bounded; what exceeds a bound is reported as
// a command with an error and skipped, so the stream stays in step.
#ifndef PALOMA_VPRINTER_STREAM_PARSER_H
#define PALOMA_VPRINTER_STREAM_PARSER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "command.h"

namespace vprinter {

struct ParserLimits {
  size_t maxLine = 1u << 20;             // longest command line kept (bytes)
  uint64_t maxBitmap = 32ull << 20;      // largest BITMAP payload kept
  uint64_t maxDownload = 64ull << 20;    // largest DOWNLOAD payload kept
};

class StreamParser {
 public:
  using Sink = std::function<void(Command&&)>;

  StreamParser(Sink sink, ParserLimits limits = {});

  void feed(const uint8_t* data, size_t size);
  // The stream ended (closed, or idle too long): a line without end or a payload
  // that did not arrive whole is reported with an error. The parser is then
  // ready for a new stream, offsets counting on.
  void finish();

  uint64_t offset() const { return offset_; }
  // True while a command or payload is half received.
  bool midCommand() const { return state_ != State::LineStart; }

 private:
  enum class State { LineStart, Line, Esc, EscBang, Payload, SkipPayload, DiscardLine };

  void endLine();
  bool checkPayloadHeader();  // called after a comma outside quotes
  void emit(Command&& c);

  Sink sink_;
  ParserLimits limits_;
  State state_ = State::LineStart;
  uint64_t offset_ = 0;       // offset of the next byte
  uint64_t start_ = 0;        // offset of the current command
  std::string line_;
  bool inQuote_ = false;
  int commasOutside_ = 0;
  // What the line's name makes it, found at its first comma outside quotes.
  enum class Kind { Unknown, Other, Bitmap, Download } kind_ = Kind::Unknown;
  Command pending_;           // a command whose payload is arriving
  uint64_t remaining_ = 0;
};

}  // namespace vprinter

#endif
