// Two-dimensional symbols: qrcode, dmatrix, aztec, maxicode, pdf417.
//
// An optional argument is given when it is not empty. Each function picks,
// from which optional arguments are given, a template with more or fewer
// fields; the content is always the last field.
#include <cstddef>

#include "commands/builders.h"
#include "platform/api_lock.h"
#include "platform/last_error.h"

namespace paloma::commands {

namespace {

// Capacities of the command text, in bytes with the terminating NUL.
constexpr std::size_t kSymbolCapacity = 100;  // qrcode, dmatrix, aztec, maxicode
constexpr std::size_t kPdf417Capacity = 500;

bool anyNull(const char* const* args, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (!args[i]) return !nullArgument();
  return false;
}

// Formats `keyword` with the arguments at the 1-based positions `fields` as
// bare fields, then the content (quoted unless `bareContent`).
bool formatFields(std::size_t capacity, const char* keyword, const char* const* args,
                  const std::size_t* fields, std::size_t fieldCount, const char* content,
                  bool bareContent, CommandLines* out) {
  const char* picked[20];
  if (fieldCount + 1 > sizeof picked / sizeof picked[0]) return false;
  for (std::size_t i = 0; i < fieldCount; ++i) picked[i] = args[fields[i] - 1];
  picked[fieldCount] = content;
  return formatCommand(capacity, fieldTemplate(keyword, fieldCount, !bareContent), picked,
                       fieldCount + 1, out);
}

}  // namespace

bool formatQrcode(const char* const args[9], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("QRCODE", kSymbolCapacity, args,
                         {"x", "y", "ecc", "cell", "mode", "rotation", "model", "mask", "content"}))
    return false;
  if (anyNull(args, 9)) return false;
  const char* content = args[8];
  // Model and mask go together: if either is given, both fields are written.
  static constexpr std::size_t kPair[] = {1, 2, 3, 4, 5, 6, 7, 8};
  static constexpr std::size_t kPlain[] = {1, 2, 3, 4, 5, 6};
  bool pair = isGiven(args[6]) || isGiven(args[7]);
  return formatFields(kSymbolCapacity, "QRCODE", args, pair ? kPair : kPlain, pair ? 8 : 6,
                      content, contentIsBare(content), out);
}

bool formatDmatrix(const char* const args[8], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("DMATRIX", kSymbolCapacity, args,
                         {"x", "y", "width", "height", "moduleSize", "rows", "columns", "content"}))
    return false;
  if (anyNull(args, 8)) return false;
  const char* content = args[7];
  // Module size, rows and columns go together.
  static constexpr std::size_t kTriple[] = {1, 2, 3, 4, 5, 6, 7};
  static constexpr std::size_t kPlain[] = {1, 2, 3, 4};
  bool triple = isGiven(args[4]) || isGiven(args[5]) || isGiven(args[6]);
  return formatFields(kSymbolCapacity, "DMATRIX", args, triple ? kTriple : kPlain,
                      triple ? 7 : 4, content, contentIsBare(content), out);
}

bool formatAztec(const char* const args[10], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("AZTEC", kSymbolCapacity, args,
                         {"x", "y", "rotation", "moduleSize", "errorControl", "flags", "menu",
                          "symbols", "reverse", "content"}))
    return false;
  if (anyNull(args, 10)) return false;
  const char* content = args[9];
  // k: how many of arguments 4 to 9 are written, up to the last given one;
  // empty ones before it stay as empty fields.
  std::size_t k = 0;
  for (std::size_t i = 1; i <= 6; ++i)
    if (isGiven(args[2 + i])) k = i;
  static constexpr std::size_t kAll[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  return formatFields(kSymbolCapacity, "AZTEC", args, kAll, 3 + k, content,
                      contentIsBare(content), out);
}

