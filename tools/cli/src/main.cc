// paloma: print files, send commands, read the status and the information of
// a label printer, draw host-font text, and find printers on the network.
#include <getopt.h>
#include <iconv.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "label.h"
#include "paloma.h"
#include "printers.h"
#include "target.h"
#include "words.h"

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps its configuration to the end of the process by design;
// that is not a leak of this tool's.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
#endif

#ifndef PALOMA_VERSION
#define PALOMA_VERSION "unknown"
#endif

namespace paloma_cli {
namespace {

// ---- help ------------------------------------------------------------------

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

const char* const kOverview =
    "Usage: paloma COMMAND [OPTIONS]\n"
    "\n"
    "Drive a thermal label printer.\n"
    "\n"
    "Commands:\n"
    "  print FILE... --to URI       send files of label commands to the printer unchanged\n"
    "                               ('-' reads standard input)\n"
    "  label [FILE] [--text|--barcode|--qr X,Y,...] [--data CSV] --to URI\n"
    "                               compose a label (or one per CSV row) and print it\n"
    "  printers                     the named printers and the default one\n"
    "  image FILE --to URI [--width N] [--height N] [--dither KIND] [--print N]\n"
    "                               print a picture (PNG, JPEG, GIF, BMP, PNM)\n"
    "  send COMMAND... --to URI     send label commands, each with its line end\n"
    "                               ('-' reads them from standard input, one a line)\n"
    "  status --to URI              the printer's status in words\n"
    "  info --to URI [--json]       name, serial number, dpi, code page, memory, mileage\n"
    "  text TEXT --to URI --face NAME --height N\n"
    "                               draw text in a host font and send it as a bitmap\n"
    "  discover [--wait SECONDS] [--json]\n"
    "                               list the printers that answer on the local network\n"
    "\n"
    "Every command takes -v (--verbose): the library's debug messages too (which\n"
    "font stood in, each transport step), on standard error.\n"
    "\n"
    "Printer addresses (URI):\n";

const char* const kTail =
    "\n"
    "Without --to a command goes to PALOMA_PRINTER or the configured default\n"
    "printer ('paloma printers --help').\n"
    "\n"
    "'paloma COMMAND --help' tells more about a command; 'paloma --version' the version.\n";

void usageHint(const char* cmd) {
  std::fprintf(stderr, "Try 'paloma %s--help'.\n", cmd ? (std::string(cmd) + " ").c_str() : "");
}

int usageError(const char* cmd, const std::string& what) {
  std::fprintf(stderr, "paloma: %s%s%s\n", cmd ? cmd : "", cmd ? ": " : "", what.c_str());
  usageHint(cmd);
  return kExitUsage;
}

// ---- library messages and failure reasons ------------------------------------

std::string g_lastMessage;

bool g_verbose = false;  // --verbose: the library's debug detail too

void onLibraryMessage(const char* text, const char*, int icon, void*) {
  if (!text) return;
  if (icon == PALOMA_ICON_DEBUG) {
    if (g_verbose) std::fprintf(stderr, "paloma: debug: %s\n", text);
    return;
  }
  g_lastMessage = text;
  std::fprintf(stderr, "paloma: %s\n", text);
}

// The library's reason for the last failure, or `fallback` when it gave none.
std::string reason(const std::string& fallback) {
  const char* e = paloma_last_error();
  if (e && *e) return e;
  return fallback;
}

int fail(const std::string& what) {
  std::fprintf(stderr, "paloma: %s\n", what.c_str());
  return kExitFailed;
}

// ---- options -----------------------------------------------------------------

struct Options {
  std::string to;
  bool json = false;
  bool help = false;
  int progress = -1;  // -1 on a terminal only, 0 never, 1 always
  std::string face;
  std::string height;
  std::string x = "0", y = "0";
  std::string rotate = "0";
  bool bold = false, italic = false, underline = false;
  std::string wait;
  bool verbose = false;
  std::string width, dpi, dither, threshold, print;
  bool invert = false, raw = false;
  std::vector<std::string> operands;
  // label
  std::string size, data, gap;
  bool check = false;
  std::vector<std::pair<ItemKind, std::string>> items;  // in command-line order
};

enum OptionId {
  kOptTo = 1000, kOptJson, kOptHelp, kOptProgress, kOptNoProgress, kOptFace, kOptHeight,
  kOptX, kOptY, kOptRotate, kOptBold, kOptItalic, kOptUnderline, kOptWait,
  kOptVerbose,
  kOptWidth, kOptDpi, kOptDither, kOptThreshold, kOptInvert, kOptPrint, kOptRaw,
  kOptSize, kOptText, kOptBarcode, kOptQr, kOptData, kOptGap, kOptCheck
};

// Parses the options a command allows (`allowed` names them by id); returns
// false after reporting a usage error.
bool parseOptions(const char* cmd, int argc, char** argv, std::initializer_list<int> allowed,
                  Options* o, int* exitCode) {
  static const option kAll[] = {
      {"to", required_argument, nullptr, kOptTo},
      {"json", no_argument, nullptr, kOptJson},
      {"help", no_argument, nullptr, kOptHelp},
      {"progress", no_argument, nullptr, kOptProgress},
      {"no-progress", no_argument, nullptr, kOptNoProgress},
      {"face", required_argument, nullptr, kOptFace},
      {"height", required_argument, nullptr, kOptHeight},
      {"x", required_argument, nullptr, kOptX},
      {"y", required_argument, nullptr, kOptY},
      {"rotate", required_argument, nullptr, kOptRotate},
      {"bold", no_argument, nullptr, kOptBold},
      {"italic", no_argument, nullptr, kOptItalic},
      {"underline", no_argument, nullptr, kOptUnderline},
      {"wait", required_argument, nullptr, kOptWait},
      {"verbose", no_argument, nullptr, kOptVerbose},
      {"width", required_argument, nullptr, kOptWidth},
      {"dpi", required_argument, nullptr, kOptDpi},
      {"dither", required_argument, nullptr, kOptDither},
      {"threshold", required_argument, nullptr, kOptThreshold},
      {"invert", no_argument, nullptr, kOptInvert},
      {"print", required_argument, nullptr, kOptPrint},
      {"raw", no_argument, nullptr, kOptRaw},
      {"size", required_argument, nullptr, kOptSize},
      {"text", required_argument, nullptr, kOptText},
      {"barcode", required_argument, nullptr, kOptBarcode},
      {"qr", required_argument, nullptr, kOptQr},
      {"data", required_argument, nullptr, kOptData},
      {"gap", required_argument, nullptr, kOptGap},
      {"check", no_argument, nullptr, kOptCheck},
      {nullptr, 0, nullptr, 0}};
  std::vector<option> mine;
  for (const option& op : kAll) {
    if (!op.name) break;
    for (int id : allowed)
      if (id == op.val || op.val == kOptHelp || op.val == kOptVerbose) {
        mine.push_back(op);
        break;
      }
  }
  mine.push_back({nullptr, 0, nullptr, 0});
  opterr = 0;
  optind = 1;
  int c;
  // "-" first: operands come back in place, so options may follow them;
  // ":" then: a missing value is told apart from an unknown option.
  while ((c = getopt_long(argc, argv, "-:hv", mine.data(), nullptr)) != -1) {
    switch (c) {
      case 1: o->operands.push_back(optarg); break;
      case 'h':
      case kOptHelp: o->help = true; break;
      case kOptTo: o->to = optarg; break;
      case kOptJson: o->json = true; break;
      case kOptProgress: o->progress = 1; break;
      case kOptNoProgress: o->progress = 0; break;
      case kOptFace: o->face = optarg; break;
      case kOptHeight: o->height = optarg; break;
      case kOptX: o->x = optarg; break;
      case kOptY: o->y = optarg; break;
      case kOptRotate: o->rotate = optarg; break;
      case kOptBold: o->bold = true; break;
      case kOptItalic: o->italic = true; break;
      case kOptUnderline: o->underline = true; break;
      case kOptWait: o->wait = optarg; break;
      case 'v':
      case kOptVerbose: o->verbose = true; break;
      case kOptWidth: o->width = optarg; break;
      case kOptDpi: o->dpi = optarg; break;
      case kOptDither: o->dither = optarg; break;
      case kOptThreshold: o->threshold = optarg; break;
      case kOptInvert: o->invert = true; break;
      case kOptPrint: o->print = optarg; break;
      case kOptRaw: o->raw = true; break;
      case kOptSize: o->size = optarg; break;
      case kOptText: o->items.emplace_back(ItemKind::Text, optarg); break;
      case kOptBarcode: o->items.emplace_back(ItemKind::Barcode, optarg); break;
      case kOptQr: o->items.emplace_back(ItemKind::Qr, optarg); break;
      case kOptData: o->data = optarg; break;
      case kOptGap: o->gap = optarg; break;
      case kOptCheck: o->check = true; break;
      case ':':
        *exitCode = usageError(cmd, std::string(argv[optind - 1]) + " needs a value");
        return false;
      default:
        *exitCode = usageError(cmd, std::string("unknown option ") + argv[optind - 1]);
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) o->operands.push_back(argv[i]);  // after "--"
  if (o->verbose) {
    g_verbose = true;
    paloma_set_log_level(PALOMA_LOG_DEBUG);
  }
  return true;
}

bool parseInt(const std::string& s, long lo, long hi, long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// ---- connections ---------------------------------------------------------------

// Reads the configuration file's named printers (none when it does not exist).
bool loadPrinterBook(PrinterBook* book, std::string* why) {
  const std::string path = configPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (path.empty()) return true;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (errno == ENOENT) return true;
    *why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20)) text.append(buf, n);
  const bool bad = std::ferror(f);
  std::fclose(f);
  if (bad) {
    *why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!parsePrinterBook(text, book, why)) {
    *why = path + ": " + *why;
    return false;
  }
  return true;
}

// The printer a command goes to (--to, PALOMA_PRINTER or the configured
// default), its address put in o->to; or a usage error.
bool takeTarget(const char* cmd, Options& o, Target* t, int* exitCode) {
  std::string why;
  auto chosen = choosePrinter(o.to, std::getenv("PALOMA_PRINTER"), loadPrinterBook, &why);
  if (!chosen) {
    *exitCode = usageError(cmd, why);
    return false;
  }
  o.to = chosen->uri;
  auto parsed = parseTarget(o.to, &why);
  if (!parsed) {
    std::fprintf(stderr, "paloma: %s: %s%s\nA printer is one of:\n%s", cmd,
                 chosen->source == "--to" ? "" : (chosen->source + " gives " + o.to + ": ").c_str(),
                 why.c_str(), kTargetForms);
    *exitCode = kExitUsage;
    return false;
  }
  if (g_verbose)
    std::fprintf(stderr, "paloma: debug: printer %s (from %s)\n", o.to.c_str(),
                 chosen->source.c_str());
  *t = *parsed;
  return true;
}

// A printer handle opened from the --to address, closed when it goes.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { close(); }

