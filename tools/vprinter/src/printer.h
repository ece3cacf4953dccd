// The virtual printer: its state (image buffer, files, counters, settings) and
// the meaning of every command. Replies to queries are handed back as bytes;
// every command is written to the log, with its error if it was malformed.
#ifndef PALOMA_VPRINTER_PRINTER_H
#define PALOMA_VPRINTER_PRINTER_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "canvas.h"
#include "command.h"
#include "json_log.h"
#include "stream_parser.h"
#include "text.h"

namespace vprinter {

struct SymbolContext;  // symbols.h

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
  int maxSetsPerPrint = 10;            // PNGs written by one PRINT at most
  uint64_t maxFileStore = 64ull << 20; // bytes of downloaded files kept
  // Largest image buffer, width times height in dots; 0: what a label of
  // 216 mm x 1000 mm needs at the dpi (the widest and longest real labels).
  uint64_t maxLabelDots = 0;
  // Bytes the label files (PNG and received bytes) in outDir may take; the
  // oldest labels are removed to stay below it. 0: no bound.
  uint64_t maxDisk = 1ull << 30;
  std::string rfidTag = "E280116060000209A1B2C3D4";
};

// One command as the image buffer's history keeps it, for the label cards of
// the preview.
struct DrawnCommand {
  static constexpr size_t kMaxText = 240;  // bytes of `text` kept
  std::string endpoint;      // the stream it came on
  std::string text;          // name and fields as received, control bytes as \xNN
  std::string note, error;
  DotBox box;                // the dots it drew (empty: it drew nothing)
  // What it could not draw (an unknown command, a symbol whose content is a
  // variable) is not burnt into the label: the page outlines `markBox` and
  // writes `markText` in it.
  DotBox markBox;
  std::string markText;
  bool onBuffer() const { return !box.empty() || !markBox.empty(); }
};

// One label as written: for the terminal and the live preview.
struct LabelRecord {
  uint64_t number = 0;
  std::string png;           // path of the PNG
  std::string raw;           // path of the bytes received for its PRINT ("" when none)
  int widthDots = 0, heightDots = 0;
  double widthMm = 0, heightMm = 0;
  int dpi = 0;
  std::string time;          // local time, "2026-12-07 12:00:00"
  std::string endpoint;      // "tcp#3", "serial", "file"
  long long copies = 1;
  uint64_t errors = 0;       // commands with errors since the previous PRINT of the stream
  std::vector<std::string> logLines;  // the log lines of those commands, PRINT last
  // Every command that made the label, whatever stream it came on, PRINT
  // last: the drawings since the buffer was last cleared, the rest since the
  // previous PRINT. `commandsDropped` older ones are only in the log.
  std::vector<DrawnCommand> commands;
  uint64_t commandsDropped = 0;
  double gapMm = 0;          // GAP (or BLINE) distance between labels
  bool blackMark = false;    // the distance is a black mark (BLINE), not a gap
};

// What one stream sent since its last PRINT: the bytes and the log lines that
// make up the next label. Bounded: beyond the bounds the rest is counted.
struct Job {
  static constexpr size_t kMaxRaw = 16u << 20;
  static constexpr size_t kMaxLines = 2000;
  std::string raw;           // bytes from stream offset rawStart on
  uint64_t rawStart = 0;
  uint64_t received = 0;     // stream offset of the next byte to arrive
  bool rawCut = false;       // bytes beyond kMaxRaw were counted, not kept
  bool headMissing = false;  // the first bytes of this job were not kept
  uint64_t commandEnd = 0;   // stream offset just past the command being run
  std::vector<std::string> lines;
  uint64_t linesDropped = 0;
  uint64_t errors = 0;
  // Takes the bytes up to the stream offset `end` for a label; `cut` tells
  // whether some of them were not kept.
  std::string takeRaw(uint64_t end, bool& cut);
  void add(const uint8_t* data, size_t size);
  void clearLines();
};

class Printer {
 public:
  Printer(PrinterOptions options, JsonLog* log);

  // Runs one command (a malformed one is only logged) and appends any reply.
  // Safe to call from several threads: commands run one at a time, except the
  // status requests, which are answered at once even while a label renders.
  // With `job`, the command's log line is kept there for the label it makes.
  void execute(const Command& c, const std::string& endpoint, std::string& reply,
               Job* job = nullptr);
  // Logs a line about an endpoint (connections opened and closed).
  // `peer` ("127.0.0.1:40312"), when given, is logged beside it.
  void event(const std::string& endpoint, const std::string& what, const std::string& peer = "");

