#include "stream_parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vprinter {

namespace {

constexpr uint8_t kEsc = 0x1B;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool startsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Name and arguments of a command line.
void splitName(const std::string& line, std::string& name, std::string& args) {
  if (startsWith(line, "~!")) {  // "~!T": the letter is part of the name
    name = line.substr(0, 3);
    args = trimBlanks(line.size() > 3 ? line.substr(3) : std::string());
    return;
  }
  size_t sp = 0;
  while (sp < line.size() && !isBlank(line[sp]) && line[sp] != ',') ++sp;
  name = line.substr(0, sp);
  size_t a = sp;
  while (a < line.size() && (isBlank(line[a]) || (a == sp && line[a] == ','))) ++a;
  args = line.substr(a);
}

std::string describeSize(uint64_t n) { return std::to_string(n) + " bytes"; }

}  // namespace

bool splitFields(const std::string& args, std::vector<Field>& fields, std::string& error) {
  fields.clear();
  if (trimBlanks(args).empty()) return true;
  bool inQuote = false;
  std::string cur;
  auto push = [&]() {
    Field f;
    f.raw = trimBlanks(cur);
    if (f.raw.size() >= 2 && f.raw.front() == '"' && f.raw.back() == '"') {
      f.quoted = true;
      f.text = f.raw.substr(1, f.raw.size() - 2);
    } else {
      f.text = f.raw;
    }
    fields.push_back(std::move(f));
    cur.clear();
  };
  for (char c : args) {
    if (c == '"') inQuote = !inQuote;
    if (c == ',' && !inQuote) {
      push();
    } else {
      cur.push_back(c);
    }
  }
  push();
  if (inQuote) {
    error = "unbalanced double quote";
    return false;
  }
  return true;
}

bool parseInt(const std::string& text, long long& value) {
  std::string t = trimBlanks(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || end == t.c_str() || *end != '\0') return false;
  value = v;
  return true;
}

bool parseNumber(const std::string& text, double& value) {
  std::string t = trimBlanks(text);
  if (t.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0' || v != v) return false;
  value = v;
  return true;
}

StreamParser::StreamParser(Sink sink, ParserLimits limits)
    : sink_(std::move(sink)), limits_(limits) {}

void StreamParser::emit(Command&& c) { sink_(std::move(c)); }

void StreamParser::feed(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size) {
    switch (state_) {
      case State::LineStart: {
        uint8_t b = data[i];
        if (b == 0 || b == '\r' || b == '\n' || b == ' ' || b == '\t') {
          ++i;
          ++offset_;
          break;
        }
        start_ = offset_;
        line_.clear();
        inQuote_ = false;
        commasOutside_ = 0;
        kind_ = Kind::Unknown;
        if (b == kEsc) {
          state_ = State::Esc;
          ++i;
          ++offset_;
          break;
        }
        state_ = State::Line;
        break;  // the byte is taken by State::Line
      }
      case State::Line: {
        // A line of exactly maxLine bytes is kept: only a byte past it that
        // is not its line end makes it too long.
        if (line_.size() >= limits_.maxLine && data[i] != '\r' && data[i] != '\n') {
          Command c;
          c.offset = start_;
          std::string args;
          splitName(line_.substr(0, 64), c.name, args);
          c.error = "line longer than " + describeSize(limits_.maxLine) + "; skipped to its end";
          emit(std::move(c));
          line_.clear();
          state_ = State::DiscardLine;
          break;
        }
        // Take a run of ordinary bytes at once.
        size_t room = limits_.maxLine - line_.size();
        size_t j = i;
        bool special = false;
        while (j < size) {
          uint8_t b = data[j];
          if (b == '\r' || b == '\n') {  // ends the line even when it is full
            special = true;
            break;
          }
          if (j - i >= room) break;
          if (b == '"' || b == ',') {
            special = true;
            break;
          }
          ++j;
        }
        line_.append(reinterpret_cast<const char*>(data + i), j - i);
        offset_ += j - i;
        i = j;
        if (!special) break;
        uint8_t b = data[i++];
        ++offset_;
        if (b == '\r' || b == '\n') {
          endLine();
          break;
        }
        line_.push_back(static_cast<char>(b));
        if (b == '"') {
          inQuote_ = !inQuote_;
        } else if (!inQuote_) {  // a comma
          ++commasOutside_;
          checkPayloadHeader();
        }
        break;
      }
      case State::Esc: {
        uint8_t b = data[i++];
        ++offset_;
        if (b == '!') {
          state_ = State::EscBang;
        } else {
          Command c;
          c.offset = start_;
          c.name = "ESC";
          c.error = "ESC not followed by \"!\"";
          state_ = State::LineStart;
          emit(std::move(c));
        }
        break;
      }
      case State::EscBang: {
        uint8_t b = data[i++];
        ++offset_;
        Command c;
        c.offset = start_;
        c.name = "ESC !";
        c.name.push_back(static_cast<char>(b));
        state_ = State::LineStart;
        emit(std::move(c));
        break;
      }
      case State::Payload:
      case State::SkipPayload: {
        uint64_t avail = size - i;
        size_t take = static_cast<size_t>(remaining_ < avail ? remaining_ : avail);
        if (state_ == State::Payload) {
          pending_.payload.append(reinterpret_cast<const char*>(data + i), take);
        }
        i += take;
        offset_ += take;
        remaining_ -= take;
        if (remaining_ == 0) {
          bool keep = state_ == State::Payload;
          state_ = State::LineStart;
          if (keep) emit(std::move(pending_));
          pending_ = Command();
        }
        break;
      }
      case State::DiscardLine: {
        const void* cr = std::memchr(data + i, '\r', size - i);
        const void* lf = std::memchr(data + i, '\n', size - i);
        const uint8_t* end = nullptr;
        if (cr && lf) {
          end = static_cast<const uint8_t*>(cr < lf ? cr : lf);
        } else {
          end = static_cast<const uint8_t*>(cr ? cr : lf);
        }
        if (!end) {
          offset_ += size - i;
          i = size;
        } else {
          size_t n = static_cast<size_t>(end - (data + i)) + 1;
          offset_ += n;
          i += n;
          state_ = State::LineStart;
        }
        break;
      }
    }
  }
}