  // Opens `uri`; false with the reason in `why`.
  bool open(const std::string& uri, const Target& t, std::string* why) {
    paloma_clear_error();
    g_lastMessage.clear();
    const auto start = std::chrono::steady_clock::now();
    if (g_verbose) std::fprintf(stderr, "paloma: debug: opening %s\n", describe(t).c_str());
    paloma_result r = paloma_open(uri.c_str(), &p_);
    if (r == PALOMA_OK) {
      if (g_verbose)
        std::fprintf(stderr, "paloma: debug: %s open after %.0f ms\n", describe(t).c_str(),
                     std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start).count());
      return true;
    }
    std::string fallback =
        t.kind == TargetKind::Tcp ? "no printer answered"
        : t.kind == TargetKind::Usb ? "no USB printer of the maker is connected"
        : t.kind == TargetKind::Queue || t.kind == TargetKind::ServerQueue
            ? "no such printer queue, or the print server does not answer"
            : "the device does not exist or cannot be opened (check the path and permissions)";
    *why = (t.kind == TargetKind::Tcp ? "cannot connect to " : "cannot open ") + describe(t) +
           ": " + reason(paloma_result_text(r) + (": " + fallback));
    return false;
  }
  paloma_printer* get() const { return p_; }
  // Ends the connection: a print queue's document is ended there, and over
  // TCP the printer has taken every byte when it returns. False with the
  // reason in `why`.
  bool close(std::string* why = nullptr) {
    if (!p_) return true;
    paloma_clear_error();
    paloma_result r = paloma_close(p_);
    p_ = nullptr;
    if (g_verbose)
      std::fprintf(stderr, "paloma: debug: connection closed: %s\n", paloma_result_text(r));
    if (r == PALOMA_OK) return true;
    if (why) *why = reason(paloma_result_text(r));
    return false;
  }

 private:
  paloma_printer* p_ = nullptr;
};

// ---- print -----------------------------------------------------------------------

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int terminalWidth() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

