#include "handle/uri.h"

#include <cctype>
#include <cstdio>

namespace paloma {
namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// A host name or dotted address: letters, digits, dots and hyphens.
bool validHost(std::string_view h) {
  if (h.empty() || h.size() > 253) return false;
  for (char c : h)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
  return true;
}

// A decimal number from lo to hi, digits only.
bool parseNumber(std::string_view text, long lo, long hi, long* out) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  *out = v;
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
  if (colon != std::string_view::npos) {
    long v = 0;
    if (!parseNumber(hp.substr(colon + 1), 1, 65535, &v)) {
      *why = "port \"" + std::string(hp.substr(colon + 1)) + "\" is not a number from 1 to 65535";
      return false;
    }
    *port = static_cast<int>(v);
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

// A path without control bytes, of a length a system takes.
bool validPath(std::string_view p) {
  if (p.empty() || p.size() > 4095) return false;
  for (char c : p)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

bool validDevicePath(std::string_view p) {
  return startsWith(p, "/dev/") && p.size() > 5 && validPath(p);
}

bool isTerminalPath(std::string_view p) {
  return startsWith(p, "/dev/tty") || startsWith(p, "/dev/pts/");
}

// The options after '?' of a serial address, '&'-separated.
bool parseSerialOptions(std::string_view query, PrinterUri* u, std::string* why) {
  while (!query.empty()) {
    auto amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    auto eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    long v = 0;
    if (name == "baud") {
      bool known = false;
      for (long b : {1200L, 2400L, 4800L, 9600L, 19200L, 38400L, 57600L, 115200L})
        if (parseNumber(value, b, b, &v)) known = true;
      if (!known) {
        *why = "baud=" + std::string(value) +
               ": the speed is one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200";
        return false;
      }
      u->baud = static_cast<unsigned>(v);
    } else if (name == "parity") {
      if (value == "none" || value == "n") {
        u->parity = 0;
      } else if (value == "odd" || value == "o") {
        u->parity = 1;
      } else if (value == "even" || value == "e") {
        u->parity = 2;
      } else {
        *why = "parity=" + std::string(value) + ": the parity is none, odd or even";
        return false;
      }
    } else if (name == "bits" || name == "data") {
      if (!parseNumber(value, 7, 8, &v)) {
        *why = std::string(name) + "=" + std::string(value) + ": the data bits are 7 or 8";
        return false;
      }
      u->dataBits = static_cast<int>(v);
    } else if (name == "stop") {
      if (!parseNumber(value, 1, 2, &v)) {
        *why = "stop=" + std::string(value) + ": the stop bits are 1 or 2";
        return false;
      }
      u->stopBits = static_cast<int>(v);
    } else {
      *why = "\"" + std::string(item) +
             "\" is no serial option (baud=N, parity=none|odd|even, bits=7|8, stop=1|2)";
      return false;
    }
  }
  return true;
}

// Whether a usb: text starts as a bus place does: digits and a '-', or "b",
// three digits and "p". Such a text is a bus place or a mistake, never a
// serial number.
bool looksLikeUsbPlace(std::string_view t) {
  std::size_t digits = 0;
  while (digits < t.size() && t[digits] >= '0' && t[digits] <= '9') ++digits;
  if (digits > 0 && digits < t.size() && t[digits] == '-') return true;
  return t.size() >= 5 && t[0] == 'b' && t[4] == 'p' &&
         std::isdigit(static_cast<unsigned char>(t[1])) &&
         std::isdigit(static_cast<unsigned char>(t[2])) &&
         std::isdigit(static_cast<unsigned char>(t[3]));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The serial number a usb: text names, %XX escapes decoded. A serial number
// is 1 to 400 bytes (a USB string descriptor holds at most 126 UTF-16
// units) without control characters; blanks and '%' are written escaped.
bool usbSerialFromText(std::string_view text, std::string* serial, std::string* why) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      int hi = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
      int lo = hi >= 0 ? hexDigit(text[i + 2]) : -1;
      if (lo < 0) {
        *why = "\"" + std::string(text) +
               "\": a '%' in a serial number starts an escape of two hex digits, as %25 for '%'";
        return false;
      }
      c = static_cast<unsigned char>(hi * 16 + lo);
      i += 2;
    } else if (c <= 0x20) {
      *why = "a serial number is written without blanks or control characters (a blank as %20)";
      return false;
    }
    if (c < 0x20 || c == 0x7F) {
      *why = "a serial number holds no control characters";
      return false;
    }
    out.push_back(static_cast<char>(c));
  }
  if (out.empty() || out.size() > 400) {
    *why = "a serial number is 1 to 400 bytes long";
    return false;
  }
  *serial = std::move(out);
  return true;
}

}  // namespace

std::string usbPlaceText(std::string_view location) {
  long bus = 0;
  if (location.size() < 6 || location[0] != 'b' || location[4] != 'p' ||
      !parseNumber(location.substr(1, 3), 0, 255, &bus))
    return std::string(location);
  return std::to_string(bus) + "-" + std::string(location.substr(5));
}