bool StreamParser::checkPayloadHeader() {
  // Called at every comma outside quotes: the line is looked at only while its
  // comma count can still make a header, so a long line costs linear time.
  if (kind_ == Kind::Unknown) {
    std::string name, args;
    splitName(line_, name, args);
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    bool blankAfterName = line_.size() > name.size() && isBlank(line_[name.size()]);
    kind_ = !blankAfterName ? Kind::Other
            : name == "BITMAP" ? Kind::Bitmap
            : name == "DOWNLOAD" ? Kind::Download : Kind::Other;
  }
  bool bitmap = kind_ == Kind::Bitmap;
  if (kind_ == Kind::Other) return false;
  if (bitmap && commasOutside_ != 5) return false;
  if (!bitmap && commasOutside_ != 2 && commasOutside_ != 3) return false;
  std::string name, args;
  splitName(line_, name, args);
  if (!args.empty() && args.back() == ',') args.pop_back();
  std::vector<Field> fields;
  std::string err;
  splitFields(args, fields, err);

  Command c;
  c.offset = start_;
  c.name = name;
  c.args = args;
  uint64_t size = 0;
  uint64_t limit = 0;
  if (bitmap) {
    long long v[5];
    bool ok = fields.size() == 5;
    for (size_t k = 0; ok && k < 5; ++k) ok = parseInt(fields[k].text, v[k]);
    if (!ok || v[2] < 0 || v[3] < 0 || v[2] > (1 << 20) || v[3] > (1 << 24)) {
      c.fields = fields;
      c.error = "BITMAP header needs x,y,width in bytes,height,mode as whole numbers "
                "(width up to 1048576, height up to 16777216); the rows cannot be told apart";
      emit(std::move(c));
      line_.clear();
      state_ = State::DiscardLine;
      return true;
    }
    size = static_cast<uint64_t>(v[2]) * static_cast<uint64_t>(v[3]);
    limit = limits_.maxBitmap;
  } else {
    long long n = -1;
    bool match = false;
    if (commasOutside_ == 2 && fields.size() == 2 && fields[0].quoted &&
        parseInt(fields[1].text, n)) {
      match = true;
    } else if (commasOutside_ == 3 && fields.size() == 3 && !fields[0].quoted &&
               fields[1].quoted && parseInt(fields[2].text, n)) {
      match = true;
    }
    if (!match) return false;
    if (n < 0) {
      c.fields = fields;
      c.error = "DOWNLOAD announces a negative size";
      emit(std::move(c));
      line_.clear();
      state_ = State::DiscardLine;
      return true;
    }
    size = static_cast<uint64_t>(n);
    limit = limits_.maxDownload;
  }
  c.fields = std::move(fields);
  c.hasPayload = true;
  c.payloadAnnounced = size;
  line_.clear();
  if (size > limit) {
    c.error = name + " payload of " + describeSize(size) + " exceeds the limit of " +
              describeSize(limit) + "; skipped";
    emit(std::move(c));
    pending_ = Command();
    pending_.name = name;
    pending_.offset = start_;
    remaining_ = size;
    state_ = size ? State::SkipPayload : State::LineStart;
    return true;
  }
  pending_ = std::move(c);
  // Room grows as the bytes arrive: an announcement alone takes little memory.
  pending_.payload.reserve(static_cast<size_t>(std::min<uint64_t>(size, 64u << 10)));
  remaining_ = size;
  if (size == 0) {
    state_ = State::LineStart;
    emit(std::move(pending_));
    pending_ = Command();
  } else {
    state_ = State::Payload;
  }
  return true;
}

void StreamParser::endLine() {
  state_ = State::LineStart;
  std::string line = line_;
  line_.clear();
  while (!line.empty() && (isBlank(line.back()) || line.back() == '\0')) line.pop_back();
  if (line.empty()) return;
  Command c;
  c.offset = start_;
  splitName(line, c.name, c.args);
  std::string err;
  if (!splitFields(c.args, c.fields, err)) c.error = err;
  emit(std::move(c));
}

void StreamParser::finish() {
  switch (state_) {
    case State::LineStart:
    case State::DiscardLine:
      break;
    case State::Line: {
      Command c;
      c.offset = start_;
      std::string line = line_;
      splitName(line, c.name, c.args);
      std::string err;
      splitFields(c.args, c.fields, err);
      c.error = "no line end before the stream ended";
      emit(std::move(c));
      break;
    }
    case State::Esc:
    case State::EscBang: {
      Command c;
      c.offset = start_;
      c.name = "ESC";
      c.error = "stream ended inside an ESC sequence";
      emit(std::move(c));
      break;
    }
    case State::Payload: {
      Command c = std::move(pending_);
      c.error = "payload truncated: " + std::to_string(c.payload.size()) + " of " +
                describeSize(c.payloadAnnounced) + " arrived";
      emit(std::move(c));
      break;
    }
    case State::SkipPayload: {
      Command c;
      c.offset = pending_.offset;
      c.name = pending_.name;
      c.error = "stream ended " + describeSize(remaining_) + " short of a skipped payload";
      emit(std::move(c));
      break;
    }
  }
  state_ = State::LineStart;
  line_.clear();
  pending_ = Command();
  remaining_ = 0;
}

}  // namespace vprinter