constexpr std::uint64_t kProgressFrom = 1000000;  // bytes: "files over 1 MB"
constexpr std::size_t kChunk = 64 * 1024;

// Sends one file in pieces on the handle, drawing the bar as it goes when
// `bar`: the file's bytes, then the line end (CR LF).
bool sendFile(paloma_printer* p, const std::string& path, std::uint64_t total, bool bar,
              std::string* why) {
  const bool fromStdin = path == "-";
  FILE* f = fromStdin ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    *why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<unsigned char> buf(kChunk);
  std::uint64_t done = 0;
  auto start = std::chrono::steady_clock::now();
  auto lastDraw = start - std::chrono::seconds(1);
  int width = bar ? terminalWidth() : 0;
  bool ok = true;
  for (;;) {
    std::size_t n = std::fread(buf.data(), 1, buf.size(), f);
    if (n == 0) {
      if (std::ferror(f)) {
        *why = "cannot read " + path + ": " + std::strerror(errno);
        ok = false;
      }
      break;
    }
    paloma_clear_error();
    if (paloma_result r = paloma_write(p, buf.data(), n); r != PALOMA_OK) {
      *why = "sending " + path + " failed after " + humanBytes(static_cast<double>(done)) +
             ": " + reason(paloma_result_text(r));
      ok = false;
      break;
    }
    done += n;
    auto now = std::chrono::steady_clock::now();
    if (bar && (now - lastDraw >= std::chrono::milliseconds(100) || done >= total)) {
      double secs = std::chrono::duration<double>(now - start).count();
      std::fprintf(stderr, "\r%s\033[K", progressLine(done, total, secs, width).c_str());
      lastDraw = now;
    }
  }
  if (!fromStdin) std::fclose(f);
  if (bar) std::fputc('\n', stderr);
  if (!ok) return false;
  paloma_clear_error();
  if (paloma_result r = paloma_write(p, "\r\n", 2); r != PALOMA_OK) {
    *why = "sending the line end after " + path + " failed: " + reason(paloma_result_text(r));
    return false;
  }
  return true;
}

// The picture or document format of a file's first bytes ("" for none);
// false when it cannot be read.
bool sniffFile(const std::string& path, std::string* format) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char head[16];
  const std::size_t n = std::fread(head, 1, sizeof head, f);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) return false;
  format->clear();
  if (auto known = pictureOrDocument(head, n)) *format = *known;
  return true;
}

int runPrint(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("print", argc, argv, {kOptTo, kOptProgress, kOptNoProgress, kOptRaw}, &o,
                    &rc))
    return rc;
  if (o.help) {
    std::printf(
        "Usage: paloma print FILE... --to URI [--progress | --no-progress] [--raw]\n\n"
        "Sends each file to the printer unchanged, followed by a line end, in the order\n"
        "given. On a terminal, files over 1 MB show a progress bar (bytes, rate, time\n"
        "left) on standard error; --progress shows it anywhere, --no-progress never.\n"
        "A file that is a picture or a document (PNG, JPEG, GIF, BMP, TIFF, WebP, PNM,\n"
        "PDF, PostScript) is refused: print a picture with 'paloma image'. --raw sends\n"
        "such a file unchanged all the same. FILE '-' is standard input, sent as it\n"
        "comes (not checked for pictures).\n\n"
        "Printer addresses (URI):\n%s",
        kTargetForms);
    return kExitOk;
  }
  if (o.operands.empty()) return usageError("print", "name at least one file to print");
  Target t;
  if (!takeTarget("print", o, &t, &rc)) return rc;
  // Every file is checked before the first byte goes out, so a typing
  // mistake does not leave half a job in the printer.
  std::vector<std::uint64_t> sizes;
  for (const std::string& path : o.operands) {
    if (path == "-") {
      // Standard input streams as it comes; its size is not known.
      if (std::count(o.operands.begin(), o.operands.end(), "-") > 1)
        return usageError("print", "standard input ('-') can be read once");
      sizes.push_back(0);
      continue;
    }
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return fail("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail(path + " is not a regular file");
    if (access(path.c_str(), R_OK) != 0)
      return fail("cannot read " + path + ": " + std::strerror(errno));
    if (!o.raw) {
      std::string format;
      if (!sniffFile(path, &format)) return fail("cannot read " + path + ": " + std::strerror(errno));
      if (!format.empty())
        return fail(path + " is a " + format + " file, not label commands: print a picture with\n"
                    "  paloma image " + path + " --to " + o.to + "\n"
                    "or send the file unchanged with --raw");
    }
    sizes.push_back(static_cast<std::uint64_t>(st.st_size));
  }
  std::string why;
  Connection c;
  if (!c.open(o.to, t, &why)) return fail(why);
  bool bar = o.progress == 1 || (o.progress == -1 && stderrIsTerminal());
  int result = kExitOk;
  for (std::size_t i = 0; i < o.operands.size(); ++i) {
    const std::string& path = o.operands[i];
    if (!sendFile(c.get(), path, sizes[i], bar && sizes[i] > kProgressFrom, &why)) {
      result = fail(why);
      break;
    }
  }
  if (!c.close(&why) && result == kExitOk)
    result = fail("ending the job on " + describe(t) + " failed: " + why);
  return result;
}

// ---- image ---------------------------------------------------------------------------

const char* const kImageHelp =
    "Usage: paloma image FILE --to URI [--x X] [--y Y] [--width W] [--height H]\n"
    "                    [--dpi D] [--dither none|ordered|diffusion] [--threshold N]\n"
    "                    [--rotate 0|90|180|270] [--invert] [--print N]\n\n"
    "Prints a picture (PNG, JPEG, GIF, BMP or PNM) as one bitmap with its top-left\n"
    "corner at (X, Y). Lengths are dots, or millimetres and inches with mm or in\n"
    "(\"25mm\", \"1.5in\") at D dots per inch (default 203, the printer's resolution).\n"
    "W and H are the printed size; give one to keep the picture's aspect, none to\n"
    "print a dot per pixel. The picture is scaled, turned clockwise by --rotate,\n"
    "and made black and white by error diffusion (the default), an ordered pattern,\n"
    "or none: a plain threshold, the gray level N of 0..255 (default 128) below\n"
    "which a dot is black. --invert swaps black and white. --print N clears the\n"
    "printer's image buffer first and prints N labels after; without it the picture\n"
    "joins what the buffer holds.\n\n"
    "Printer addresses (URI):\n";

