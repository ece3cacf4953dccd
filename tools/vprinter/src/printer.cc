#include "printer.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <utility>

#include "images.h"
#include "symbols.h"

namespace vprinter {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kCrLf[] = "\r\n";

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// A whole-number field, kept within +-1e9 so coordinate arithmetic cannot overflow.
bool fieldInt(const Command& c, size_t i, long long& v) {
  if (i >= c.fields.size() || !parseInt(c.fields[i].text, v)) return false;
  v = std::clamp(v, -1000000000LL, 1000000000LL);
  return true;
}

std::string hex2(uint8_t b) {
  static const char* digits = "0123456789ABCDEF";
  return std::string{digits[b >> 4], digits[b & 15]};
}

// "100 mm", "4" (inches), "800 dot" -> millimetres.
bool parseLength(const std::string& text, int dpi, double& mm) {
  std::string t = trim(text);
  double factor = 25.4;  // inches without a unit
  std::string lower = t;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  auto strip = [&](const char* unit) {
    size_t n = std::char_traits<char>::length(unit);
    if (lower.size() >= n && lower.compare(lower.size() - n, n, unit) == 0) {
      t = trim(t.substr(0, t.size() - n));
      return true;
    }
    return false;
  };
  if (strip("mm")) factor = 1;
  else if (strip("dot")) factor = 1 / std::round(dpi / 25.4);  // whole dots, as the buffer counts them
  else if (strip("in")) factor = 25.4;
  double v = 0;
  if (!parseNumber(t, v) || v <= 0) return false;
  mm = v * factor;
  return true;
}

}  // namespace

Printer::Printer(PrinterOptions options, JsonLog* log)
    : options_(std::move(options)),
      log_(log),
      status_(options_.status),
      text_(std::make_unique<TextRenderer>()) {
  options_.dpi = std::clamp(options_.dpi, 100, 1200);
  if (options_.maxLabelDots == 0) {
    double dotsPerMm = std::round(options_.dpi / 25.4);
    options_.maxLabelDots = static_cast<uint64_t>(std::lround(216 * dotsPerMm)) *
                            static_cast<uint64_t>(std::lround(1000 * dotsPerMm));
  }
  if (!options_.outDir.empty()) scanOutDir();
  widthMm_ = options_.defaultWidthMm;
  heightMm_ = options_.defaultHeightMm;
  double dotsPerMm = std::round(options_.dpi / 25.4);
  canvas_.reset(static_cast<int>(std::lround(widthMm_ * dotsPerMm)),
                static_cast<int>(std::lround(heightMm_ * dotsPerMm)));
}

std::string Printer::setting(const std::string& app, const std::string& sec,
                             const std::string& key) const {
  std::string k = upper(app) + "/" + upper(sec) + "/" + upper(key);
  auto it = options_.settings.find(k);
  if (it != options_.settings.end()) return it->second;
  if (k == "SYSTEM/INFORMATION/DPI") return std::to_string(options_.dpi);
  if (k == "SYSTEM/INFORMATION/MODEL") return options_.name;
  if (k == "SYSTEM/INFORMATION/SERIAL") return options_.serialNumber;
  if (k == "SYSTEM/INFORMATION/CODEPAGE") return options_.codePage;
  return std::string();
}

void Printer::event(const std::string& endpoint, const std::string& what, const std::string& peer) {
  if (!log_) return;
  JsonObject o;
  o.add("endpoint", endpoint).add("event", what);
  if (!peer.empty()) o.add("peer", peer);
  log_->write(o);
}

void Printer::setStatus(uint8_t status) { status_.store(status); }

