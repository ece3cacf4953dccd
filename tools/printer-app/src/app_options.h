// The command line: the long forms this program adds to the framework's
// sub-commands, the server's -o options, and the --help text.
#ifndef PALOMA_PRINTAPP_APP_OPTIONS_H
#define PALOMA_PRINTAPP_APP_OPTIONS_H

#include <cups/cups.h>
#include <pappl/pappl.h>

#include <string>
#include <vector>

#include "driver.h"

namespace paloma::printapp {

struct ServerConfig {
  int port = 8631;
  std::string listenHost = "localhost";  // "*": every address
  std::string spoolDirectory;            // empty: the framework's own
  std::string logFile = "-";
  pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_INFO;
  std::string stateFile;
  AppSettings app;
};

// Reads the server's -o options; on failure `error` names the option and the
// form it takes.
bool parseServerOptions(int n, cups_option_t* options, ServerConfig* config, std::string* error);

// The framework's argument list from ours: "add NAME" becomes "add -d NAME",
// --device-uri (or --device-uri=) becomes -v, --driver -m, --printer -d.
bool translateArguments(int argc, char* argv[], std::vector<std::string>* out,
                        std::string* error);

// The --help text.
std::string usageText();

}  // namespace paloma::printapp

#endif