int runImage(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("image", argc, argv,
                    {kOptTo, kOptX, kOptY, kOptWidth, kOptHeight, kOptDpi, kOptDither,
                     kOptThreshold, kOptRotate, kOptInvert, kOptPrint},
                    &o, &rc))
    return rc;
  if (o.help) {
    std::printf("%s%s", kImageHelp, kTargetForms);
    return kExitOk;
  }
  if (o.operands.size() != 1) return usageError("image", "give exactly one picture FILE");
  double dpi = 203;
  if (!o.dpi.empty()) {
    char* end = nullptr;
    errno = 0;
    dpi = std::strtod(o.dpi.c_str(), &end);
    if (errno || *end || !(dpi >= 50 && dpi <= 2400))
      return usageError("image", "--dpi is a number of dots per inch from 50 to 2400");
  }
  const auto x = lengthInDots(o.x, dpi, 100000), y = lengthInDots(o.y, dpi, 100000);
  if (!x || !y) return usageError("image", "--x and --y are lengths, 0 or more (120, 25mm, 1in)");
  const auto width = lengthInDots(o.width.empty() ? "0" : o.width, dpi, 100000);
  const auto height = lengthInDots(o.height.empty() ? "0" : o.height, dpi, 100000);
  if (!width || !height)
    return usageError("image", "--width and --height are lengths, 0 or more (400, 50mm, 2in)");
  paloma_image_options options;
  paloma_image_options_init(&options);
  if (o.dither == "none" || o.dither == "threshold")
    options.dither = PALOMA_DITHER_THRESHOLD;
  else if (o.dither == "ordered")
    options.dither = PALOMA_DITHER_ORDERED;
  else if (o.dither.empty() || o.dither == "diffusion")
    options.dither = PALOMA_DITHER_DIFFUSION;
  else
    return usageError("image", "--dither is none, ordered or diffusion");
  long threshold = 128, rotate = 0, copies = 0;
  if (!o.threshold.empty() && !parseInt(o.threshold, 0, 255, &threshold))
    return usageError("image", "--threshold is a gray level from 0 to 255");
  if (!parseInt(o.rotate, 0, 270, &rotate) || rotate % 90 != 0)
    return usageError("image", "--rotate is 0, 90, 180 or 270");
  if (!o.print.empty() && !parseInt(o.print, 1, 999999, &copies))
    return usageError("image", "--print is a number of labels from 1 to 999999");
  options.threshold = static_cast<int>(threshold);
  options.rotation = static_cast<int>(rotate);
  options.invert = o.invert ? 1 : 0;
  const std::string& path = o.operands[0];
  // The picture is read and checked before anything is sent.
  std::vector<unsigned char> bytes;
  {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return fail("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail(path + " is not a regular file");
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fail("cannot read " + path + ": " + std::strerror(errno));
    bytes.resize(static_cast<std::size_t>(st.st_size));
    const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (got != bytes.size()) return fail("cannot read " + path + ": it changed while being read");
  }
  Target t;
  if (!takeTarget("image", o, &t, &rc)) return rc;
  // The command is made before the printer is reached: a picture that
  // cannot be printed leaves the printer untouched.
  std::vector<unsigned char> command(PALOMA_IMAGE_COMMAND_MAX);
  std::size_t length = 0;
  paloma_clear_error();
  if (paloma_image_command(static_cast<int>(*x), static_cast<int>(*y), bytes.data(), bytes.size(),
                           static_cast<int>(*width), static_cast<int>(*height), &options,
                           command.data(), command.size(), &length) != 1)
    return fail("cannot print " + path + ": " + reason("the picture could not be read"));
  std::string why;
  Connection c;
  if (!c.open(o.to, t, &why)) return fail(why);
  int result = kExitOk;
  paloma_clear_error();
  const std::string printCommand = "PRINT " + std::to_string(copies) + ",1";
  if (copies > 0 && paloma_send_command(c.get(), "CLS") != PALOMA_OK) {
    result = fail("clearing the image buffer of " + describe(t) + " failed: " +
                  reason("the printer did not take the command"));
  } else if (paloma_write(c.get(), command.data(), length) != PALOMA_OK) {
    result = fail("sending " + path + " to " + describe(t) + " failed: " +
                  reason("the printer did not take the picture"));
  } else if (copies > 0 && paloma_send_command(c.get(), printCommand.c_str()) != PALOMA_OK) {
    result = fail("the print command to " + describe(t) + " failed: " +
                  reason("the printer did not take the command"));
  }
  if (!c.close(&why) && result == kExitOk)
    result = fail("ending the job on " + describe(t) + " failed: " + why);
  return result;
}

// ---- send ----------------------------------------------------------------------------

int runSend(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("send", argc, argv, {kOptTo}, &o, &rc)) return rc;
  if (o.help) {
    std::printf(
        "Usage: paloma send COMMAND... --to URI\n\n"
        "Sends each command of the label language as one line, with its line end\n"
        "(CR LF), in the order given. COMMAND '-' reads commands from standard input,\n"
        "one a line (LF or CR LF), e.g.\n"
        "  paloma send \"SIZE 50 mm,30 mm\" CLS \"TEXT 10,10,\\\"3\\\",0,1,1,\\\"Hi\\\"\" "
        "\"PRINT 1\" --to tcp://127.0.0.1\n\n"
        "Printer addresses (URI):\n%s",
        kTargetForms);
    return kExitOk;
  }
  if (o.operands.empty()) return usageError("send", "give at least one command to send");
  if (std::count(o.operands.begin(), o.operands.end(), "-") > 1)
    return usageError("send", "standard input ('-') can be read once");
  // Standard input's lines take the place of its '-', read whole before the
  // printer is reached.
  for (std::size_t i = 0; i < o.operands.size(); ++i) {
    if (o.operands[i] != "-") continue;
    std::vector<std::string> lines;
    std::string line;
    int ch;
    while ((ch = std::getc(stdin)) != EOF) {
      if (ch == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        line.clear();
      } else {
        line += static_cast<char>(ch);
      }
    }
    if (std::ferror(stdin)) return fail(std::string("cannot read standard input: ") + std::strerror(errno));
    if (!line.empty()) lines.push_back(line);
    o.operands.erase(o.operands.begin() + static_cast<std::ptrdiff_t>(i));
    o.operands.insert(o.operands.begin() + static_cast<std::ptrdiff_t>(i), lines.begin(), lines.end());
    break;
  }
  if (o.operands.empty()) return usageError("send", "standard input held no command");
  for (const std::string& c : o.operands)
    if (c.find_first_of("\r\n") != std::string::npos)
      return usageError("send", "a command is one line; give each line as its own argument");
  Target t;
  if (!takeTarget("send", o, &t, &rc)) return rc;
  std::string why;
  Connection printer;
  if (!printer.open(o.to, t, &why)) return fail(why);
  int result = kExitOk;
  for (const std::string& c : o.operands) {
    paloma_clear_error();
    if (paloma_result r = paloma_send_command(printer.get(), c.c_str()); r != PALOMA_OK) {
      result = fail("sending \"" + c + "\" to " + describe(t) + " failed: " +
                    reason(paloma_result_text(r)));
      break;
    }
  }
  if (!printer.close(&why) && result == kExitOk)
    result = fail("ending the job on " + describe(t) + " failed: " + why);
  return result;
}