void Printer::execute(const Command& c, const std::string& endpoint, std::string& reply,
                      Job* job) {
  Result r;
  std::string name = upper(c.name);
  // The status byte is answered without waiting for a label another stream
  // is rendering, as a printer answers it while it prints.
  bool statusRequest = name == "ESC !?" || name == "ESC !S";
  std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
  if (!statusRequest) lock.lock();
  DotBox drawn;
  if (c.error.empty()) {
    if (!statusRequest) canvas_.takeDrawn();
    handlerFor(name)(*this, Call{c, name, endpoint, job, r});
    std::string drawError;
    if (!statusRequest && !canvas_.recover(drawError) && r.error.empty()) r.error = drawError;
    if (!statusRequest) drawn = canvas_.takeDrawn();
  }
  reply += r.reply;
  bool failed = !c.error.empty() || !r.error.empty();
  if (failed) ++errorCount_;
  if (!statusRequest) remember(c, name, endpoint, r, drawn);
  if (job && failed) ++job->errors;
  bool tellError = failed && onError_ && (!job || job->errors <= 100);
  if (!log_ && !job && !tellError && r.labels.empty()) return;
  JsonObject o;
  o.add("endpoint", endpoint);
  o.add("offset", static_cast<long long>(c.offset));
  o.add("command", c.name);
  std::vector<std::string> raw;
  for (const Field& f : c.fields) raw.push_back(f.raw);
  if (name == "OUT" || name.rfind("ESC", 0) == 0 || name.rfind("~!", 0) == 0) {
    if (!c.args.empty()) o.add("args", c.args);
  } else {
    o.add("fields", raw);
  }
  if (c.hasPayload) {
    o.add("payload_bytes", static_cast<long long>(c.payload.size()));
    o.add("payload_announced", static_cast<long long>(c.payloadAnnounced));
  }
  if (!r.reply.empty()) o.add("reply", r.reply);
  if (!r.files.empty()) o.add("files", r.files);
  if (r.copies >= 0) o.add("copies", r.copies);
  if (!r.note.empty()) o.add("note", r.note);
  if (!c.error.empty()) o.add("error", c.error);
  else if (!r.error.empty()) o.add("error", r.error);
  if (log_) log_->write(o);
  std::string line = o.str();
  if (tellError) onError_(endpoint, line);
  if (job) {
    if (job->lines.size() < Job::kMaxLines) {
      job->lines.push_back(line);
    } else {
      ++job->linesDropped;
    }
  }
  if (!r.ended) return;
  for (LabelRecord& label : r.labels) {
    label.commands = history_;
    label.commandsDropped = historyDropped_;
    label.errors = errorsSincePrint_;
    label.gapMm = gapMm_;
    label.blackMark = blackMark_;
    if (job) {
      label.logLines = job->lines;
      if (job->linesDropped) {
        label.logLines.insert(label.logLines.begin(),
                              "{\"note\":\"" + std::to_string(job->linesDropped) +
                                  " earlier log lines of this label are only in the log file\"}");
      }
    }
    if (onLabel_) onLabel_(label);
  }
  if (job) job->clearLines();
  // What is still on the buffer stays for the next label; the rest was this one's.
  errorsSincePrint_ = 0;
  historyDropped_ = 0;
  history_.erase(std::remove_if(history_.begin(), history_.end(),
                                [](const DrawnCommand& d) { return !d.onBuffer(); }),
                 history_.end());
}

namespace {

// The command as received, readable: control bytes as \xNN, cut at kMaxText
// bytes (not inside a UTF-8 sequence).
std::string commandText(const Command& c) {
  std::string t = c.name;
  if (!c.args.empty()) t += " " + c.args;
  std::string out;
  for (char ch : t) {
    auto b = static_cast<unsigned char>(ch);
    if (b < 0x20 || b == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += ch;
    }
    if (out.size() > DrawnCommand::kMaxText) break;
  }
  if (out.size() > DrawnCommand::kMaxText) {
    size_t n = DrawnCommand::kMaxText;
    while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80) --n;
    out.resize(n);
    out += "\u2026";
  }
  if (c.hasPayload) out += " + " + std::to_string(c.payload.size()) + " bytes";
  return out;
}

}  // namespace

std::vector<DrawnCommand> Printer::history() {
  std::lock_guard<std::mutex> lock(mutex_);
  return history_;
}

void Printer::remember(const Command& c, const std::string& name, const std::string& endpoint,
                       Result& r, const DotBox& drawn) {
  bool failed = !c.error.empty() || !r.error.empty();
  if (failed) ++errorsSincePrint_;
  // Queries leave the label as it was; only a failed one belongs to its story.
  bool query = name == "OUT" || name.rfind("ESC", 0) == 0 || name.rfind("~!", 0) == 0;
  if (query && !failed && !r.cleared) return;
  if (r.cleared) {
    // Its drawings are gone with the buffer; what set the label up stays.
    history_.erase(std::remove_if(history_.begin(), history_.end(),
                                  [](const DrawnCommand& d) { return d.onBuffer(); }),
                   history_.end());
  }
  DrawnCommand d;
  d.endpoint = endpoint;
  d.text = commandText(c);
  d.note = r.note;
  d.error = c.error.empty() ? r.error : c.error;
  d.box = drawn;
  d.markBox = r.markBox;
  d.markText = r.markText;
  if (history_.size() >= kMaxHistory) {
    history_.erase(history_.begin());
    ++historyDropped_;
  }
  history_.push_back(std::move(d));
}

