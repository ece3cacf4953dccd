#include "json_log.h"

namespace vprinter {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8Length(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  unsigned min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  unsigned cp = c & (0x3F >> (n - 1));
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string jsonEscape(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  static const char* hex = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (c == '\n') {
      out += "\\n";
      ++i;
    } else if (c == '\r') {
      out += "\\r";
      ++i;
    } else if (c == '\t') {
      out += "\\t";
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
      ++i;
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (size_t n = utf8Length(bytes, i)) {
      out.append(bytes, i, n);
      i += n;
    } else {
      out += "\\u00";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
      ++i;
    }
  }
  return out;
}

void JsonObject::key(const char* k) {
  if (!body_.empty()) body_.push_back(',');
  body_.push_back('"');
  body_ += k;
  body_ += "\":";
}

JsonObject& JsonObject::add(const char* k, const std::string& value) {
  key(k);
  body_ += "\"" + jsonEscape(value) + "\"";
  return *this;
}

JsonObject& JsonObject::add(const char* k, long long value) {
  key(k);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::add(const char* k, bool value) {
  key(k);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::add(const char* k, const std::vector<std::string>& values) {
  key(k);
  body_.push_back('[');
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) body_.push_back(',');
    body_ += "\"" + jsonEscape(values[i]) + "\"";
  }
  body_.push_back(']');
  return *this;
}

JsonLog::~JsonLog() {
  if (file_ && owned_) std::fclose(file_);
}

bool JsonLog::open(const std::string& path) {
  if (file_ && owned_) std::fclose(file_);
  file_ = nullptr;
  owned_ = false;
  if (path.empty()) return true;
  if (path == "-") {
    file_ = stdout;
    return true;
  }
  file_ = std::fopen(path.c_str(), "a");
  owned_ = file_ != nullptr;
  return file_ != nullptr;
}

void JsonLog::write(const JsonObject& obj) {
  std::string line = obj.str();
  if (keep_) lines_.push_back(line);
  if (!file_) return;
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace vprinter