// ---- status --------------------------------------------------------------------------

const char* const kStatusHelp =
    "Usage: paloma status --to URI [--json]\n\n"
    "Asks the printer for its status byte and prints every condition it holds in\n"
    "words, with the byte in hex:\n"
    "  ready (00)\n"
    "  paper jam, paper empty (06)\n"
    "--json prints one object: {\"status\":\"paper jam, paper empty\",\"byte\":6,\n"
    "\"code\":\"06\",\"conditions\":[\"paper jam\",\"paper empty\"],\"exit\":11}\n"
    "(byte and code null, conditions empty, when the printer did not answer).\n"
    "Exit codes:\n"
    "   0  ready                  10  head open\n"
    "   1  the printer could not  11  paper jam\n"
    "      be reached             12  paper empty\n"
    "   2  wrong command line     13  ribbon empty\n"
    "   3  no reply               14  paused\n"
    "   4  unknown condition      15  printing\n"
    "                             16  other error\n"
    "A status with several conditions exits with the code of the first in this\n"
    "order: head open, paper jam, paper empty, ribbon empty, paused, printing,\n"
    "unknown condition, other error (the order of their bits, 01 to 80).\n"
    "Status is read over tcp://, serial: (and /dev/tty*) and usb:; a spooler queue\n"
    "or a printer file does not answer.\n\n"
    "Printer addresses (URI):\n";

int runStatus(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("status", argc, argv, {kOptTo, kOptJson}, &o, &rc)) return rc;
  if (o.help) {
    std::printf("%s%s", kStatusHelp, kTargetForms);
    return kExitOk;
  }
  if (!o.operands.empty()) return usageError("status", "unexpected " + o.operands[0]);
  Target t;
  if (!takeTarget("status", o, &t, &rc)) return rc;
  if (queryPathOf(t) == QueryPath::None)
    return fail(describe(t) + " takes print jobs only; ask the status over tcp://, serial: or usb:");
  std::string why;
  Connection c;
  if (!c.open(o.to, t, &why)) return fail(why);
  paloma_clear_error();
  std::uint8_t byte = 0;
  paloma_result r = paloma_status(c.get(), &byte);
  std::string failure = r == PALOMA_OK ? "" : reason(paloma_result_text(r));
  c.close();
  if (r != PALOMA_OK && r != PALOMA_ERROR_NO_REPLY)
    return fail("asking " + describe(t) + " for its status failed: " + failure);
  StatusReport report = r == PALOMA_OK ? describeStatus(byte) : noStatusReply();
  if (o.json) {
    std::string conditions;
    for (const std::string& name : report.conditions)
      conditions += (conditions.empty() ? "" : ",") + jsonString(name);
    std::printf("{\"status\":%s,\"byte\":%s,\"code\":%s,\"conditions\":[%s],\"exit\":%d}\n",
                jsonString(report.words).c_str(),
                report.byte ? std::to_string(*report.byte).c_str() : "null",
                report.byte ? jsonString(statusCode(*report.byte)).c_str() : "null",
                conditions.c_str(), report.exitCode);
  } else if (!report.byte) {
    std::printf("%s\n", report.words.c_str());
  } else {
    std::printf("%s (%s)\n", report.words.c_str(), statusCode(*report.byte).c_str());
  }
  if (!report.byte)
    std::fprintf(stderr, "paloma: %s did not answer the status query: %s\n", describe(t).c_str(),
                 failure.c_str());
  return report.exitCode;
}

// ---- info ------------------------------------------------------------------------------

int runInfo(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("info", argc, argv, {kOptTo, kOptJson}, &o, &rc)) return rc;
  if (o.help) {
    std::printf(
        "Usage: paloma info --to URI [--json]\n\n"
        "Asks the printer for its name, serial number, resolution (dpi), code page, free\n"
        "memory and mileage, and prints one \"key: value\" line each, or one JSON object\n"
        "(dpi, memory and mileage as numbers when the printer gives plain numbers; a\n"
        "value the printer did not give is null). Exit code 0 when every value came,\n"
        "3 when one or more did not, 1 when the printer could not be reached.\n"
        "Information is read over tcp://, serial: (and /dev/tty*) and usb:.\n\n"
        "Printer addresses (URI):\n%s",
        kTargetForms);
    return kExitOk;
  }
  if (!o.operands.empty()) return usageError("info", "unexpected " + o.operands[0]);
  Target t;
  if (!takeTarget("info", o, &t, &rc)) return rc;
  if (queryPathOf(t) == QueryPath::None)
    return fail(describe(t) + " takes print jobs only; ask for information over tcp://, serial: or usb:");
  struct Query {
    const char* key;      // as the tool prints it
    const char* library;  // as paloma_info() takes it
    bool number;          // a number in JSON when the printer gives one
  };
  static const Query kQueries[] = {
      {"name", "name", false},          {"serial_number", "serial", false},
      {"dpi", "dpi", true},             {"code_page", "codepage", false},
      {"memory", "free_memory", true},  {"mileage", "mileage", true},
  };
  std::string why;
  Connection c;
  if (!c.open(o.to, t, &why)) return fail(why);
  std::vector<std::optional<std::string>> values;
  std::vector<char> buf(4096);
  for (const Query& q : kQueries) {
    paloma_result r = paloma_info(c.get(), q.library, buf.data(), buf.size());
    if (r == PALOMA_OK || r == PALOMA_ERROR_BUFFER_TOO_SMALL)
      values.push_back(cleanReply(buf.data()));
    else
      values.push_back(std::nullopt);
    if (r == PALOMA_ERROR_CLOSED || r == PALOMA_ERROR_OS) break;  // nothing more will come
  }
  values.resize(sizeof kQueries / sizeof kQueries[0]);
  c.close();
  bool missing = false;
  if (o.json) std::printf("{");
  for (std::size_t i = 0; i < values.size(); ++i) {
    missing = missing || !values[i];
    if (o.json)
      std::printf("%s%s:%s", i ? "," : "", jsonString(kQueries[i].key).c_str(),
                  !values[i]             ? "null"
                  : kQueries[i].number ? jsonNumberOrString(*values[i]).c_str()
                                       : jsonString(*values[i]).c_str());
    else
      std::printf("%s: %s\n", kQueries[i].key,
                  values[i] ? terminalText(*values[i]).c_str() : "(no reply)");
  }
  if (o.json) std::printf("}\n");
  if (missing) {
    std::fprintf(stderr, "paloma: %s did not answer every query\n", describe(t).c_str());
    return kExitNoReply;
  }
  return kExitOk;
}