Printer::Handler Printer::handlerFor(const std::string& name) {
  // The command table: a command's name (upper case) to what it does. The
  // ESC ! requests and the ~! queries are families, one handler each.
  static const std::unordered_map<std::string, Handler> kCommands = [] {
    const Handler accept = [](Printer&, const Call& k) { k.r.note = "accepted"; };
    const Handler shape = [](Printer& p, const Call& k) { p.doShape(k.c, k.name, k.r); };
    const Handler put = [](Printer& p, const Call& k) { p.doPut(k.c, k.name, k.r); };
    const Handler gap = [](Printer& p, const Call& k) { p.doGap(k.c, k.name, k.r); };
    const Handler oneNumber = [](Printer&, const Call& k) {
      double v = 0;
      if (k.c.fields.size() != 1 || !parseNumber(k.c.fields[0].text, v)) {
        k.r.error = k.name + " needs one number";
      }
    };
    std::unordered_map<std::string, Handler> t = {
        {"SIZE", [](Printer& p, const Call& k) { p.doSize(k.c, k.r); }},
        {"GAP", gap},
        {"BLINE", gap},
        {"SPEED", oneNumber},
        {"DENSITY", oneNumber},
        {"CLS", [](Printer& p, const Call& k) { p.doCls(k.r); }},
        {"FORMFEED", [](Printer&, const Call& k) { k.r.note = "one blank label fed"; }},
        {"TEXT", [](Printer& p, const Call& k) { p.doText(k.c, k.r); }},
        {"BITMAP", [](Printer& p, const Call& k) { p.doBitmap(k.c, k.r); }},
        {"DOWNLOAD", [](Printer& p, const Call& k) { p.doDownload(k.c, k.r); }},
        {"PUTBMP", put},
        {"PUTPCX", put},
        {"OUT", [](Printer& p, const Call& k) { p.doOut(k.c, k.r); }},
        {"ESC !", [](Printer& p, const Call& k) { p.doEscape(k.name, k.r); }},
        {"~!", [](Printer& p, const Call& k) { p.doInfo(k.name, k.r); }},
        {"BAR", shape},
        {"BOX", shape},
        {"ERASE", shape},
        {"REVERSE", shape},
        {"RFID", [](Printer& p, const Call& k) { p.doRfid(k.c, k.r); }},
        {"BARCODE", [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawBarcode, k.r); }},
        {"RSS", [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawRss, k.r); }},
        {"QRCODE", [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawQrcode, k.r); }},
        {"DMATRIX", [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawDmatrix, k.r); }},
        {"AZTEC", [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawAztec, k.r); }},
        {"MAXICODE",
         [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawMaxicode, k.r); }},
        {"PDF417", [](Printer& p, const Call& k) { p.doSymbol(k.c, k.name, drawPdf417, k.r); }},
        {"PRINT", [](Printer& p, const Call& k) { p.doPrint(k.c, k.r, k.job, k.endpoint); }},
    };
    // Taken and logged; nothing to draw or answer.
    for (const char* name : {"SET", "DIRECTION", "REFERENCE", "OFFSET", "SHIFT", "CODEPAGE",
                             "COUNTRY", "HOME", "KILL", "EOP", "SELFTEST", "RFIDDETECT", "WLAN"}) {
      t.emplace(name, accept);
    }
    return t;
  }();
  std::string key = name;
  if (name.rfind("ESC !", 0) == 0) key = "ESC !";
  else if (name.rfind("~!", 0) == 0) key = "~!";
  auto it = kCommands.find(key);
  if (it != kCommands.end()) return it->second;
  return [](Printer& p, const Call& k) {
    k.r.error = "unknown command";
    p.placeholder(k.c, k.c.name, k.r);
  };
}

void Printer::doGap(const Command& c, const std::string& name, Result& r) {
  bool ok = c.fields.size() == 2;
  double distance = 0;
  for (size_t i = 0; ok && i < 2; ++i) {
    std::string t = trim(c.fields[i].text);
    if (t.size() >= 2 && upper(t.substr(t.size() - 2)) == "MM") t = trim(t.substr(0, t.size() - 2));
    double v = 0;
    ok = parseNumber(t, v) && v >= 0;
    if (ok && i == 0 && v > 0) ok = parseLength(c.fields[0].text, options_.dpi, v);
    if (i == 0) distance = v;
  }
  if (!ok) {
    r.error = name + " needs two lengths (\"d mm,o mm\")";
    return;
  }
  r.note = "media sensing only";
  if (distance <= 1000) {
    gapMm_ = distance;
    blackMark_ = name == "BLINE";
  }
}

void Printer::doCls(Result& r) {
  canvas_.clear();
  placeholderRow_ = 0;
  r.cleared = true;
}

void Printer::doRfid(const Command& c, Result& r) {
  std::string op = c.fields.empty() ? std::string() : upper(trim(c.fields[0].text));
  if (op == "READ") {
    rfidPending_ = true;
    r.note = "tag read; its data is sent before the next OUT reply";
  } else if (op == "WRITE") {
    r.note = "tag written";
  } else {
    r.note = "accepted";
  }
}

void Printer::doSymbol(const Command& c, const std::string& name, SymbolDrawer draw, Result& r) {
  SymbolContext ctx{canvas_.cr(), text_.get(), options_.dpi, {}, {}};
  if (!draw(ctx, c.fields)) {
    r.error = ctx.error;
    bool variable = r.error.empty() && !c.fields.empty();
    placeholder(c, variable ? name + " " + c.fields.back().text : name, r);
  }
  r.note = ctx.note;
}

