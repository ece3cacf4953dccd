#include "target.h"

#include <cctype>
#include <cstdlib>

namespace paloma_cli {

const char* const kTargetForms =
    "  tcp://HOST[:PORT]              a networked printer (port 9100 when not given)\n"
    "  serial:/dev/TTY[?baud=N]       a serial port (N: 2400, 4800, 9600, 19200, 38400,\n"
    "                                 57600 or 115200; 9600 when not given)\n"
    "  usb:                           the first USB printer of the maker\n"
    "  queue:NAME                     a printer of the local print spooler\n"
    "  queue://SERVER[:PORT]/NAME     a printer on a print server (port 631 when not given)\n"
    "  /dev/...                       a device path (serial, parallel or USB printer file)\n";

namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// A host name or dotted address: letters, digits, dots and hyphens.
bool validHost(std::string_view h) {
  if (h.empty() || h.size() > 253) return false;
  for (char c : h)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
  return true;
}

// A decimal port 1..65535.
bool parsePort(std::string_view text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 65535) return false;
  *port = v;
  return true;
}

// HOST or HOST:PORT; `port` is left alone when none is given.
bool splitHostPort(std::string_view hp, std::string* host, int* port, std::string* why,
                   std::string_view what) {
  auto colon = hp.rfind(':');
  std::string_view h = colon == std::string_view::npos ? hp : hp.substr(0, colon);
  if (!validHost(h)) {
    *why = std::string(what) + " \"" + std::string(h) + "\" is not a host name or IPv4 address";
    return false;
  }
  if (colon != std::string_view::npos && !parsePort(hp.substr(colon + 1), port)) {
    *why = "port \"" + std::string(hp.substr(colon + 1)) + "\" is not a number from 1 to 65535";
    return false;
  }
  *host = std::string(h);
  return true;
}

// A spooler queue name: printable, no blank, and none of / \ ? # ' " (the
// characters a scheduler does not allow in a printer's name).
bool validQueue(std::string_view q) {
  if (q.empty() || q.size() > 127) return false;
  for (char c : q) {
    auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return false;
    if (c == '/' || c == '\\' || c == '?' || c == '#' || c == '\'' || c == '"') return false;
  }
  return true;
}

bool validDevicePath(std::string_view p) {
  if (!startsWith(p, "/dev/") || p.size() == 5) return false;
  for (char c : p)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

bool validBaud(std::string_view b) {
  for (const char* v : {"2400", "4800", "9600", "19200", "38400", "57600", "115200"})
    if (b == v) return true;
  return false;
}

}  // namespace

std::optional<Target> parseTarget(std::string_view uri, std::string* why) {
  Target t;
  if (startsWith(uri, "tcp://")) {
    std::string_view rest = uri.substr(6);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    t.kind = TargetKind::Tcp;
    t.port = 9100;
    if (!splitHostPort(rest, &t.host, &t.port, why, "host")) return std::nullopt;
    return t;
  }
  if (startsWith(uri, "serial:")) {
    std::string_view rest = uri.substr(7);
    auto q = rest.find('?');
    t.kind = TargetKind::Serial;
    t.path = std::string(rest.substr(0, q));
    if (!validDevicePath(t.path)) {
      *why = "a serial port is a device path under /dev/, as in serial:/dev/ttyUSB0";
      return std::nullopt;
    }
    if (q != std::string_view::npos) {
      std::string_view query = rest.substr(q + 1);
      if (!startsWith(query, "baud=") || !validBaud(query.substr(5))) {
        *why = "the only serial option is baud=N, N one of 2400, 4800, 9600, 19200, 38400, "
               "57600, 115200";
        return std::nullopt;
      }
      t.baud = std::string(query.substr(5));
    }
    return t;
  }
  if (uri == "usb:" || uri == "usb://") {
    t.kind = TargetKind::Usb;
    return t;
  }
  if (startsWith(uri, "queue://")) {
    std::string_view rest = uri.substr(8);
    auto slash = rest.find('/');
    if (slash == std::string_view::npos) {
      *why = "a print server's printer is queue://SERVER[:PORT]/NAME";
      return std::nullopt;
    }
    t.kind = TargetKind::ServerQueue;
    if (!splitHostPort(rest.substr(0, slash), &t.host, &t.port, why, "server"))
      return std::nullopt;
    t.queue = std::string(rest.substr(slash + 1));
    if (!validQueue(t.queue)) {
      *why = "\"" + t.queue + "\" is not a printer name (no blanks, / \\ ? # or quotes)";
      return std::nullopt;
    }
    return t;
  }
  if (startsWith(uri, "queue:")) {
    t.kind = TargetKind::Queue;
    t.queue = std::string(uri.substr(6));
    if (!validQueue(t.queue)) {
      *why = "\"" + t.queue + "\" is not a printer name (no blanks, / \\ ? # or quotes)";
      return std::nullopt;
    }
    return t;
  }
  if (startsWith(uri, "/dev/")) {
    t.kind = TargetKind::Device;
    t.path = std::string(uri);
    if (!validDevicePath(t.path)) {
      *why = "\"" + t.path + "\" is not a device path";
      return std::nullopt;
    }
    return t;
  }
  *why = "\"" + std::string(uri) + "\" is not a printer address";
  return std::nullopt;
}

std::string openportName(const Target& t) {
  switch (t.kind) {
    case TargetKind::Queue:
      return t.queue;
    case TargetKind::ServerQueue:
      return "//" + t.host + (t.port ? ":" + std::to_string(t.port) : "") + "/" + t.queue;
    case TargetKind::Usb:
      return "USB";
    case TargetKind::Device:
    case TargetKind::Serial:
      return t.path;
    case TargetKind::Tcp:
      break;
  }
  return "";
}

QueryPath queryPathOf(const Target& t) {
  switch (t.kind) {
    case TargetKind::Tcp:
      return QueryPath::Network;
    case TargetKind::Serial:
      return QueryPath::Serial;
    case TargetKind::Usb:
      return QueryPath::Usb;
    case TargetKind::Device:
      // Terminals are serial ports; printer files (/dev/lp*, /dev/usb/lp*)
      // only take bytes.
      return startsWith(t.path, "/dev/tty") || startsWith(t.path, "/dev/pts/") ? QueryPath::Serial
                                                                               : QueryPath::None;
    case TargetKind::Queue:
    case TargetKind::ServerQueue:
      break;
  }
  return QueryPath::None;
}

std::string describe(const Target& t) {
  switch (t.kind) {
    case TargetKind::Tcp:
      return "tcp://" + t.host + ":" + std::to_string(t.port);
    case TargetKind::Serial:
      return "serial:" + t.path + (t.baud.empty() ? "" : "?baud=" + t.baud);
    case TargetKind::Usb:
      return "usb:";
    case TargetKind::Queue:
      return "queue:" + t.queue;
    case TargetKind::ServerQueue:
      return "queue://" + t.host + ":" + std::to_string(t.port ? t.port : 631) + "/" + t.queue;
    case TargetKind::Device:
      return t.path;
  }
  return "";
}

}  // namespace paloma_cli
