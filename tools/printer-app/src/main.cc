// paloma-printer-app: an IPP Everywhere printer application for PALOMA's
// label printers. The framework's main loop gives the sub-commands (server,
// add, submit, status, ...); this file gives the system it serves, the
// drivers and the document filters.
#include <pappl/pappl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app_options.h"
#include "device_link.h"
#include "driver.h"
#include "pdf_filter.h"
#include "picture_filter.h"

#ifndef PALOMA_VERSION
#define PALOMA_VERSION "0"
#endif

namespace pa = paloma::printapp;

namespace {

const char* detectFormat(const unsigned char* header, size_t size, void*) {
  if (size >= 5 && !std::memcmp(header, "%PDF-", 5)) return "application/pdf";
  return nullptr;
}

bool pollAll(pappl_system_t* system, void*) {
  papplSystemIteratePrinters(
      system, [](pappl_printer_t* printer, void*) { pa::pollStatus(printer); }, nullptr);
  return true;
}

bool saveState(pappl_system_t* system, void* data) {
  return papplSystemSaveState(system, static_cast<const char*>(data));
}

pappl_system_t* createSystem(int n, cups_option_t* options, void*) {
  pa::ServerConfig config;
  std::string error;
  if (!pa::parseServerOptions(n, options, &config, &error)) {
    std::fprintf(stderr, "paloma-printer-app: %s\n", error.c_str());
    return nullptr;
  }
  pa::settings() = config.app;
  if (!config.stateFile.empty()) pa::settings().dpiFile = config.stateFile + ".dpi";

  pappl_system_t* system = papplSystemCreate(
      static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                    PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_NO_TLS),
      "PALOMA Printer Application", config.port, "_print,_universal",
      config.spoolDirectory.empty() ? nullptr : config.spoolDirectory.c_str(),
      config.logFile.c_str(), config.logLevel, nullptr, false);
  if (!system) {
    std::fprintf(stderr, "paloma-printer-app: the server could not be set up.\n");
    return nullptr;
  }
  const char* listen = config.listenHost == "*" ? nullptr : config.listenHost.c_str();
  if (!papplSystemAddListeners(system, listen)) {
    std::fprintf(stderr,
                 "paloma-printer-app: cannot listen on %s port %d (is it taken? choose another "
                 "with -o server-port=N).\n",
                 config.listenHost.c_str(), config.port);
    papplSystemDelete(system);
    return nullptr;
  }
  if (config.listenHost != "*") papplSystemSetHostName(system, config.listenHost.c_str());
  papplSystemSetPrinterDrivers(system, pa::kNumDrivers, pa::kDrivers, pa::autoaddCallback,
                               nullptr, pa::driverCallback, nullptr);
  papplSystemSetFooterHTML(system, "PALOMA label printers");
  papplSystemSetMIMECallback(system, detectFormat, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", pa::pdfFilter,
                           nullptr);
  // In place of the framework's own readers: its PNG reader loops on a file
  // cut short, and its JPEG reader prints what came of one as half a label.
  papplSystemAddMIMEFilter(system, "image/png", "application/vnd.paloma-label",
                           pa::pictureFilter, nullptr);
  papplSystemAddMIMEFilter(system, "image/jpeg", "application/vnd.paloma-label",
                           pa::pictureFilter, nullptr);
  papplSystemAddTimerCallback(system, 0, config.app.statusIntervalSeconds, pollAll, nullptr);

  static std::string stateFile;
  stateFile = config.stateFile;
  if (!stateFile.empty()) {
    papplSystemLoadState(system, stateFile.c_str());
    papplSystemSetSaveCallback(system, saveState, const_cast<char*>(stateFile.c_str()));
  }
  return system;
}

void usage(void*) { std::fputs(pa::usageText().c_str(), stdout); }

}  // namespace

int main(int argc, char* argv[]) {
  pa::addPalomaScheme();
  std::vector<std::string> args;
  std::string error;
  if (!pa::translateArguments(argc, argv, &args, &error)) {
    std::fprintf(stderr, "paloma-printer-app: %s\n", error.c_str());
    return 2;
  }
  std::vector<char*> argvOut;
  for (std::string& a : args) argvOut.push_back(a.data());
  argvOut.push_back(nullptr);
  return papplMainloop(static_cast<int>(args.size()), argvOut.data(), PALOMA_VERSION, nullptr,
                       pa::kNumDrivers, pa::kDrivers, pa::autoaddCallback, pa::driverCallback,
                       nullptr, nullptr, createSystem, usage, nullptr);
}