void Printer::doSize(const Command& c, Result& r) {
  double w = 0, h = heightMm_;
  if (c.fields.empty() || c.fields.size() > 2 || !parseLength(c.fields[0].text, options_.dpi, w) ||
      (c.fields.size() == 2 && !parseLength(c.fields[1].text, options_.dpi, h))) {
    r.error = "SIZE needs a width and a height (\"w mm,h mm\")";
    return;
  }
  if (w > 2000 || h > 2000) {
    r.error = "SIZE larger than 2000 mm";
    return;
  }
  widthMm_ = w;
  heightMm_ = h;
  double dotsPerMm = std::round(options_.dpi / 25.4);
  int wd = std::max(1, static_cast<int>(std::lround(w * dotsPerMm)));
  int hd = std::max(1, static_cast<int>(std::lround(h * dotsPerMm)));
  if (static_cast<uint64_t>(wd) * static_cast<uint64_t>(hd) > options_.maxLabelDots) {
    r.error = "SIZE of " + std::to_string(wd) + " x " + std::to_string(hd) +
              " dots is more than the printer takes (" + std::to_string(options_.maxLabelDots) +
              " dots, --max-label-dots); the image buffer is unchanged";
    return;
  }
  if (wd != canvas_.width() || hd != canvas_.height()) {
    r.cleared = true;
    if (!canvas_.reset(wd, hd)) {
      r.error = "no memory for an image buffer of " + std::to_string(wd) + " x " +
                std::to_string(hd) + " dots";
      return;
    }
  }
  r.note = "image buffer " + std::to_string(wd) + " x " + std::to_string(hd) + " dots";
}

