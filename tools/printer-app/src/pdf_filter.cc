#include "pdf_filter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver.h"
#include "image/image.h"

extern char** environ;

namespace paloma::printapp {

namespace {

using Clock = std::chrono::steady_clock;

// The page count of a PDF takes this long at most.
constexpr int kCountSeconds = 30;
// Dots on a side of a page the converter is asked for, at most.
constexpr unsigned kMaxDimension = image::kMaxDotsHigh;

// A converter process whose standard output is read through a pipe. It is
// stopped (SIGKILL) and reaped on every path.
class Converter {
 public:
  ~Converter() { stop(); }

  bool start(const std::vector<std::string>& args, std::string* error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      *error = std::string("pipe: ") + std::strerror(errno);
      return false;
    }
    char errTemplate[] = "/tmp/paloma-printer-app-gs-XXXXXX";
    errFd_ = mkostemp(errTemplate, O_CLOEXEC);
    if (errFd_ >= 0) unlink(errTemplate);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (errFd_ >= 0)
      posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
    else
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      pid_ = -1;
      *error = "cannot run " + args[0] + ": " + std::strerror(rc) +
               " (install Ghostscript: apt-get install ghostscript)";
      return false;
    }
    out_ = fds[0];
    return true;
  }

  // Reads exactly `size` bytes before `deadline`; false on end of output,
  // time-out or when `cancelled` says so.
  bool read(void* buffer, size_t size, Clock::time_point deadline, pappl_job_t* job) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
      if (job && papplJobIsCanceled(job)) return false;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        timedOut_ = true;
        return false;
      }
      pollfd pfd{out_, POLLIN, 0};
      const int ready = poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 250)));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      const ssize_t n = ::read(out_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  // Reads what is left (at most `limit` bytes) until the output ends.
  std::string readRest(size_t limit, Clock::time_point deadline) {
    std::string text;
    char c;
    while (text.size() < limit && read(&c, 1, deadline, nullptr)) text += c;
    return text;
  }

  // Waits for the converter to end (killing it after a short bound);
  // true when it exited with 0.
  bool finish() {
    if (out_ >= 0) close(out_);
    out_ = -1;
    if (pid_ < 0) return false;
    int status = 0;
    for (int i = 0; i < 50; ++i) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      usleep(100 * 1000);
    }
    stop();
    return false;
  }

  void stop() {
    if (out_ >= 0) close(out_);
    out_ = -1;
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (errFd_ >= 0) close(errFd_);
    errFd_ = -1;
  }

  // The start of what the converter wrote on its standard error.
  std::string errorText() const {
    if (errFd_ < 0) return {};
    char buffer[400];
    const ssize_t n = pread(errFd_, buffer, sizeof buffer - 1, 0);
    if (n <= 0) return {};
    std::string text(buffer, static_cast<size_t>(n));
    for (char& c : text)
      if (c == '\n' || c == '\r') c = ' ';
    return text;
  }

  bool timedOut() const { return timedOut_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int errFd_ = -1;
  bool timedOut_ = false;
};

const char* ghostscript() {
  const char* gs = std::getenv("PALOMA_PRINTER_APP_GS");
  return gs && *gs ? gs : "gs";
}

// The number of pages, or -1 when the converter could not tell.
long countPages(const char* file, std::string* error) {
  std::string program = "(";
  for (const char* p = file; *p; ++p) {
    if (*p == '(' || *p == ')' || *p == '\\') program += '\\';
    program += *p;
  }
  program += ") (r) file runpdfbegin pdfpagecount = quit";
  Converter c;
  if (!c.start({ghostscript(), "-q", "-dNODISPLAY", "-dSAFER", "-dBATCH",
                std::string("--permit-file-read=") + file, "-c", program},
               error))
    return -1;
  const std::string text =
      c.readRest(64, Clock::now() + std::chrono::seconds(kCountSeconds));
  const bool timedOut = c.timedOut();
  const bool ok = c.finish();
  if (timedOut) {
    *error = "counting its pages took longer than " + std::to_string(kCountSeconds) + " s";
    return -1;
  }
  char* end = nullptr;
  const long pages = std::strtol(text.c_str(), &end, 10);
  if (!ok || end == text.c_str() || pages < 0) {
    *error = "it is not a PDF the converter can read";
    const std::string detail = c.errorText();
    if (!detail.empty()) *error += " (" + detail + ")";
    return -1;
  }
  return pages;
}

// A rendered gray page to dots by error diffusion, as the library's
// pictures are made.
bool toDots(pappl_job_t* job, const std::vector<uint8_t>& gray, unsigned width, unsigned height,
            image::BitImage* bits) {
  image::PixelView view;
  view.data = gray.data();
  view.width = static_cast<int>(width);
  view.height = static_cast<int>(height);
  view.stride = width;
  view.format = image::PixelFormat::Gray8;
  image::GrayImage linear;
  const image::Outcome o =
      image::scaleToGray(view, static_cast<int>(width), static_cast<int>(height), 0, &linear);
  if (!o.ok()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The page could not be converted to dots: %s.",
                o.reason.c_str());
    return false;
  }
  image::Options options;
  options.dither = image::Dither::Diffusion;
  *bits = image::toOneBit(linear, options);
  return bits->height == static_cast<int>(height) &&
         bits->rowBytes == static_cast<int>((width + 7) / 8);
}

}  // namespace

