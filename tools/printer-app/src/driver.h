// The printer driver: the printer's capabilities (media, resolutions,
// darkness, speed), the raster callbacks that turn each page into label
// commands, and the status the printer reports.
#ifndef PALOMA_PRINTAPP_DRIVER_H
#define PALOMA_PRINTAPP_DRIVER_H

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace paloma::printapp {

// Settings of the running application (server options, see main.cc).
struct AppSettings {
  int statusIntervalSeconds = 5;  // status poll while idle
  int faultWaitSeconds = 3600;    // how long a job waits for a fault to clear
  int maxPdfPages = 1000;         // pages of one PDF job
  int pdfPageSeconds = 60;        // the converter's time for one page
  int replyTimeoutMs = 2000;      // a query's answer
  std::string dpiFile;            // each printer's last reported dpi ("" keeps none)
};
AppSettings& settings();

// The drivers the application offers.
extern pappl_pr_driver_t kDrivers[];
extern const int kNumDrivers;

bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbData);
const char* autoaddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* data);

// Opens the printer's device when no job holds it, reads and applies its
// status. Used by the poll timer and as the framework's status callback.
bool pollStatus(pappl_printer_t* printer);

// The raster callbacks (also driven by the PDF filter).
bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace paloma::printapp

#endif
