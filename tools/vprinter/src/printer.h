// The virtual printer: its state (image buffer, files, counters, settings) and
// the meaning of every command. Replies to queries are handed back as bytes;
// every command is written to the log, with its error if it was malformed.
#ifndef PALOMA_VPRINTER_PRINTER_H
#define PALOMA_VPRINTER_PRINTER_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "canvas.h"
#include "command.h"
#include "json_log.h"
#include "stream_parser.h"
#include "text.h"

namespace vprinter {

struct PrinterOptions {
  int dpi = 203;
  uint8_t status = 0x00;
  std::string name = "PALOMA VP-203";
  std::string serialNumber = "VP20300001";
  std::string codePage = "1252";
  // "APP/SECTION/KEY" (upper case) -> value; "SENSOR/<NAME>" for sensors.
  std::map<std::string, std::string> settings;
  std::string outDir;                  // where labels are written; empty: none
  double defaultWidthMm = 100, defaultHeightMm = 150;
  int maxSetsPerPrint = 100;           // PNGs written by one PRINT at most
  uint64_t maxFileStore = 64ull << 20; // bytes of downloaded files kept
  std::string rfidTag = "E280116060000209A1B2C3D4";
};

class Printer {
 public:
  Printer(PrinterOptions options, JsonLog* log);

  // Runs one command (a malformed one is only logged) and appends any reply.
  void execute(const Command& c, const std::string& endpoint, std::string& reply);
  // Logs a line about an endpoint (connections opened and closed).
  void event(const std::string& endpoint, const std::string& what);

  Canvas& canvas() { return canvas_; }
  const PrinterOptions& options() const { return options_; }
  const std::vector<std::string>& written() const { return written_; }
  const std::map<std::string, std::string>& files() const { return files_; }
  uint64_t labelsPrinted() const { return labelCount_; }
  uint64_t errors() const { return errors_; }
  // A setting as OUT GETSETTING$ answers it ("" when unknown).
  std::string setting(const std::string& app, const std::string& sec, const std::string& key) const;

 private:
  struct Result {
    std::string error, note, reply;
    std::vector<std::string> files;
    long long copies = -1;
  };
  void run(const Command& c, const std::string& name, Result& r);
  void doSize(const Command& c, Result& r);
  void doPrint(const Command& c, Result& r);
  void doText(const Command& c, Result& r);
  void doBitmap(const Command& c, Result& r);
  void doDownload(const Command& c, Result& r);
  void doPut(const Command& c, const std::string& name, Result& r);
  void doOut(const Command& c, Result& r);
  void doEscape(const std::string& name, Result& r);
  void doInfo(const std::string& name, Result& r);
  void doShape(const Command& c, const std::string& name, Result& r);
  void placeholder(const Command& c, const std::string& label);
  void restart();
  bool findFile(const std::string& name, std::string& data) const;

  PrinterOptions options_;
  JsonLog* log_;
  Canvas canvas_;
  std::unique_ptr<TextRenderer> text_;
  double widthMm_, heightMm_;
  std::map<std::string, std::string> files_;   // name -> bytes
  std::map<std::string, bool> flashFiles_;     // name -> kept over a restart
  uint64_t storedBytes_ = 0;
  std::vector<std::string> written_;
  uint64_t pngCounter_ = 0;
  uint64_t labelCount_ = 0;
  double mileageMm_ = 0;
  uint64_t errors_ = 0;
  int placeholderRow_ = 0;
  bool rfidPending_ = false;
};

// One stream into the printer (a connection, the serial port, a file): its
// parser, and the replies gathered for it.
class Session {
 public:
  Session(Printer& printer, std::string endpoint, ParserLimits limits = {});
  void feed(const uint8_t* data, size_t size) { parser_.feed(data, size); }
  void finish() { parser_.finish(); }
  bool midCommand() const { return parser_.midCommand(); }
  // Replies produced since the last call.
  std::string takeReply();

 private:
  Printer& printer_;
  std::string endpoint_;
  std::string reply_;
  StreamParser parser_;
};

}  // namespace vprinter

#endif