long parsePgmHeader(const char* data, size_t size, unsigned maxDimension, unsigned* width,
                    unsigned* height) {
  if (size >= 1 && data[0] != 'P') return -1;
  if (size >= 2 && data[1] != '5') return -1;
  size_t i = 2;
  unsigned long values[3];
  for (int v = 0; v < 3; ++v) {
    // Blanks and comments before each number.
    for (;;) {
      if (i >= size) return 0;
      if (data[i] == '#') {
        while (i < size && data[i] != '\n') ++i;
        continue;
      }
      if (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n') {
        ++i;
        continue;
      }
      break;
    }
    if (data[i] < '0' || data[i] > '9') return -1;
    unsigned long n = 0;
    while (i < size && data[i] >= '0' && data[i] <= '9') {
      n = n * 10 + static_cast<unsigned long>(data[i] - '0');
      if (n > 1000000) return -1;
      ++i;
    }
    if (i >= size) return 0;
    values[v] = n;
  }
  // One blank ends the header.
  if (data[i] != ' ' && data[i] != '\t' && data[i] != '\r' && data[i] != '\n') return -1;
  if (values[0] == 0 || values[1] == 0 || values[0] > maxDimension || values[1] > maxDimension ||
      values[2] != 255)
    return -1;
  *width = static_cast<unsigned>(values[0]);
  *height = static_cast<unsigned>(values[1]);
  return static_cast<long>(i + 1);
}

bool pdfFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  const char* file = papplJobGetFilename(job);
  const AppSettings& s = settings();
  std::string error;
  const long pages = countPages(file, &error);
  if (pages < 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The PDF cannot be printed: %s.", error.c_str());
    papplJobSetMessage(job, "The PDF cannot be read.");
    return false;
  }
  if (pages == 0 || pages > s.maxPdfPages) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "The PDF has %ld pages; a job may have 1 to %d (server option max-pdf-pages).",
                pages, s.maxPdfPages);
    papplJobSetMessage(job, "The PDF has %ld pages, more than %d.", pages, s.maxPdfPages);
    return false;
  }

  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, static_cast<unsigned>(pages), false);
  if (!options) return false;
  // The converter renders gray; the library's picture conversion makes the
  // dots, and the pages reach the driver as one-bit black like any other.
  auto& h = options->header;
  h.cupsBitsPerColor = 1;
  h.cupsBitsPerPixel = 1;
  h.cupsColorSpace = CUPS_CSPACE_K;
  h.cupsNumColors = 1;
  h.cupsBytesPerLine = (h.cupsWidth + 7) / 8;
  const unsigned width = h.cupsWidth;
  const unsigned height = h.cupsHeight;
  if (width == 0 || height == 0 || width > image::kMaxDotsWide || height > image::kMaxDotsHigh) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The label's size in dots (%u x %u) is refused.", width,
                height);
    papplJobDeletePrintOptions(options);
    return false;
  }

  const std::vector<std::string> args = {
      ghostscript(),
      "-q",
      "-dSAFER",
      "-dBATCH",
      "-dNOPAUSE",
      "-sDEVICE=pgmraw",
      "-r" + std::to_string(h.HWResolution[0]) + "x" + std::to_string(h.HWResolution[1]),
      "-g" + std::to_string(width) + "x" + std::to_string(height),
      "-dFIXEDMEDIA",
      "-dPDFFitPage",
      "-dTextAlphaBits=1",
      "-dGraphicsAlphaBits=1",
      "-dFirstPage=1",
      "-dLastPage=" + std::to_string(pages),
      "-sstdout=%stderr",
      "-sOutputFile=-",
      "-f",
      file};
  Converter gs;
  if (!gs.start(args, &error)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobDeletePrintOptions(options);
    return false;
  }

  papplJobSetImpressions(job, static_cast<int>(pages));
  bool ok = rasterStartJob(job, options, device);
  std::vector<unsigned char> line((width + 7) / 8);
  std::vector<uint8_t> gray(static_cast<size_t>(width) * height);
  long page = 0;
  for (; ok && page < pages; ++page) {
    const auto deadline = Clock::now() + std::chrono::seconds(s.pdfPageSeconds);
    char header[1024];
    size_t have = 0;
    unsigned w = 0, hgt = 0;
    long headerSize = 0;
    while (headerSize == 0 && have < sizeof header) {
      if (!gs.read(header + have, 1, deadline, job)) break;
      ++have;
      headerSize = parsePgmHeader(header, have, kMaxDimension, &w, &hgt);
    }
    if (headerSize <= 0 || w != width || hgt != height) {
      if (!papplJobIsCanceled(job))
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %ld did not come from the converter%s.",
                    page + 1, gs.timedOut() ? " in time" : "");
      ok = false;
      break;
    }
    ok = gs.read(gray.data(), gray.size(), deadline, job);
    image::BitImage bits;
    if (ok) ok = toDots(job, gray, width, height, &bits);
    if (ok) ok = rasterStartPage(job, options, device, static_cast<unsigned>(page));
    const size_t rowBytes = h.cupsBytesPerLine;
    for (unsigned y = 0; ok && y < height; ++y) {
      // The picture's rows have 0 for black, the raster 1.
      for (size_t i = 0; i < rowBytes; ++i) line[i] = static_cast<unsigned char>(~bits.bytes[y * rowBytes + i]);
      ok = rasterWriteLine(job, options, device, y, line.data());
    }
    if (ok) ok = rasterEndPage(job, options, device, static_cast<unsigned>(page));
    if (ok) papplJobSetImpressionsCompleted(job, 1);
  }
  if (!ok && !papplJobIsCanceled(job)) {
    const std::string detail = gs.errorText();
    if (!detail.empty())
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The converter said: %s", detail.c_str());
  }
  gs.stop();
  rasterEndJob(job, options, device);
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace paloma::printapp
