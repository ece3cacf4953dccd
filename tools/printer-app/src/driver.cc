#include "driver.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "device_link.h"
#include "label_page.h"
#include "status_reasons.h"

namespace paloma::printapp {

AppSettings& settings() {
  static AppSettings s;
  return s;
}

pappl_pr_driver_t kDrivers[] = {
    {"paloma", "PALOMA label printer (resolution as the printer reports)", nullptr, nullptr},
    {"paloma_203dpi", "PALOMA label printer 203 dpi", nullptr, nullptr},
    {"paloma_300dpi", "PALOMA label printer 300 dpi", nullptr, nullptr},
    {"paloma_600dpi", "PALOMA label printer 600 dpi", nullptr, nullptr},
};
const int kNumDrivers = static_cast<int>(sizeof kDrivers / sizeof kDrivers[0]);

// The printer's status byte read on an open device; false when it did not
// answer.
static bool readStatusByte(pappl_printer_t* printer, pappl_device_t* device, uint8_t* byte);
// Sets the printer's state reasons (and pause) from a status byte, or marks
// it offline when `answered` is false.
static void applyStatus(pappl_printer_t* printer, bool answered, uint8_t byte);

namespace {

// Label sizes offered as media; any other size from 10 x 5 mm to 108 x 1000 mm
// is taken as a custom size.
const char* const kMedia[] = {
    "oe_4x6-label_4x6in",     "om_100x150mm_100x150mm", "oe_4x4-label_4x4in",
    "oe_4x3-label_4x3in",     "oe_4x2-label_4x2in",     "oe_2x1-label_2x1in",
    "om_100x100mm_100x100mm", "om_100x50mm_100x50mm",   "om_62x100mm_62x100mm",
    "om_62x29mm_62x29mm",     "om_57x32mm_57x32mm",     "om_50x30mm_50x30mm",
    "om_40x30mm_40x30mm",     "custom_min_10x5mm",      "custom_max_108x1000mm",
};

// A band of this many rows goes out as one BITMAP command.
constexpr unsigned kBandRows = 64;
// The page may exceed the label by rounding, no more.
constexpr double kPageSlackMm = 1.0;

int resolutionOfDriver(const char* name) {
  if (!std::strcmp(name, "paloma_300dpi")) return 300;
  if (!std::strcmp(name, "paloma_600dpi")) return 600;
  if (!std::strcmp(name, "paloma_203dpi")) return 203;
  return 0;  // ask the printer
}

// The dpi the printer reports through the information query, or 0.
int askPrinterDpi(const char* deviceUri) {
  // A socket:// printer is asked on a connection of the query's own; a
  // paloma: device through its handle.
  const bool socket = !tcpUriOfSocket(deviceUri).empty();
  pappl_device_t* device = socket ? nullptr : papplDeviceOpen(deviceUri, "dpi", nullptr, nullptr);
  if (!socket && !device) return 0;
  int dpi = 0;
  std::string reply;
  if (queryDpi(device, deviceUri, settings().replyTimeoutMs, &reply)) {
    dpi = std::atoi(reply.c_str());
    if (dpi != 203 && dpi != 300 && dpi != 600) dpi = 0;
  }
  if (device) papplDeviceClose(device);
  return dpi;
}

// The dpi each printer last reported, kept in a file beside the state so
// that a printer switched off when the server starts keeps its resolution.
std::mutex dpiLock;

std::map<std::string, int> loadDpis() {
  std::map<std::string, int> dpis;
  if (settings().dpiFile.empty()) return dpis;
  std::ifstream in(settings().dpiFile);
  std::string uri;
  int dpi;
  while (in >> dpi && std::getline(in >> std::ws, uri))
    if (dpi == 203 || dpi == 300 || dpi == 600) dpis[uri] = dpi;
  return dpis;
}

int rememberedDpi(const std::string& uri) {
  std::lock_guard<std::mutex> guard(dpiLock);
  const auto dpis = loadDpis();
  const auto it = dpis.find(uri);
  return it == dpis.end() ? 0 : it->second;
}

void rememberDpi(const std::string& uri, int dpi) {
  if (settings().dpiFile.empty() || uri.find_first_of("\r\n") != std::string::npos) return;
  std::lock_guard<std::mutex> guard(dpiLock);
  auto dpis = loadDpis();
  if (dpis[uri] == dpi) return;
  dpis[uri] = dpi;
  const std::string temp = settings().dpiFile + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const auto& [u, d] : dpis) out << d << ' ' << u << '\n';
    if (!out) return;
  }
  std::rename(temp.c_str(), settings().dpiFile.c_str());
}

