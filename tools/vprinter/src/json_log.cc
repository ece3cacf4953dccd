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

// Escapes bytes for a JSON string: valid UTF-8 stays, control characters and
// bytes that are not UTF-8 become \u00XX (read as ISO-8859-1).
static std::string jsonEscape(const std::string& bytes) {
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

JsonObject& JsonObject::addJson(const char* k, const std::string& json) {
  key(k);
  body_ += json;
  return *this;
}

JsonLog::~JsonLog() {
  if (file_ && owned_) std::fclose(file_);
}

bool JsonLog::open(const std::string& path, uint64_t maxBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ && owned_) std::fclose(file_);
  file_ = nullptr;
  owned_ = false;
  path_ = path;
  maxBytes_ = maxBytes;
  size_ = 0;
  if (path.empty()) return true;
  if (path == "-") {
    file_ = stdout;
    return true;
  }
  file_ = std::fopen(path.c_str(), "a");
  owned_ = file_ != nullptr;
  if (file_ && std::fseek(file_, 0, SEEK_END) == 0) {
    long at = std::ftell(file_);
    if (at > 0) size_ = static_cast<uint64_t>(at);
  }
  return file_ != nullptr;
}

void JsonLog::rotate() {
  std::fclose(file_);
  std::string old = path_ + ".1";
  std::rename(path_.c_str(), old.c_str());
  file_ = std::fopen(path_.c_str(), "w");
  owned_ = file_ != nullptr;
  size_ = 0;
}

void JsonLog::write(const JsonObject& obj) {
  std::string line = obj.str();
  std::lock_guard<std::mutex> lock(mutex_);
  if (keep_) lines_.push_back(line);
  if (!file_) return;
  if (file_ == stdout && sink_) {
    sink_(line);
    return;
  }
  line.push_back('\n');
  if (owned_ && maxBytes_ && size_ > 0 && size_ + line.size() > maxBytes_) rotate();
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
  size_ += line.size();
}

}  // namespace vprinter