bool formatMaxicode(const char* const args[7], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("MAXICODE", kSymbolCapacity, args,
                         {"x", "y", "mode", "cls", "country", "postal", "content"}))
    return false;
  if (anyNull(args, 7)) return false;
  const char* content = args[6];
  bool bare = contentIsBare(content);
  const char mode = args[2][0];
  bool ok = false;
  switch (mode) {
    case '2':
      ok = formatCommand(kSymbolCapacity,
                         bare ? "MAXICODE %s,%s,%s,%s,%s,%s,%s"
                              : "MAXICODE %s,%s,%s,%s,%s,%s,\"%s\"",
                         {args[0], args[1], args[2], args[3], args[4], args[5], content}, out);
      break;
    case '3':
      // Field 6 is always quoted in mode 3.
      ok = formatCommand(kSymbolCapacity,
                         bare ? "MAXICODE %s,%s,%s,%s,%s,\"%s\",%s"
                              : "MAXICODE %s,%s,%s,%s,%s,\"%s\",\"%s\"",
                         {args[0], args[1], args[2], args[3], args[4], args[5], content}, out);
      break;
    case '5':
      // Mode 5 has no class, country or postal code.
      if (isGiven(args[3]) || isGiven(args[4]) || isGiven(args[5])) {
        setLastError("maxicode mode 5 takes no class, country or postal code; nothing was sent");
        return false;
      }
      [[fallthrough]];
    case '4':
      // Mode 4 leaves out arguments 4 to 6 even when they are given.
      ok = formatCommand(kSymbolCapacity,
                         bare ? "MAXICODE %s,%s,%s,%s" : "MAXICODE %s,%s,%s,\"%s\"",
                         {args[0], args[1], args[2], content}, out);
      break;
    default:
      // No template for this mode.
      setLastError("maxicode mode must begin with 2, 3, 4 or 5; nothing was sent");
      return false;
  }
  return ok;
}

bool formatPdf417(const char* const args[18], CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("PDF417", kPdf417Capacity, args,
                         {"x", "y", "width", "height", "rotation", "o6", "o7", "o8", "o9", "o10",
                          "o11", "o12", "o13", "o14", "o15", "o16", "o17", "content"}))
    return false;
  if (anyNull(args, 18)) return false;
  const char* content = args[17];
  auto given = [&](std::size_t n) { return isGiven(args[n - 1]); };
  bool ok;
  if (given(9) || given(10) || given(11)) {
    // Arguments 1 to 17, then the content, bare.
    static constexpr std::size_t kAll[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    ok = formatFields(kPdf417Capacity, "PDF417", args, kAll, 17, content, true, out);
  } else if (given(8)) {
    static constexpr std::size_t kWith8[] = {1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 14, 15, 16, 17};
    ok = formatFields(kPdf417Capacity, "PDF417", args, kWith8, 14, content, true, out);
  } else if (given(6)) {
    static constexpr std::size_t kWith6[] = {1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16, 17};
    ok = formatFields(kPdf417Capacity, "PDF417", args, kWith6, 13, content, true, out);
  } else {
    // The chain 7, 12..17 up to its last given member.
    static constexpr std::size_t kChain[] = {1, 2, 3, 4, 5, 7, 12, 13, 14, 15, 16, 17};
    std::size_t chain = 0;
    for (std::size_t i = 0; i < 7; ++i)
      if (given(kChain[5 + i])) chain = i + 1;
    // With the whole chain (argument 17 given) the content is bare.
    bool bare = chain == 7 || contentIsBare(content);
    ok = formatFields(kPdf417Capacity, "PDF417", args, kChain, 5 + chain, content, bare, out);
  }
  return ok;
}

}  // namespace paloma::commands

using namespace paloma::commands;

namespace {

int sendSymbol(bool (*format)(const char* const*, CommandLines*), const char* const* args) {
  return sendFormatted([&](CommandLines* l) { return format(args, l); });
}

}  // namespace

extern "C" {

int qrcode(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
           const char* a6, const char* a7, const char* a8, const char* content) {
  paloma::ApiLock lock;
  const char* args[9] = {a1, a2, a3, a4, a5, a6, a7, a8, content};
  return sendSymbol(formatQrcode, args);
}

int dmatrix(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
            const char* a6, const char* a7, const char* content) {
  paloma::ApiLock lock;
  const char* args[8] = {a1, a2, a3, a4, a5, a6, a7, content};
  return sendSymbol(formatDmatrix, args);
}

int aztec(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
          const char* a6, const char* a7, const char* a8, const char* a9, const char* content) {
  paloma::ApiLock lock;
  const char* args[10] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, content};
  return sendSymbol(formatAztec, args);
}

int maxicode(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
             const char* a6, const char* content) {
  paloma::ApiLock lock;
  const char* args[7] = {a1, a2, a3, a4, a5, a6, content};
  return sendSymbol(formatMaxicode, args);
}

int pdf417(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
           const char* a6, const char* a7, const char* a8, const char* a9, const char* a10,
           const char* a11, const char* a12, const char* a13, const char* a14,
           const char* a15, const char* a16, const char* a17, const char* content) {
  paloma::ApiLock lock;
  const char* args[18] = {a1,  a2,  a3,  a4,  a5,  a6,  a7,  a8,  a9,
                          a10, a11, a12, a13, a14, a15, a16, a17, content};
  return sendSymbol(formatPdf417, args);
}

}  // extern "C"