void Printer::doPrint(const Command& c, Result& r, Job* job, const std::string& endpoint) {
  long long sets = 0, copies = 1;
  if (c.fields.empty() || c.fields.size() > 2 || !fieldInt(c, 0, sets) ||
      (c.fields.size() == 2 && !fieldInt(c, 1, copies)) || sets < 1 || copies < 1) {
    r.error = "PRINT needs label sets and copies as whole numbers of at least 1 (\"PRINT m,n\")";
    return;
  }
  r.copies = copies;
  r.ended = true;
  long long toWrite = std::min<long long>(sets, options_.maxSetsPerPrint);
  if (toWrite < sets) {
    r.note = "only the first " + std::to_string(toWrite) + " of " + std::to_string(sets) +
             " label sets written (--max-sets); " + std::to_string(sets - toWrite) + " not drawn";
  }
  labelCount_ += static_cast<uint64_t>(sets) * static_cast<uint64_t>(copies);
  mileageMm_ += heightMm_ * static_cast<double>(sets) * static_cast<double>(copies);
  std::string received;
  bool receivedCut = false;
  if (job) {
    received = job->takeRaw(job->commandEnd, receivedCut);
  }
  if (options_.outDir.empty()) return;
  std::string rawPath;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  for (long long i = 0; i < toWrite; ++i) {
    if (stop_ && stop_->load()) {
      r.note = "the printer stopped: " + std::to_string(i) + " of " + std::to_string(sets) +
               " label sets written";
      break;
    }
    uint64_t number = ++pngCounter_;
    char nameBuf[64];
    std::snprintf(nameBuf, sizeof nameBuf, "/label-%06llu.png",
                  static_cast<unsigned long long>(number));
    std::string path = options_.outDir + nameBuf;
    std::string err;
    if (!canvas_.writePng(path, err)) {
      r.error = err;
      return;
    }
    std::vector<std::string> files{path};
    if (job && i == 0) {
      std::snprintf(nameBuf, sizeof nameBuf, "/label-%06llu.prn",
                    static_cast<unsigned long long>(number));
      std::string candidate = options_.outDir + nameBuf;
      if (FILE* f = std::fopen(candidate.c_str(), "wb")) {
        bool ok = std::fwrite(received.data(), 1, received.size(), f) == received.size();
        ok = std::fclose(f) == 0 && ok;
        if (ok) {
          rawPath = candidate;
          files.push_back(rawPath);
        } else {
          ::unlink(candidate.c_str());
        }
      }
      if (receivedCut) r.note += std::string(r.note.empty() ? "" : "; ") +
                                 "the received bytes kept with the label are cut at " +
                                 std::to_string(Job::kMaxRaw) + " bytes";
    }
    labelFiles_[number] = files;
    for (const std::string& f : files) {
      struct stat st{};
      uint64_t bytes = ::stat(f.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
      fileBytes_[f] = bytes;
      diskUsed_ += bytes;
      noteIndex(f.substr(f.rfind('/') + 1) + " " + std::to_string(bytes));
    }
    r.files.push_back(path);
    written_.push_back(path);
    LabelRecord label;
    label.number = number;
    label.png = path;
    label.raw = rawPath;
    label.widthDots = canvas_.width();
    label.heightDots = canvas_.height();
    label.widthMm = widthMm_;
    label.heightMm = heightMm_;
    label.dpi = options_.dpi;
    label.time = when;
    label.endpoint = endpoint;
    label.copies = copies;
    keepDiskBound(number);
    if (labelFiles_.count(number) == 0) {
      r.error = "label " + std::to_string(number) + " alone is more than --max-disk (" +
                std::to_string(options_.maxDisk) + " bytes); it was not kept";
      return;
    }
    r.labels.push_back(std::move(label));
  }
}

void Printer::keepDiskBound(uint64_t newest) {
  if (options_.maxDisk == 0) return;
  // The oldest labels go first; the newest goes only when it alone is too big.
  while (diskUsed_ > options_.maxDisk && !labelFiles_.empty()) {
    auto oldest = labelFiles_.begin();
    if (oldest->first == newest && labelFiles_.size() > 1) break;
    for (const std::string& f : oldest->second) {
      ::unlink(f.c_str());
      noteIndex("-" + f.substr(f.rfind('/') + 1));
      auto b = fileBytes_.find(f);
      if (b != fileBytes_.end()) {
        diskUsed_ -= std::min(diskUsed_, b->second);
        fileBytes_.erase(b);
      }
    }
    if (log_) {
      JsonObject o;
      o.add("event", "label " + std::to_string(oldest->first) +
                         " removed to keep the labels within --max-disk");
      log_->write(o);
    }
    labelFiles_.erase(oldest);
  }
}

void Printer::noteIndex(const std::string& line) {
  if (!index_) return;
  std::fprintf(index_.get(), "%s\n", line.c_str());
  std::fflush(index_.get());
}

namespace {

// "label-<digits>.png" or ".prn": the label number, or 0 for any other name.
uint64_t labelNumberOf(const char* n) {
  if (std::strncmp(n, "label-", 6) != 0) return 0;
  const char* digits = n + 6;
  size_t len = std::strspn(digits, "0123456789");
  if (len == 0 || len > 18) return 0;
  std::string ext = digits + len;
  if (ext != ".png" && ext != ".prn") return 0;
  return std::strtoull(std::string(digits, len).c_str(), nullptr, 10);
}

}  // namespace

// The labels this printer wrote in earlier runs are those its index lists
// with the size they had: only they count toward --max-disk and may be
// removed. Any other file with a label's name (a user's, or one changed
// since) is left alone; its number is still skipped, so it is never
// overwritten either.
void Printer::scanOutDir() {
  const std::string indexPath = options_.outDir + "/" + kIndexName;
  std::map<std::string, uint64_t> listed;
  if (FILE* in = std::fopen(indexPath.c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, in)) {
      std::string l(line);
      while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
      if (!l.empty() && l[0] == '-') {
        listed.erase(l.substr(1));
        continue;
      }
      size_t space = l.find(' ');
      if (space == std::string::npos) continue;
      std::string name = l.substr(0, space);
      if (labelNumberOf(name.c_str()) == 0) continue;
      listed[name] = std::strtoull(l.c_str() + space + 1, nullptr, 10);
    }
    std::fclose(in);
  }
  uint64_t ownCount = 0, otherCount = 0, otherBytes = 0;
  std::map<std::string, uint64_t> kept;
  if (DIR* d = ::opendir(options_.outDir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const char* n = e->d_name;
      uint64_t number = labelNumberOf(n);
      if (number == 0) continue;
      std::string path = options_.outDir + "/" + n;
      struct stat st{};
      if (::lstat(path.c_str(), &st) != 0) continue;
      pngCounter_ = std::max(pngCounter_, number);
      auto it = listed.find(n);
      if (S_ISREG(st.st_mode) && it != listed.end() &&
          it->second == static_cast<uint64_t>(st.st_size)) {
        labelFiles_[number].push_back(path);
        fileBytes_[path] = static_cast<uint64_t>(st.st_size);
        diskUsed_ += static_cast<uint64_t>(st.st_size);
        kept[n] = static_cast<uint64_t>(st.st_size);
        ++ownCount;
      } else {
        ++otherCount;
        otherBytes += S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
      }
    }
    ::closedir(d);
  }
  // The index again, with what is still there: written aside, then moved
  // over the old one.
  const std::string fresh = indexPath + ".new";
  if (FILE* out = std::fopen(fresh.c_str(), "w")) {
    bool ok = true;
    for (const auto& [name, bytes] : kept)
      ok = std::fprintf(out, "%s %llu\n", name.c_str(), static_cast<unsigned long long>(bytes)) > 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (!ok || ::rename(fresh.c_str(), indexPath.c_str()) != 0) ::unlink(fresh.c_str());
  }
  index_.reset(std::fopen(indexPath.c_str(), "a"));
  if (ownCount || otherCount) {
    outDirSummary_ = options_.outDir + " already holds ";
    if (ownCount)
      outDirSummary_ += std::to_string(ownCount) + " label file(s) of earlier runs (" +
                        std::to_string(diskUsed_) + " bytes, counted toward --max-disk)";
    if (ownCount && otherCount) outDirSummary_ += " and ";
    if (otherCount)
      outDirSummary_ += std::to_string(otherCount) + " file(s) with label names (" +
                        std::to_string(otherBytes) +
                        " bytes) this printer did not write: they are left alone";
  }
}

