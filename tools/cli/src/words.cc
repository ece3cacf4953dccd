#include "words.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "paloma.h"

namespace paloma_cli {

namespace {

bool isFraming(unsigned char c) { return c <= 0x20 || c == 0x7F; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

StatusReport describeStatus(std::uint8_t byte) {
  StatusReport r;
  r.byte = byte;
  r.words = paloma_status_text(byte);
  const char* names[8] = {};
  const std::size_t n = paloma_status_conditions(byte, names, 8);
  for (std::size_t i = 0; i < n && i < 8; ++i) r.conditions.emplace_back(names[i]);
  // The exit code of the lowest bit set; the library's table gives the bits.
  for (std::size_t i = 0;; ++i) {
    std::uint8_t bit = 0;
    if (!paloma_status_condition(i, &bit)) break;
    if (!(byte & bit)) continue;
    switch (bit) {
      case 0x01: r.exitCode = kExitHeadOpen; break;
      case 0x02: r.exitCode = kExitPaperJam; break;
      case 0x04: r.exitCode = kExitPaperEmpty; break;
      case 0x08: r.exitCode = kExitRibbonEmpty; break;
      case 0x10: r.exitCode = kExitPaused; break;
      case 0x20: r.exitCode = kExitPrinting; break;
      case 0x40: r.exitCode = kExitUnknownStatus; break;
      default: r.exitCode = kExitOtherError; break;
    }
    break;
  }
  return r;
}

StatusReport noStatusReply() {
  StatusReport r;
  r.words = "no reply";
  r.exitCode = kExitNoReply;
  return r;
}

std::string statusCode(std::uint8_t byte) {
  char code[3];
  std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(byte));
  return code;
}

std::string jsonNumberOrString(std::string_view v) {
  // -?(0|[1-9][0-9]*)(\.[0-9]+)?
  std::size_t i = 0;
  if (i < v.size() && v[i] == '-') ++i;
  auto digit = [&v](std::size_t k) { return k < v.size() && v[k] >= '0' && v[k] <= '9'; };
  bool number = digit(i);
  if (number && v[i] == '0') {
    ++i;
  } else {
    while (digit(i)) ++i;
  }
  if (number && i < v.size() && v[i] == '.') {
    ++i;
    number = digit(i);
    while (digit(i)) ++i;
  }
  if (number && i == v.size()) return std::string(v);
  return jsonString(v);
}

std::optional<std::string> cleanReply(std::string_view reply) {
  std::size_t b = 0, e = reply.size();
  while (b < e && isFraming(static_cast<unsigned char>(reply[b]))) ++b;
  while (e > b && isFraming(static_cast<unsigned char>(reply[e - 1]))) --e;
  std::string_view v = reply.substr(b, e - b);
  if (v.empty() || v == "-1") return std::nullopt;
  return std::string(v);
}

AnswerFields parseAnswer(const unsigned char* bytes, std::size_t n) {
  AnswerFields f;
  std::string text;
  for (std::size_t i = 0; i < n && bytes[i] != 0; ++i) text.push_back(static_cast<char>(bytes[i]));
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    std::string field = text.substr(at, end - at);
    at = end + 1;
    auto eq = field.find('=');
    if (eq == std::string::npos) continue;
    std::string key = field.substr(0, eq), value = field.substr(eq + 1);
    if (key == "name" && !f.name) {
      // Bytes the answer's syntax reserves come as %XX; a control byte,
      // written or decoded, is shown as '?' so that a name cannot steer the
      // terminal.
      std::string name;
      for (std::size_t i = 0; i < value.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        int hi = c == '%' && i + 2 < value.size() ? hexValue(value[i + 1]) : -1;
        int lo = hi >= 0 ? hexValue(value[i + 2]) : -1;
        if (lo >= 0) {
          c = static_cast<unsigned char>(hi << 4 | lo);
          i += 2;
        }
        name.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
      }
      if (!name.empty()) f.name = name;
    } else if (key == "tcp" && !f.tcpPort) {
      if (value.empty() || value.size() > 5) continue;
      int port = 0;
      bool digits = true;
      for (char c : value) {
        if (c < '0' || c > '9') digits = false;
        else port = port * 10 + (c - '0');
      }
      if (digits && port >= 1 && port <= 65535) f.tcpPort = port;
    }
  }
  return f;
}

// The length of the whole, shortest-form UTF-8 sequence at text[i] (1 for
// ASCII), or 0 when none starts there.
static std::size_t utf8SequenceAt(std::string_view text, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = at(i);
  if (c < 0x80) return 1;
  std::size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  bool ok = len > 0 && i + len <= text.size();
  for (std::size_t k = 1; ok && k < len; ++k) ok = (at(i + k) & 0xC0) == 0x80;
  if (ok && len == 3) {
    unsigned cp = (c & 0x0Fu) << 12 | (at(i + 1) & 0x3Fu) << 6;
    ok = cp >= 0x800 && !(cp >= 0xD800 && cp <= 0xDFFF);
  }
  if (ok && len == 4) {
    unsigned cp = (c & 0x07u) << 18 | (at(i + 1) & 0x3Fu) << 12;
    ok = cp >= 0x10000 && cp <= 0x10FFFF;
  }
  return ok ? len : 0;
}

std::string terminalText(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = utf8SequenceAt(text, i);
    char esc[12];
    if (c < 0x20 || c == 0x7F || len == 0) {
      // C0, DEL, and a byte that is no UTF-8 (a raw C1 among them).
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
      ++i;
    } else if (len == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      std::snprintf(esc, sizeof esc, "\\u%04X", static_cast<unsigned char>(text[i + 1]));
      out += esc;
      i += 2;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    unsigned char c = at(i);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
          } else {
            out.push_back(static_cast<char>(c));
          }
      }
      ++i;
      continue;
    }
    // A whole, shortest-form UTF-8 sequence passes as it is; a C1 control
    // (U+0080 to U+009F) is escaped like the C0 ones.
    std::size_t len = utf8SequenceAt(text, i);
    bool ok = len > 0;
    if (len == 2 && c == 0xC2 && at(i + 1) < 0xA0) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", at(i + 1));
      out += esc;
      i += 2;
      continue;
    }
    if (ok) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out += "\"";
  return out;
}