struct JobState {
  PageSetup setup;
  int copies = 1;
  bool statusUnanswered = false;  // the printer did not answer: not asked again in this job
  std::unique_ptr<BandWriter> writer;
};

JobState* stateOf(pappl_job_t* job) { return static_cast<JobState*>(papplJobGetData(job)); }

bool writeAll(pappl_device_t* device, const void* data, size_t size) {
  return papplDeviceWrite(device, data, size) == static_cast<ssize_t>(size);
}

// Waits while the printer reports a fault that stops printing, up to the
// fault wait; false when the job was cancelled or the wait ran out.
bool waitWhileFaulted(pappl_job_t* job, pappl_device_t* device, JobState* state) {
  if (state->statusUnanswered) return true;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const int interval = std::max(1, std::min(settings().statusIntervalSeconds, 5));
  int waited = 0;
  bool announced = false;
  for (;;) {
    uint8_t byte = 0;
    if (!readStatusByte(printer, device, &byte)) {
      // A printer that does not answer status queries still takes jobs.
      papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                  "The printer did not answer the status query; printing without it.");
      state->statusUnanswered = true;
      return true;
    }
    applyStatus(printer, true, byte);
    const StatusReasons r = reasonsForStatus(byte);
    if (!r.blocksPrinting) {
      if (announced) {
        papplJobSetMessage(job, "Printing.");
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The printer is ready again; printing resumes.");
      }
      return true;
    }
    if (!announced) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Waiting for the printer: %s.", r.text.c_str());
      papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
      announced = true;
    }
    papplJobSetMessage(job, "Waiting for the printer: %s.", r.text.c_str());
    if (papplJobIsCanceled(job)) return false;
    if (waited >= settings().faultWaitSeconds) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                  "The printer reported \"%s\" for %d seconds; the job is stopped.",
                  r.text.c_str(), waited);
      return false;
    }
    for (int i = 0; i < interval * 10 && !papplJobIsCanceled(job); ++i) usleep(100 * 1000);
    waited += interval;
  }
}

}  // namespace

const char* autoaddCallback(const char*, const char*, const char* deviceId, void*) {
  // A printer that names our command set in its device ID.
  if (deviceId && std::strstr(deviceId, "CMD:PALOMA")) return "paloma";
  return nullptr;
}

bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char*, pappl_pr_driver_data_t* data, ipp_t**, void*) {
  int dpi = resolutionOfDriver(driverName);
  if (dpi == 0) {
    if (std::strcmp(driverName, "paloma") != 0) {
      papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver \"%s\".", driverName);
      return false;
    }
    dpi = deviceUri ? askPrinterDpi(deviceUri) : 0;
    if (dpi != 0 && deviceUri) {
      rememberDpi(deviceUri, dpi);
    } else if (deviceUri && (dpi = rememberedDpi(deviceUri)) != 0) {
      // Off when the server started: what it answered last time.
      papplLog(system, PAPPL_LOGLEVEL_WARN,
               "The printer at \"%s\" did not report its resolution; %d dpi, as it last did.",
               deviceUri, dpi);
    } else {
      papplLog(system, PAPPL_LOGLEVEL_WARN,
               "The printer at \"%s\" did not report its resolution; 203 dpi is assumed.",
               deviceUri ? deviceUri : "(none)");
      dpi = 203;
    }
  }

  data->rstartjob_cb = rasterStartJob;
  data->rstartpage_cb = rasterStartPage;
  data->rwriteline_cb = rasterWriteLine;
  data->rendpage_cb = rasterEndPage;
  data->rendjob_cb = rasterEndJob;
  data->status_cb = pollStatus;
  data->format = "application/vnd.paloma-label";
  std::snprintf(data->make_and_model, sizeof data->make_and_model, "PALOMA label printer %d dpi",
                dpi);
  data->ppm = 30;
  data->kind = PAPPL_KIND_LABEL | PAPPL_KIND_ROLL;
  data->orient_default = IPP_ORIENT_NONE;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->color_supported = PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->scaling_default = PAPPL_SCALING_AUTO_FIT;  // never crop a label's content
  // Pages reach the driver as one-bit black: the framework passes black_1
  // rasters through and dithers gray ones (and pictures) to it.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = dpi;
  data->x_default = data->y_default = dpi;
  // Labels print edge to edge.
  data->left_right = 0;
  data->bottom_top = 0;
  data->borderless = true;

  data->num_media = static_cast<int>(sizeof kMedia / sizeof kMedia[0]);
  for (int i = 0; i < data->num_media; ++i) data->media[i] = kMedia[i];
  data->num_source = 1;
  data->source[0] = "main-roll";
  data->num_type = 2;
  data->type[0] = "labels";
  data->type[1] = "continuous";
  data->tracking_supported =
      PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK | PAPPL_MEDIA_TRACKING_CONTINUOUS;
  data->top_offset_supported[0] = 0;
  data->top_offset_supported[1] = 2000;  // hundredths of a millimetre

  pappl_media_col_t& ready = data->media_ready[0];
  std::memset(&ready, 0, sizeof ready);
  std::snprintf(ready.size_name, sizeof ready.size_name, "%s", "oe_4x6-label_4x6in");
  ready.size_width = 10160;
  ready.size_length = 15240;
  std::snprintf(ready.source, sizeof ready.source, "%s", "main-roll");
  std::snprintf(ready.type, sizeof ready.type, "%s", "labels");
  ready.tracking = PAPPL_MEDIA_TRACKING_GAP;
  data->media_default = ready;

  data->darkness_supported = 16;
  data->darkness_configured = 50;
  data->darkness_default = 0;
  data->speed_supported[0] = 2540;       // 1 inch a second
  data->speed_supported[1] = 6 * 2540;   // 6 inches a second
  data->speed_default = 4 * 2540;
  data->mode_supported = PAPPL_LABEL_MODE_TEAR_OFF;
  data->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
  return true;
}