void Printer::doText(const Command& c, Result& r) {
  long long x = 0, y = 0, rot = 0;
  double xm = 0, ym = 0;
  if (c.fields.size() != 7 || !fieldInt(c, 0, x) || !fieldInt(c, 1, y) || !fieldInt(c, 3, rot) ||
      !parseNumber(c.fields[4].text, xm) || !parseNumber(c.fields[5].text, ym)) {
    r.error = "TEXT needs x,y,\"font\",rotation,x-multiplier,y-multiplier,content";
    placeholder(c, "TEXT", r);
    return;
  }
  const Field& font = c.fields[2];
  if (!font.quoted) r.note = "font name not quoted";
  const Field& content = c.fields[6];
  std::string text = content.text;
  if (!content.quoted) {
    if (!text.empty() && text[0] == '@') {
      r.note = "content is the variable " + text + "; its name is drawn";
    } else {
      r.error = "content neither quoted nor a variable";
    }
  }
  double cw = 0, ch = 0;
  bool bitmapFont = TextRenderer::fontCell(font.text, cw, ch);
  if (bitmapFont) {
    if (xm < 1 || xm > 10 || ym < 1 || ym > 10) {
      r.error = "multipliers of a printer font are 1 to 10";
      xm = std::clamp(xm, 1.0, 10.0);
      ym = std::clamp(ym, 1.0, 10.0);
    }
  } else {
    if (xm <= 0 || ym <= 0 || xm > 500 || ym > 500) {
      r.error = "point sizes of a scalable font are above 0 and at most 500";
      return;
    }
    if (font.text != "0") r.note = "font \"" + font.text + "\" drawn with a sans face";
  }
  long long rotation = ((rot % 360) + 360) % 360;
  if (rotation % 90 != 0) {
    r.error = "rotation is 0, 90, 180 or 270";
    rotation = 0;
  }
  text_->drawText(canvas_.cr(), static_cast<double>(x), static_cast<double>(y), font.text,
                  static_cast<int>(rotation), xm, ym, toUtf8(text), options_.dpi);
}

void Printer::doBitmap(const Command& c, Result& r) {
  long long v[5] = {0, 0, 0, 0, 0};
  bool ok = c.hasPayload && c.fields.size() == 5;
  for (size_t i = 0; ok && i < 5; ++i) ok = fieldInt(c, i, v[i]);
  if (!ok || v[2] < 0 || v[3] < 0 ||
      c.payload.size() != static_cast<uint64_t>(v[2]) * static_cast<uint64_t>(v[3])) {
    r.error = "BITMAP needs x,y,width in bytes,height,mode, then a comma and the rows";
    placeholder(c, "BITMAP", r);
    return;
  }
  long long mode = v[4];
  if (mode < 0 || mode > 2) {
    r.error = "BITMAP mode is 0 (overwrite), 1 (OR) or 2 (XOR); drawn as 0";
    mode = 0;
  }
  canvas_.blitBits(v[0], v[1], v[2], v[3], static_cast<int>(mode),
                   reinterpret_cast<const uint8_t*>(c.payload.data()));
  r.note = std::to_string(v[2] * 8) + " x " + std::to_string(v[3]) + " dots";
}

void Printer::doDownload(const Command& c, Result& r) {
  if (!c.hasPayload) {
    r.error = "DOWNLOAD without a size: expected DOWNLOAD [memory,]\"name\",size, and the bytes";
    return;
  }
  bool withMemory = c.fields.size() == 3;
  const std::string& name = c.fields[withMemory ? 1 : 0].text;
  std::string memory = withMemory ? upper(trim(c.fields[0].text)) : std::string();
  if (name.empty()) {
    r.error = "DOWNLOAD with an empty name";
    return;
  }
  auto old = files_.find(name);
  uint64_t without = storedBytes_ - (old != files_.end() ? old->second.size() : 0);
  if (without + c.payload.size() > options_.maxFileStore) {
    r.error = "file store full (" + std::to_string(options_.maxFileStore) + " bytes)";
    return;
  }
  storedBytes_ = without + c.payload.size();
  files_[name] = c.payload;
  flashFiles_[name] = memory == "F" || memory == "E";
  std::string u = upper(name);
  if (u.size() > 4 && u.compare(u.size() - 4, 4, ".BAS") == 0) {
    r.note = "command file stored; it is not run";
  } else {
    r.note = "stored " + std::to_string(c.payload.size()) + " bytes" +
             (memory.empty() ? std::string() : " in memory " + memory);
  }
}

bool Printer::findFile(const std::string& name, std::string& data) const {
  auto it = files_.find(name);
  if (it == files_.end()) {
    std::string u = upper(name);
    for (auto f = files_.begin(); f != files_.end(); ++f) {
      if (upper(f->first) == u) {
        it = f;
        break;
      }
    }
  }
  if (it == files_.end()) return false;
  data = it->second;
  return true;
}