std::string humanBytes(double bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  int u = 0;
  while (bytes >= 1000.0 && u < 4) {
    bytes /= 1000.0;
    ++u;
  }
  char b[32];
  if (u == 0) std::snprintf(b, sizeof b, "%.0f B", bytes);
  else std::snprintf(b, sizeof b, "%.1f %s", bytes, kUnits[u]);
  return b;
}

std::string progressLine(std::uint64_t done, std::uint64_t total, double seconds, int width) {
  if (done > total) done = total;
  double fraction = total ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  std::string tail = "  " + std::to_string(static_cast<int>(fraction * 100.0)) + "%  " +
                     humanBytes(static_cast<double>(done)) + " of " +
                     humanBytes(static_cast<double>(total));
  if (seconds > 0.05 && done > 0) {
    double rate = static_cast<double>(done) / seconds;
    tail += "  " + humanBytes(rate) + "/s";
    long left = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
    char t[32];
    std::snprintf(t, sizeof t, "  %ld:%02ld left", left / 60, left % 60);
    tail += t;
  }
  int barWidth = width - static_cast<int>(tail.size()) - 2;
  if (barWidth < 5) return tail.substr(2);
  if (barWidth > 40) barWidth = 40;
  int filled = static_cast<int>(fraction * barWidth);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(barWidth - filled), '.') + "]" + tail;
}

std::optional<std::string> pictureOrDocument(const unsigned char* b, std::size_t n) {
  auto starts = [&](const char* magic, std::size_t m) {
    return n >= m && std::memcmp(b, magic, m) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return "PNG";
  if (starts("\xFF\xD8\xFF", 3)) return "JPEG";
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return "GIF";
  // "BM", the size, then two reserved 16-bit fields that are zero.
  if (starts("BM", 2) && n >= 10 && b[6] == 0 && b[7] == 0 && b[8] == 0 && b[9] == 0) return "BMP";
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return "TIFF";
  if (n >= 12 && starts("RIFF", 4) && std::memcmp(b + 8, "WEBP", 4) == 0) return "WebP";
  if (starts("%PDF-", 5)) return "PDF";
  if (starts("%!PS", 4)) return "PostScript";
  if (n >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6' &&
      (b[2] == ' ' || b[2] == '\n' || b[2] == '\r' || b[2] == '\t'))
    return "PNM";
  return std::nullopt;
}

std::optional<long> lengthInDots(const std::string& text, double dpi, long max) {
  if (text.empty() || !(dpi > 0)) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno || end == text.c_str() || !(v >= 0)) return std::nullopt;
  const std::string unit(end);
  double dots;
  if (unit.empty()) {
    if (v != std::floor(v)) return std::nullopt;  // dots are whole
    dots = v;
  } else if (unit == "mm") {
    dots = v * dpi / 25.4;
  } else if (unit == "in") {
    dots = v * dpi;
  } else {
    return std::nullopt;
  }
  const double rounded = std::floor(dots + 0.5);
  if (rounded > static_cast<double>(max)) return std::nullopt;
  return static_cast<long>(rounded);
}

}  // namespace paloma_cli