// ---- text -------------------------------------------------------------------------------

// UTF-8 (the command line's text) to UTF-16 for the library's Unicode drawing.
bool toUtf16(const std::string& in, std::u16string* out) {
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string bytes(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = bytes.data();
  std::size_t dstLeft = bytes.size();
  std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1) || srcLeft != 0) return false;
  std::size_t n = (bytes.size() - dstLeft) / 2;
  out->resize(n);
  for (std::size_t i = 0; i < n; ++i)
    (*out)[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return true;
}

int runText(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("text", argc, argv,
                    {kOptTo, kOptFace, kOptHeight, kOptX, kOptY, kOptRotate, kOptBold, kOptItalic,
                     kOptUnderline, kOptVerbose},
                    &o, &rc))
    return rc;
  if (o.help) {
    std::printf(
        "Usage: paloma text TEXT --to URI --face NAME --height N [--x X] [--y Y]\n"
        "                   [--bold] [--italic] [--underline] [--rotate 0|90|180|270]\n"
        "                   [--verbose]\n\n"
        "Draws TEXT (UTF-8) in a font installed on this computer and sends it to the\n"
        "printer as one bitmap with its top-left corner at (X, Y) dots (default 0, 0).\n"
        "N is the text's cell height in dots. --rotate turns it counter-clockwise about\n"
        "that corner. The bitmap goes into the printer's image buffer; print it with\n"
        "  paloma send PRINT\\ 1 --to URI\n"
        "Characters no installed font has are drawn as empty boxes, with a warning.\n"
        "--verbose also tells which font stood in for a face that is not installed.\n\n"
        "Printer addresses (URI):\n%s",
        kTargetForms);
    return kExitOk;
  }
  if (o.operands.size() != 1) return usageError("text", "give exactly one TEXT (quote it)");
  if (o.face.empty()) return usageError("text", "say which font with --face NAME");
  if (o.face.size() > 31) return usageError("text", "a font name has at most 31 bytes");
  long height = 0, x = 0, y = 0, rotate = 0;
  if (!parseInt(o.height, 1, 4000, &height))
    return usageError("text", "--height is a whole number of dots from 1 to 4000");
  if (!parseInt(o.x, 0, 100000, &x) || !parseInt(o.y, 0, 100000, &y))
    return usageError("text", "--x and --y are whole numbers of dots, 0 or more");
  if (!parseInt(o.rotate, 0, 270, &rotate) || rotate % 90 != 0)
    return usageError("text", "--rotate is 0, 90, 180 or 270");
  std::u16string text;
  if (!toUtf16(o.operands[0], &text)) return usageError("text", "TEXT is not valid UTF-8");
  if (text.empty()) return usageError("text", "TEXT is empty");
  Target t;
  if (!takeTarget("text", o, &t, &rc)) return rc;
  std::string why;
  Connection c;
  if (!c.open(o.to, t, &why)) return fail(why);
  int style = (o.italic ? 1 : 0) | (o.bold ? 2 : 0);
  g_verbose = o.verbose;
  if (o.verbose) paloma_set_log_level(PALOMA_LOG_DEBUG);
  paloma_clear_error();
  // The text goes as UTF-8 (checked above).
  paloma_result r = paloma_windowsfont(c.get(), static_cast<int>(x), static_cast<int>(y),
                                       static_cast<int>(height), static_cast<int>(rotate), style,
                                       o.underline ? 1 : 0, o.face.c_str(), o.operands[0].c_str());
  std::string warning = r == PALOMA_OK && paloma_last_error() ? paloma_last_error() : "";
  if (r != PALOMA_OK)
    return fail("sending the text to " + describe(t) + " failed: " +
                reason(std::string(paloma_result_text(r)) +
                       ": the text could not be drawn or the printer did not take it"));
  if (!c.close(&why)) return fail("ending the job on " + describe(t) + " failed: " + why);
  if (!warning.empty()) std::fprintf(stderr, "paloma: warning: %s\n", warning.c_str());
  return kExitOk;
}

// ---- discover ---------------------------------------------------------------------------

int runDiscover(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("discover", argc, argv, {kOptWait, kOptJson}, &o, &rc)) return rc;
  if (o.help) {
    std::printf(
        "Usage: paloma discover [--wait SECONDS] [--json]\n\n"
        "Sends the discovery probe to the local network (UDP broadcast, port 22368)\n"
        "and lists every printer that answers within SECONDS (default 3, at most 60),\n"
        "one line each: its address, and its name and TCP address when the answer\n"
        "carries them. --json prints one JSON array instead. Exit code 0 also when\n"
        "nobody answered (the list is then empty); 1 when the probe could not be sent.\n");
    return kExitOk;
  }
  if (!o.operands.empty()) return usageError("discover", "unexpected " + o.operands[0]);
  double seconds = 3.0;
  if (!o.wait.empty()) {
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(o.wait.c_str(), &end);
    if (errno || *end || !(seconds >= 0.0 && seconds <= 60.0))
      return usageError("discover", "--wait is a number of seconds from 0 to 60");
  }
  constexpr int kMax = 256;
  std::vector<paloma_printer_found> found(kMax);
  paloma_clear_error();
  int n = paloma_discover(static_cast<int>(std::lround(seconds * 1000.0)), found.data(), kMax);
  if (n < 0) return fail("discovery failed: " + reason("the probe could not be sent"));
  if (o.json) std::printf("[");
  for (int i = 0; i < n; ++i) {
    const paloma_printer_found& f = found[static_cast<std::size_t>(i)];
    AnswerFields a = parseAnswer(f.answer, static_cast<std::size_t>(f.length));
    std::string tcp = a.tcpPort ? "tcp://" + std::string(f.address) + ":" + std::to_string(*a.tcpPort)
                                : "";
    if (o.json) {
      std::printf("%s{\"address\":%s,\"port\":%u,\"name\":%s,\"uri\":%s,\"answer_bytes\":%d}",
                  i ? "," : "", jsonString(f.address).c_str(), static_cast<unsigned>(f.port),
                  a.name ? jsonString(*a.name).c_str() : "null",
                  tcp.empty() ? "null" : jsonString(tcp).c_str(), f.length);
    } else {
      std::string line = f.address;
      if (a.name) line += "  " + terminalText(*a.name);
      if (!tcp.empty()) line += "  " + tcp;
      std::printf("%s\n", line.c_str());
    }
  }
  if (o.json) std::printf("]\n");
  return kExitOk;
}