void Printer::doPut(const Command& c, const std::string& name, Result& r) {
  long long x = 0, y = 0;
  if (c.fields.size() < 3 || !fieldInt(c, 0, x) || !fieldInt(c, 1, y)) {
    r.error = name + " needs x,y,\"name\"";
    placeholder(c, name, r);
    return;
  }
  std::string data;
  if (!findFile(c.fields[2].text, data)) {
    r.error = "no downloaded file named \"" + c.fields[2].text + "\"";
    placeholder(c, name + " " + c.fields[2].text, r);
    return;
  }
  InkImage img;
  std::string err;
  bool ok = name == "PUTBMP" ? decodeBmp(data, img, err) : decodePcx(data, img, err);
  if (!ok) {
    r.error = err;
    placeholder(c, name + " " + c.fields[2].text, r);
    return;
  }
  canvas_.blitInk(x, y, img.width, img.height, img.ink.data());
  r.note = std::to_string(img.width) + " x " + std::to_string(img.height) + " dots";
}

void Printer::doShape(const Command& c, const std::string& name, Result& r) {
  long long v[5] = {0, 0, 0, 0, 1};
  size_t need = name == "BOX" ? 5 : 4;
  bool ok = c.fields.size() >= need;
  for (size_t i = 0; ok && i < need; ++i) ok = fieldInt(c, i, v[i]);
  if (!ok) {
    r.error = name + " needs " + std::to_string(need) + " whole numbers";
    placeholder(c, name, r);
    return;
  }
  cairo_t* cr = canvas_.cr();
  cairo_save(cr);
  if (name == "BOX") {
    double t = static_cast<double>(std::max(1LL, v[4]));
    cairo_rectangle(cr, v[0], v[1], v[2] - v[0], t);
    cairo_rectangle(cr, v[0], v[3] - t, v[2] - v[0], t);
    cairo_rectangle(cr, v[0], v[1], t, v[3] - v[1]);
    cairo_rectangle(cr, v[2] - t, v[1], t, v[3] - v[1]);
    fillNoted(cr);
  } else {
    if (name == "ERASE") cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    if (name == "REVERSE") cairo_set_operator(cr, CAIRO_OPERATOR_XOR);
    cairo_rectangle(cr, v[0], v[1], v[2], v[3]);
    fillNoted(cr);
  }
  cairo_restore(cr);
}

void Printer::placeholder(const Command& c, const std::string& label, Result& r) {
  long long x = 0, y = 0;
  double px = std::max(12.0, std::round(options_.dpi * 0.1));
  std::string text = label;
  for (char& ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
  }
  if (text.size() > 60) text.resize(60);
  text = toUtf8(text);
  if (!(fieldInt(c, 0, x) && fieldInt(c, 1, y))) {
    x = 4;
    y = 4 + placeholderRow_ * static_cast<long long>(px + 12);
    ++placeholderRow_;
  }
  // The page outlines it over the label; the label itself is what the
  // printer would print, which is nothing here.
  double w = text_->measurePlain(px, text) + 10;
  r.markBox.x = static_cast<int>(std::clamp(x, -1000000LL, 1000000LL));
  r.markBox.y = static_cast<int>(std::clamp(y, -1000000LL, 1000000LL));
  r.markBox.w = static_cast<int>(std::ceil(w));
  r.markBox.h = static_cast<int>(px + 10);
  r.markText = text;
}