std::string usbSerialUri(std::string_view serial) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (char ch : serial) {
    auto c = static_cast<unsigned char>(ch);
    const bool letterOrDigit =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (letterOrDigit || c == '-' || c == '.' || c == '_' || c == '~') {
      text.push_back(ch);
    } else {
      text += '%';
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  if (!text.empty() && looksLikeUsbPlace(text)) {
    auto c = static_cast<unsigned char>(text[0]);
    text.replace(0, 1, std::string{'%', kHex[c >> 4], kHex[c & 15]});
  }
  return "usb:" + text;
}

bool usbLocationFromText(std::string_view text, std::string* location) {
  long bus = 0, port = 0;
  std::string ports;
  std::string_view rest;
  if (startsWith(text, "b") && text.size() > 4 && text[4] == 'p') {
    if (!parseNumber(text.substr(1, 3), 0, 255, &bus)) return false;
    rest = text.substr(5);
  } else {
    auto dash = text.find('-');
    if (dash == std::string_view::npos || !parseNumber(text.substr(0, dash), 0, 255, &bus))
      return false;
    rest = text.substr(dash + 1);
  }
  // Port numbers 1..255 joined by dots; at most seven levels.
  int levels = 0;
  while (true) {
    auto dot = rest.find('.');
    if (!parseNumber(rest.substr(0, dot), 0, 255, &port) || ++levels > 7) return false;
    if (!ports.empty()) ports += '.';
    ports += std::to_string(port);
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  char head[8];
  std::snprintf(head, sizeof head, "b%03ld", bus);
  *location = std::string(head) + "p" + ports;
  return true;
}

std::optional<PrinterUri> parsePrinterUri(std::string_view uri, std::string* why) {
  PrinterUri u;
  if (startsWith(uri, "tcp://")) {
    std::string_view rest = uri.substr(6);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    u.kind = UriKind::Tcp;
    u.port = 9100;
    if (!splitHostPort(rest, &u.host, &u.port, why, "host")) return std::nullopt;
    return u;
  }
  if (startsWith(uri, "serial:")) {
    std::string_view rest = uri.substr(7);
    auto q = rest.find('?');
    u.kind = UriKind::Serial;
    u.path = std::string(rest.substr(0, q));
    if (!validDevicePath(u.path)) {
      *why = "a serial port is a device path under /dev/, as in serial:/dev/ttyUSB0";
      return std::nullopt;
    }
    if (q != std::string_view::npos && !parseSerialOptions(rest.substr(q + 1), &u, why))
      return std::nullopt;
    return u;
  }
  if (uri == "usb:" || uri == "usb://") {
    u.kind = UriKind::Usb;
    return u;
  }
  if (startsWith(uri, "usb:")) {
    u.kind = UriKind::Usb;
    std::string_view rest = uri.substr(4);
    if (startsWith(rest, "//")) rest = rest.substr(2);
    // A text that starts as a bus place is one; anything else is a serial
    // number.
    if (!looksLikeUsbPlace(rest)) {
      if (!usbSerialFromText(rest, &u.serial, why)) return std::nullopt;
      return u;
    }
    if (!usbLocationFromText(rest, &u.location)) {
      *why = "\"" + std::string(rest) +
             "\" is not a USB bus place such as 1-1.4 (bus 1, port 4 of the hub on port 1); "
             "a serial number that starts so is written with its first character as %XX";
      return std::nullopt;
    }
    return u;
  }
  if (startsWith(uri, "queue://")) {
    std::string_view rest = uri.substr(8);
    auto slash = rest.find('/');
    if (slash == std::string_view::npos) {
      *why = "a print server's printer is queue://SERVER[:PORT]/NAME";
      return std::nullopt;
    }
    u.kind = UriKind::ServerQueue;
    if (!splitHostPort(rest.substr(0, slash), &u.host, &u.port, why, "server"))
      return std::nullopt;
    u.queue = std::string(rest.substr(slash + 1));
    if (!validQueue(u.queue)) {
      *why = "\"" + u.queue + "\" is not a printer name (no blanks, / \\ ? # or quotes)";
      return std::nullopt;
    }
    return u;
  }
  if (startsWith(uri, "queue:")) {
    u.kind = UriKind::Queue;
    u.queue = std::string(uri.substr(6));
    if (!validQueue(u.queue)) {
      *why = "\"" + u.queue + "\" is not a printer name (no blanks, / \\ ? # or quotes)";
      return std::nullopt;
    }
    return u;
  }
  if (startsWith(uri, "file:")) {
    u.kind = UriKind::File;
    std::string_view rest = uri.substr(5);
    // file:///x and file:/x name the same file.
    if (startsWith(rest, "//")) rest = rest.substr(2);
    u.path = std::string(rest);
    if (!validPath(u.path)) {
      *why = "a file is file:PATH, the path without control characters";
      return std::nullopt;
    }
    return u;
  }
  if (startsWith(uri, "/dev/")) {
    u.path = std::string(uri);
    if (!validDevicePath(u.path)) {
      *why = "\"" + u.path + "\" is not a device path";
      return std::nullopt;
    }
    u.kind = isTerminalPath(u.path) ? UriKind::Serial : UriKind::File;
    return u;
  }
  *why = "\"" + std::string(uri) +
         "\" is not a printer address (tcp://HOST[:PORT], serial:/dev/TTY, usb:[SERIAL], "
         "queue:NAME, queue://SERVER/NAME, file:PATH or /dev/...)";
  return std::nullopt;
}

std::string spoolerNameOf(const PrinterUri& u) {
  if (u.kind == UriKind::ServerQueue)
    return "//" + u.host + (u.port ? ":" + std::to_string(u.port) : "") + "/" + u.queue;
  return u.queue;
}

}  // namespace paloma