// ---- label ------------------------------------------------------------------------------

const char* const kLabelHelp =
    "Usage: paloma label [FILE.json] [--size WxH(mm|in)] [--gap G] [--text X,Y,TEXT]...\n"
    "                    [--barcode X,Y,TYPE,DATA]... [--qr X,Y,DATA]...\n"
    "                    [--data TABLE.csv] [--print N] [--check] --to URI\n\n"
    "Composes a label and prints N copies of it (default 1): the label size when\n"
    "given (--size 100x150mm, 4x6in; --gap in mm, default 2), CLS, each item, PRINT.\n"
    "  --text X,Y,TEXT            text in the printer's font 3\n"
    "  --barcode X,Y,TYPE,DATA    a barcode (TYPE 128, 39, EAN13, ...), 100 dots high\n"
    "  --qr X,Y,DATA              a QR code, cells of 6 dots, error correction M\n"
    "X and Y are dots from the label's top-left corner, or lengths as 15mm, 0.5in\n"
    "(at 203 dpi). The data is the rest of the value, commas and all. Example:\n"
    "  paloma label --size 100x150mm --text \"40,40,Hello\" \\\n"
    "    --barcode \"40,120,128,PALOMA-0001\" --qr \"40,300,https://example.com\" --print 1\n\n"
    "FILE is a label file, one JSON object:\n"
    "  {\"size\": \"100x150mm\", \"gap\": \"3mm\", \"dpi\": 203, \"speed\": 4, \"density\": 8,\n"
    "   \"items\": [\n"
    "     {\"text\": \"Order {order}\", \"x\": 40, \"y\": 40, \"font\": \"3\", \"scale\": 2},\n"
    "     {\"barcode\": \"{order}\", \"x\": 40, \"y\": \"15mm\", \"type\": \"128\", \"height\": 100,\n"
    "      \"readable\": 2, \"narrow\": 2, \"wide\": 2},\n"
    "     {\"qr\": \"https://example.com/o/{order}\", \"x\": 40, \"y\": 300, \"cell\": 6,\n"
    "      \"ecc\": \"M\"}]}\n"
    "Every item also takes \"rotation\"; text \"x_scale\" and \"y_scale\". Items given\n"
    "on the command line come after the file's, and --size replaces the file's.\n\n"
    "--data TABLE.csv prints one label per row of the table (its first line names\n"
    "the columns): \"{order}\" in an item's data is the row's \"order\" field,\n"
    "\"{counter}\" the row's number from 1; \"{{\" and \"}}\" are braces. Data with a\n"
    "double quote is refused (the printer would end the text there); data starting\n"
    "with @ names a variable of the printer. Every label is checked by the library's\n"
    "builders before the first byte goes to the printer; --check only checks.\n"
    "Exit code 0 printed (or checked), 1 the printer failed, 2 a wrong command\n"
    "line, label file or table.\n\n"
    "Printer addresses (URI):\n";

// Reads a whole file ('-' standard input), at most `max` bytes; false with
// the reason.
bool readWhole(const std::string& path, std::size_t max, std::string* out, std::string* why) {
  FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    *why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buf[65536];
  std::size_t n;
  bool tooBig = false;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (text.size() + n > max) {
      tooBig = true;
      break;
    }
    text.append(buf, n);
  }
  const bool bad = std::ferror(f);
  const int err = errno;
  if (f != stdin) std::fclose(f);
  if (bad) *why = "cannot read " + path + ": " + std::strerror(err);
  if (tooBig) *why = path + " is over " + humanBytes(static_cast<double>(max));
  if (bad || tooBig) return false;
  *out = std::move(text);
  return true;
}

int runLabel(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("label", argc, argv,
                    {kOptTo, kOptSize, kOptGap, kOptText, kOptBarcode, kOptQr, kOptData, kOptPrint,
                     kOptCheck},
                    &o, &rc))
    return rc;
  if (o.help) {
    std::printf("%s%s", kLabelHelp, kTargetForms);
    return kExitOk;
  }
  if (o.operands.size() > 1) return usageError("label", "give at most one label FILE");
  constexpr std::size_t kMaxFile = 16u << 20;
  LabelDesign design;
  std::string why;
  if (!o.operands.empty()) {
    std::string text;
    if (!readWhole(o.operands[0], kMaxFile, &text, &why)) return fail(why);
    if (!parseLabelFile(text, &design, &why)) return usageError("label", o.operands[0] + ": " + why);
  }
  if (!o.size.empty() && !parseLabelSize(o.size, &design.widthMm, &design.heightMm, &why))
    return usageError("label", "--size: " + why);
  if (!o.gap.empty()) {
    LabelDesign gapOnly;
    const std::string json = "{\"gap\":" + jsonString(o.gap) + ",\"items\":[]}";
    if (!parseLabelFile(json, &gapOnly, &why)) return usageError("label", "--gap: " + why);
    design.gapMm = gapOnly.gapMm;
  }
  for (const auto& [kind, value] : o.items) {
    LabelItem item;
    if (!parseItemOption(kind, value, design.dpi, &item, &why))
      return usageError("label", value + ": " + why);
    design.items.push_back(std::move(item));
  }
  if (design.items.empty())
    return usageError("label", "the label has nothing on it: give --text, --barcode, --qr or a FILE");
  long copies = 1;
  if (!o.print.empty() && !parseInt(o.print, 1, 999999, &copies))
    return usageError("label", "--print is a number of labels from 1 to 999999");
  Table table;
  if (!o.data.empty()) {
    std::string text;
    if (!readWhole(o.data, kMaxFile, &text, &why)) return fail(why);
    if (!parseCsv(text, &table, &why)) return usageError("label", o.data + ": " + why);
    if (table.rows.empty()) return usageError("label", o.data + " has no rows under its header");
  } else {
    table.rows.emplace_back();  // one label, no variable data
  }
  // Every label goes through the library's builders into nothing first, so
  // that a refused field stops the job before the printer sees any of it.
  {
    paloma_printer* sink = nullptr;
    if (paloma_open("file:/dev/null", &sink) != PALOMA_OK)
      return fail("cannot check the labels: " + reason("/dev/null does not open"));
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
      if (sendLabel(sink, design, table.columns, table.rows[i], i + 1, copies, &why) != PALOMA_OK) {
        paloma_close(sink);
        return usageError("label", (o.data.empty() ? "" : "row " + std::to_string(i + 1) + ": ") + why);
      }
    }
    paloma_close(sink);
  }
  if (o.check) {
    std::printf("%zu label%s checked\n", table.rows.size(), table.rows.size() == 1 ? "" : "s");
    return kExitOk;
  }
  Target t;
  if (!takeTarget("label", o, &t, &rc)) return rc;
  Connection c;
  if (!c.open(o.to, t, &why)) return fail(why);
  int result = kExitOk;
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    if (sendLabel(c.get(), design, table.columns, table.rows[i], i + 1, copies, &why) != PALOMA_OK) {
      result = fail("sending " + (o.data.empty() ? std::string("the label") : "row " + std::to_string(i + 1)) +
                    " to " + describe(t) + " failed: " + why);
      break;
    }
  }
  if (!c.close(&why) && result == kExitOk)
    result = fail("ending the job on " + describe(t) + " failed: " + why);
  return result;
}