void Printer::restart() {
  canvas_.clear();
  placeholderRow_ = 0;
  for (auto it = files_.begin(); it != files_.end();) {
    if (!flashFiles_[it->first]) {
      storedBytes_ -= it->second.size();
      flashFiles_.erase(it->first);
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  rfidPending_ = false;
}

void Printer::doEscape(const std::string& name, Result& r) {
  char op = name.size() > 5 ? name[5] : '\0';
  switch (op) {
    case '?':
      r.reply.push_back(static_cast<char>(status_.load()));
      return;
    case 'S':
      r.reply.push_back(kStx);
      r.reply += hex2(status_.load());
      r.reply.push_back(kEtx);
      return;
    case 'R':
      restart();
      r.cleared = true;
      r.note = "restarted: image buffer and files in volatile memory cleared";
      return;
    case 'C':
    case 'D':
    case 'P':
    case 'O':
    case '.':
      r.note = "accepted";
      return;
    default:
      r.error = "unknown ESC ! request";
      return;
  }
}

void Printer::doInfo(const std::string& name, Result& r) {
  char op = name.size() > 2 ? name[2] : '\0';
  switch (op) {
    case 'T':
      r.reply = options_.name + kCrLf;
      return;
    case 'I':
      r.reply = options_.codePage + kCrLf;
      return;
    case 'F':
      for (const auto& f : files_) r.reply += f.first + kCrLf;
      r.reply += kCrLf;
      return;
    case 'A': {
      uint64_t freeBytes = options_.maxFileStore - storedBytes_;
      r.reply = std::to_string(freeBytes) + kCrLf;
      return;
    }
    case '@': {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.4f", mileageMm_ / 1e6);
      r.reply = std::string(buf) + kCrLf;
      return;
    }
    default:
      r.error = "unknown ~! request";
      return;
  }
}

namespace {

// Splits "a","b","c" inside a function call.
std::vector<std::string> callArgs(const std::string& inside, bool& ok) {
  std::vector<Field> f;
  std::string err;
  ok = splitFields(inside, f, err);
  std::vector<std::string> out;
  for (const Field& x : f) {
    if (!x.quoted) ok = false;
    out.push_back(x.text);
  }
  return out;
}

}  // namespace

void Printer::doOut(const Command& c, Result& r) {
  std::string e = trim(c.args);
  std::string eu = upper(e);
  std::string value;
  bool raw = false;  // a control byte is sent alone, without a line end
  auto call = [&](const char* fn, std::string& inside) {
    size_t n = std::char_traits<char>::length(fn);
    if (eu.compare(0, n, fn) != 0) return false;
    std::string rest = trim(e.substr(n));
    if (rest.size() < 2 || rest.front() != '(' || rest.back() != ')') return false;
    inside = rest.substr(1, rest.size() - 2);
    return true;
  };
  std::string inside;
  if (e.size() >= 2 && e.front() == '"' && e.back() == '"') {
    value = e.substr(1, e.size() - 2);
    raw = value.size() == 1 && static_cast<unsigned char>(value[0]) < 0x20;
  } else if (call("CHR$", inside)) {
    long long n = 0;
    if (!parseInt(inside, n) || n < 0 || n > 255) {
      r.error = "CHR$ needs a number from 0 to 255";
      return;
    }
    value = std::string(1, static_cast<char>(n));
    raw = true;
  } else if (call("GETSETTING$", inside)) {
    bool ok = false;
    std::vector<std::string> a = callArgs(inside, ok);
    if (!ok || a.size() != 3) {
      r.error = "GETSETTING$ needs three quoted texts";
      return;
    }
    value = setting(a[0], a[1], a[2]);
    if (value.empty()) r.note = "no such setting; answered with an empty line";
  } else if (call("GETSENSOR", inside)) {
    bool ok = false;
    std::vector<std::string> a = callArgs(inside, ok);
    if (!ok || a.size() != 1) {
      r.error = "GETSENSOR needs one quoted sensor name";
      return;
    }
    auto it = options_.settings.find("SENSOR/" + upper(a[0]));
    value = it != options_.settings.end() ? it->second : "0";
  } else if (eu == "@LABEL") {
    value = std::to_string(labelCount_);
  } else if (eu == "_SERIAL$") {
    value = options_.serialNumber;
  } else if (eu == "_MODEL$") {
    value = options_.name;
  } else {
    long long n = 0;
    if (!parseInt(e, n)) {
      r.error = "OUT of an expression this printer does not evaluate";
      return;
    }
    value = e;
  }
  if (rfidPending_ && !raw) {
    r.reply += options_.rfidTag + kCrLf;
    rfidPending_ = false;
  }
  r.reply += value;
  if (!raw) r.reply += kCrLf;
}

std::string Job::takeRaw(uint64_t end, bool& cut) {
  // The line end that came with the command belongs to it; one still to
  // come is skipped at the start of the next label.
  uint64_t keptEnd = rawStart + raw.size();
  while (end < keptEnd && end >= rawStart) {
    char c = raw[static_cast<size_t>(end - rawStart)];
    if (c != '\r' && c != '\n' && c != '\0') break;
    ++end;
  }
  size_t n = static_cast<size_t>(end > rawStart ? std::min<uint64_t>(end - rawStart, raw.size()) : 0);
  std::string out = raw.substr(0, n);
  cut = headMissing || (rawCut && end > keptEnd);
  headMissing = false;
  if (end >= keptEnd) {
    raw.clear();
    if (rawCut) {
      // Bytes past the bound were counted, not kept: the next label starts
      // with what arrives from now on.
      headMissing = received > end;
      rawStart = received;
      rawCut = false;
    } else {
      rawStart = end;
    }
  } else {
    raw.erase(0, n);
    rawStart = end;
  }
  return out;
}

void Job::add(const uint8_t* data, size_t size) {
  received += size;
  if (rawCut) return;  // kept bytes stay contiguous
  if (raw.empty()) {
    // Line ends between labels start none.
    while (size > 0 && (*data == '\r' || *data == '\n' || *data == '\0')) {
      ++data;
      --size;
      ++rawStart;
    }
  }
  size_t room = raw.size() < kMaxRaw ? kMaxRaw - raw.size() : 0;
  size_t n = std::min(room, size);
  raw.append(reinterpret_cast<const char*>(data), n);
  if (n < size) rawCut = true;
}

void Job::clearLines() {
  lines.clear();
  linesDropped = 0;
  errors = 0;
}

Session::Session(Printer& printer, std::string endpoint, ParserLimits limits)
    : printer_(printer),
      endpoint_(std::move(endpoint)),
      parser_(
          [this](Command&& c) {
            job_.commandEnd = parser_.offset();
            printer_.execute(c, endpoint_, reply_, &job_);
          },
          limits) {}

std::string Session::takeReply() {
  std::string r;
  r.swap(reply_);
  return r;
}

}  // namespace vprinter