static bool readStatusByte(pappl_printer_t* printer, pappl_device_t* device, uint8_t* byte) {
  return queryStatus(device, papplPrinterGetDeviceURI(printer), settings().replyTimeoutMs, byte);
}

static void applyStatus(pappl_printer_t* printer, bool answered, uint8_t byte) {
  if (!answered) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE,
                           kManagedReasons & ~PAPPL_PREASON_OFFLINE);
    return;
  }
  const StatusReasons r = reasonsForStatus(byte);
  papplPrinterSetReasons(printer, r.reasons, kManagedReasons & ~r.reasons);
  // The printer's own pause shows as the queue's "paused"; only a pause made
  // here is undone here, one made by an operator stays.
  static std::mutex lock;
  static std::set<pappl_printer_t*> pausedHere;
  std::lock_guard<std::mutex> guard(lock);
  if (r.paused && papplPrinterGetState(printer) != IPP_PSTATE_STOPPED &&
      !pausedHere.count(printer)) {
    pausedHere.insert(printer);
    papplPrinterPause(printer);
  } else if (!r.paused && pausedHere.erase(printer)) {
    papplPrinterResume(printer);
  }
}

bool pollStatus(pappl_printer_t* printer) {
  // The poll runs on the server's own loop: a printer that did not answer is
  // asked again only after kOfflineRetrySeconds, so that a switched-off
  // printer does not hold the loop up on every round.
  constexpr int kOfflineRetrySeconds = 30;
  static std::mutex lock;
  static std::map<pappl_printer_t*, time_t> offlineSince;
  {
    std::lock_guard<std::mutex> guard(lock);
    auto it = offlineSince.find(printer);
    if (it != offlineSince.end() && time(nullptr) - it->second < kOfflineRetrySeconds) return true;
  }
  if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) return true;  // the job asks
  uint8_t byte = 0;
  bool answered = false;
  const char* uri = papplPrinterGetDeviceURI(printer);
  if (!tcpUriOfSocket(uri).empty()) {
    answered = queryStatus(nullptr, uri, settings().replyTimeoutMs, &byte);
  } else {
    // A device that does not open is offline (or, rarely, just taken by a
    // job starting now, which then sets the reasons itself).
    if (pappl_device_t* device = papplPrinterOpenDevice(printer)) {
      answered = readStatusByte(printer, device, &byte);
      papplPrinterCloseDevice(printer);
    }
  }
  applyStatus(printer, answered, byte);
  std::lock_guard<std::mutex> guard(lock);
  if (answered)
    offlineSince.erase(printer);
  else
    offlineSince[printer] = time(nullptr);
  return true;
}

bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetData(job, new JobState);
  return true;
}

bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page) {
  JobState* state = stateOf(job);
  if (!state) return false;
  const auto& h = options->header;

  // The framework hands every page over as one-bit black (force_raster_type).
  if (h.cupsBitsPerPixel != 1 || h.cupsColorSpace != CUPS_CSPACE_K) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "Page %u: %u bits a dot in color space %d cannot be printed (one-bit black can).",
                page + 1, h.cupsBitsPerPixel, static_cast<int>(h.cupsColorSpace));
    papplJobSetMessage(job, "Unsupported raster type.");
    return false;
  }
  if (h.HWResolution[0] == 0 || h.HWResolution[1] == 0 || h.cupsWidth == 0 || h.cupsHeight == 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u has no size or no resolution.", page + 1);
    return false;
  }

  // The label: the job's media.
  PageSetup& setup = state->setup;
  setup.widthMm = options->media.size_width / 100.0;
  setup.heightMm = options->media.size_length / 100.0;
  const double pageWidthMm = h.cupsWidth * 25.4 / h.HWResolution[0];
  const double pageHeightMm = h.cupsHeight * 25.4 / h.HWResolution[1];
  if (setup.widthMm <= 0 || setup.heightMm <= 0) {
    setup.widthMm = pageWidthMm;
    setup.heightMm = pageHeightMm;
  }
  if (pageWidthMm > setup.widthMm + kPageSlackMm || pageHeightMm > setup.heightMm + kPageSlackMm) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "Page %u is %.1f x %.1f mm, larger than the %.1f x %.1f mm label.", page + 1,
                pageWidthMm, pageHeightMm, setup.widthMm, setup.heightMm);
    papplJobSetMessage(job, "The page is larger than the label.");
    return false;
  }
  if (!std::strcmp(options->media.type, "continuous") ||
      options->media.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS)
    setup.tracking = Tracking::kContinuous;
  else if (options->media.tracking == PAPPL_MEDIA_TRACKING_MARK)
    setup.tracking = Tracking::kMark;
  else
    setup.tracking = Tracking::kGap;
  setup.offsetMm = options->media.top_offset / 100.0;
  setup.density = densityFromDarkness(options->darkness_configured, options->print_darkness);
  setup.speed = speedFromIpp(options->print_speed, 4);
  // The framework repeats the page of a JPEG or PNG job itself for each
  // copy; other rasters come once and the printer makes the copies.
  const char* documentFormat = papplJobGetFormat(job);
  const bool pictureJob = documentFormat && (!std::strcmp(documentFormat, "image/png") ||
                                             !std::strcmp(documentFormat, "image/jpeg"));
  state->copies = pictureJob ? 1 : std::max(1, options->copies);
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page %u of %s: PRINT 1,%d.", page + 1,
              documentFormat ? documentFormat : "?", state->copies);

  if (!waitWhileFaulted(job, device, state)) return false;

  const std::string start = pageStartCommands(setup);
  if (!writeAll(device, start.data(), start.size())) return false;
  state->writer = std::make_unique<BandWriter>(
      h.cupsWidth, h.cupsHeight, kBandRows,
      [device](const void* data, size_t size) { return writeAll(device, data, size); });
  return true;
}

bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
  JobState* state = stateOf(job);
  if (!state || !state->writer) return false;
  // A raster page longer than the label it was sent for comes with more
  // rows than the label has: the job stops rather than print it cut.
  if (y >= options->header.cupsHeight) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "The page has more rows than the %.1f x %.1f mm label (%u at %u dpi).",
                state->setup.widthMm, state->setup.heightMm, options->header.cupsHeight,
                options->header.HWResolution[1]);
    papplJobSetMessage(job, "The page is larger than the label.");
    return false;
  }
  return state->writer->addLine(y, line);
}

bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned) {
  JobState* state = stateOf(job);
  if (!state || !state->writer) return false;
  const bool ok = state->writer->finish();
  state->writer.reset();
  if (!ok) return false;
  const std::string end = pageEndCommand(state->copies);
  if (!writeAll(device, end.data(), end.size())) return false;
  papplDeviceFlush(device);
  return true;
}

bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  delete stateOf(job);
  papplJobSetData(job, nullptr);
  papplDeviceFlush(device);
  return true;
}

}  // namespace paloma::printapp