// ---- printers ---------------------------------------------------------------------------

int runPrinters(int argc, char** argv) {
  Options o;
  int rc = 0;
  if (!parseOptions("printers", argc, argv, {kOptJson}, &o, &rc)) return rc;
  if (o.help) {
    std::printf(
        "Usage: paloma printers [--json]\n\n"
        "Lists the printers named in the configuration file, one \"NAME  URI\" line\n"
        "each, the default one marked with '*', and says which printer a command\n"
        "without --to goes to. --json prints one object: {\"printers\":[{\"name\":...,\n"
        "\"uri\":...}],\"default\":URI or null,\"from\":...}.\n\n%s",
        kDefaultPrinterHelp);
    return kExitOk;
  }
  if (!o.operands.empty()) return usageError("printers", "unexpected " + o.operands[0]);
  std::string why;
  PrinterBook book;
  if (!loadPrinterBook(&book, &why)) return fail(why);
  std::string defaultUri, from;
  if (auto chosen = choosePrinter("", std::getenv("PALOMA_PRINTER"),
                                  [&](PrinterBook* b, std::string*) {
                                    *b = book;
                                    return true;
                                  },
                                  &why)) {
    defaultUri = chosen->uri;
    from = chosen->source;
  }
  const std::string path = configPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (o.json) {
    std::string list;
    for (const auto& [name, uri] : book.printers)
      list += (list.empty() ? "" : ",") + std::string("{\"name\":") + jsonString(name) +
              ",\"uri\":" + jsonString(uri) + "}";
    std::printf("{\"printers\":[%s],\"default\":%s,\"from\":%s,\"config\":%s}\n", list.c_str(),
                defaultUri.empty() ? "null" : jsonString(defaultUri).c_str(),
                from.empty() ? "null" : jsonString(from).c_str(), jsonString(path).c_str());
    return kExitOk;
  }
  for (const auto& [name, uri] : book.printers)
    std::printf("%c %-16s %s\n", uri == defaultUri ? '*' : ' ', terminalText(name).c_str(),
                terminalText(uri).c_str());
  if (defaultUri.empty())
    std::printf("No default printer: %s\n", why.c_str());
  else
    std::printf("Without --to: %s (from %s)\n", terminalText(defaultUri).c_str(), from.c_str());
  return kExitOk;
}

// ---- dispatch ---------------------------------------------------------------------------------

const Command kCommands[] = {
    {"print", runPrint}, {"send", runSend}, {"status", runStatus},
    {"info", runInfo},   {"text", runText}, {"discover", runDiscover},
    {"image", runImage}, {"label", runLabel}, {"printers", runPrinters},
};

void printOverview(FILE* to) { std::fprintf(to, "%s%s%s", kOverview, kTargetForms, kTail); }

}  // namespace

int main(int argc, char** argv) {
  paloma_set_message_handler(onLibraryMessage, nullptr);
  if (argc < 2) {
    printOverview(stderr);
    return kExitUsage;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    printOverview(stdout);
    return kExitOk;
  }
  if (first == "--help-all") {
    // Every help text, for the manual page (help2man reads this).
    printOverview(stdout);
    static char helpFlag[] = "--help";
    const std::string addresses = std::string("Printer addresses (URI):\n") + kTargetForms;
    for (const Command& c : kCommands) {
      // Each command's help once more, without the addresses the overview has.
      std::fflush(stdout);
      FILE* captured = std::tmpfile();
      const int saved = captured ? dup(STDOUT_FILENO) : -1;
      if (saved < 0 || dup2(fileno(captured), STDOUT_FILENO) < 0) {
        if (captured) std::fclose(captured);
        if (saved >= 0) close(saved);
        return fail("cannot write the help texts");
      }
      char* helpArgv[] = {const_cast<char*>(c.name), helpFlag, nullptr};
      c.run(2, helpArgv);
      std::fflush(stdout);
      dup2(saved, STDOUT_FILENO);
      close(saved);
      std::string text;
      std::rewind(captured);
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, captured)) > 0) text.append(buf, n);
      std::fclose(captured);
      if (text.size() >= addresses.size() &&
          text.compare(text.size() - addresses.size(), addresses.size(), addresses) == 0)
        text.resize(text.size() - addresses.size());
      while (!text.empty() && text.back() == '\n') text.pop_back();
      std::printf("\nThe %s command:\n\n%s\n", c.name, text.c_str());
    }
    return kExitOk;
  }
  if (first == "--version") {
    std::printf("paloma %s\n", PALOMA_VERSION);
    return kExitOk;
  }
  if (first == "help") {
    if (argc < 3) {
      printOverview(stdout);
      return kExitOk;
    }
    first = argv[2];
    static char helpFlag[] = "--help";
    char* helpArgv[] = {argv[2], helpFlag, nullptr};
    for (const Command& c : kCommands)
      if (first == c.name) return c.run(2, helpArgv);
    return usageError(nullptr, "no command \"" + first + "\"");
  }
  for (const Command& c : kCommands)
    if (first == c.name) return c.run(argc - 1, argv + 1);
  return usageError(nullptr, "no command \"" + first + "\"");
}

}  // namespace paloma_cli

int main(int argc, char** argv) { return paloma_cli::main(argc, argv); }
