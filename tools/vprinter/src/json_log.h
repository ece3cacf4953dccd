// The command log: one JSON object per line.
#ifndef PALOMA_VPRINTER_JSON_LOG_H
#define PALOMA_VPRINTER_JSON_LOG_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vprinter {

// Builds one JSON object, keys in the order added.
class JsonObject {
 public:
  JsonObject& add(const char* key, const std::string& value);
  JsonObject& add(const char* key, const char* value) { return add(key, std::string(value)); }
  JsonObject& add(const char* key, long long value);
  JsonObject& add(const char* key, bool value);
  JsonObject& add(const char* key, const std::vector<std::string>& values);
  // A value that is already JSON (an object, an array of objects).
  JsonObject& addJson(const char* key, const std::string& json);
  std::string str() const { return "{" + body_ + "}"; }

 private:
  void key(const char* k);
  std::string body_;
};

// Writes lines to a file or standard output; flushed after each line so a
// reader sees every command as soon as it was handled. Lines from several
// threads never mix. A file grown past its bound is renamed to FILE.1 (the one
// before goes) and a new FILE started.
class JsonLog {
 public:
  JsonLog() = default;
  ~JsonLog();
  JsonLog(const JsonLog&) = delete;
  JsonLog& operator=(const JsonLog&) = delete;
  // "-" is standard output; an empty path writes nothing.
  bool open(const std::string& path, uint64_t maxBytes = 0);
  void write(const JsonObject& obj);
  // Every line written is also kept here while `keep` is set (for tests).
  void keepLines(bool keep) { keep_ = keep; }
  const std::vector<std::string>& lines() const { return lines_; }
  // When the log goes to standard output, its lines go to `sink` instead
  // (a console that never blocks on the stream), not written under the lock.
  void setStdoutSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

 private:
  void rotate();
  std::mutex mutex_;
  std::string path_;
  uint64_t maxBytes_ = 0;   // 0: no bound
  uint64_t size_ = 0;
  FILE* file_ = nullptr;
  bool owned_ = false;
  bool keep_ = false;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> sink_;
};

}  // namespace vprinter

#endif