  Canvas& canvas() { return canvas_; }
  const PrinterOptions& options() const { return options_; }
  uint8_t status() const { return status_.load(); }
  // Changes what ESC !? and ESC !S answer (a printer running out of paper...).
  void setStatus(uint8_t status);
  // Called after each label file is written (under the printer's lock: keep it short).
  void onLabel(std::function<void(const LabelRecord&)> fn) { onLabel_ = std::move(fn); }
  // Called for each command with an error, with its log line (at most 100 a stream
  // between two PRINTs).
  void onError(std::function<void(const std::string& endpoint, const std::string& line)> fn) {
    onError_ = std::move(fn);
  }
  // Set when the program stops: a PRINT writes no more label sets.
  void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
  // The number the next label file gets: one more than the highest found in
  // outDir at start, so nothing is overwritten.
  uint64_t nextLabelNumber() const { return pngCounter_ + 1; }
  // Bytes of label files in outDir (bounded by maxDisk).
  uint64_t diskUsed() const { return diskUsed_; }
  // What outDir held at start, for a line on the console: the labels of
  // earlier runs (which count toward maxDisk) and the files with label names
  // that this printer did not write (which it never removes). "" when empty.
  const std::string& outDirSummary() const { return outDirSummary_; }
  // The file in outDir that lists the label files this printer wrote, with
  // their sizes: only those are ever removed to keep within maxDisk.
  static constexpr const char* kIndexName = ".paloma-vprinter-labels";
  const std::vector<std::string>& written() const { return written_; }
  const std::map<std::string, std::string>& files() const { return files_; }
  uint64_t labelsPrinted() const { return labelCount_; }
  uint64_t errors() const { return errorCount_.load(); }
  // Commands kept for the next label's card at most; older ones are counted.
  static constexpr size_t kMaxHistory = 2000;
  // The commands the next label's card would list (see LabelRecord::commands).
  std::vector<DrawnCommand> history();
  // A setting as OUT GETSETTING$ answers it ("" when unknown).
  std::string setting(const std::string& app, const std::string& sec, const std::string& key) const;

 private:
  struct Result {
    std::string error, note, reply;
    std::vector<std::string> files;
    long long copies = -1;
    bool ended = false;                 // a PRINT that ends the stream's job
    std::vector<LabelRecord> labels;    // label files written
    DotBox markBox;                     // what could not be drawn, for the page
    std::string markText;
    bool cleared = false;               // the image buffer was cleared
  };
  void remember(const Command& c, const std::string& name, const std::string& endpoint,
                Result& r, const DotBox& drawn);
  // What a command's handler is given.
  struct Call {
    const Command& c;
    const std::string& name;      // upper case
    const std::string& endpoint;
    Job* job;
    Result& r;
  };
  using Handler = void (*)(Printer&, const Call&);
  // The handler of a command, from the command table; an unknown command's
  // when the name is not in it.
  static Handler handlerFor(const std::string& name);
  void doGap(const Command& c, const std::string& name, Result& r);
  void doCls(Result& r);
  void doRfid(const Command& c, Result& r);
  using SymbolDrawer = bool (*)(SymbolContext&, const std::vector<Field>&);
  void doSymbol(const Command& c, const std::string& name, SymbolDrawer draw, Result& r);
  void doSize(const Command& c, Result& r);
  void doPrint(const Command& c, Result& r, Job* job, const std::string& endpoint);
  void scanOutDir();
  void noteIndex(const std::string& line);
  void keepDiskBound(uint64_t newest);
  void runLocked(const Command& c, const std::string& name, const std::string& endpoint,
                 Result& r, Job* job);
  void doText(const Command& c, Result& r);
  void doBitmap(const Command& c, Result& r);
  void doDownload(const Command& c, Result& r);
  void doPut(const Command& c, const std::string& name, Result& r);
  void doOut(const Command& c, Result& r);
  void doEscape(const std::string& name, Result& r);
  void doInfo(const std::string& name, Result& r);
  void doShape(const Command& c, const std::string& name, Result& r);
  void placeholder(const Command& c, const std::string& label, Result& r);
  void restart();
  bool findFile(const std::string& name, std::string& data) const;

  PrinterOptions options_;
  JsonLog* log_;
  std::mutex mutex_;                            // one command at a time
  std::atomic<uint8_t> status_;
  std::atomic<uint64_t> errorCount_{0};
  std::function<void(const LabelRecord&)> onLabel_;
  std::function<void(const std::string&, const std::string&)> onError_;
  const std::atomic<bool>* stop_ = nullptr;
  std::map<uint64_t, std::vector<std::string>> labelFiles_;  // number -> files in outDir
  std::map<std::string, uint64_t> fileBytes_;
  uint64_t diskUsed_ = 0;
  std::string outDirSummary_;
  std::unique_ptr<FILE, int (*)(FILE*)> index_{nullptr, &std::fclose};
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
  int placeholderRow_ = 0;
  std::vector<DrawnCommand> history_;          // the image buffer's, see LabelRecord
  uint64_t historyDropped_ = 0;
  uint64_t errorsSincePrint_ = 0;
  double gapMm_ = 0;
  bool blackMark_ = false;
  bool rfidPending_ = false;
};

// One stream into the printer (a connection, the serial port, a file): its
// parser, and the replies gathered for it.
class Session {
 public:
  Session(Printer& printer, std::string endpoint, ParserLimits limits = {});
  void feed(const uint8_t* data, size_t size) {
    job_.add(data, size);
    parser_.feed(data, size);
  }
  void finish() { parser_.finish(); }
  bool midCommand() const { return parser_.midCommand(); }
  // Replies produced since the last call.
  std::string takeReply();

 private:
  Printer& printer_;
  std::string endpoint_;
  std::string reply_;
  Job job_;
  StreamParser parser_;
};

}  // namespace vprinter

#endif
