// Text in the printer's fonts and linear barcodes: printerfont(W),
// barcode(W), barcodecomplete, rss.
#include <cstring>

#include "commands/builders.h"
#include "platform/api_lock.h"

namespace paloma::commands {

namespace {

// Capacities of the command text, in bytes with the terminating NUL.
constexpr std::size_t kPrinterFontCapacity = 500;
constexpr std::size_t kBarcodeCapacity = 1024;  // barcode, barcodecomplete
constexpr std::size_t kRssCapacity = 100;

}  // namespace

bool formatPrinterFont(const char* x, const char* y, const char* font, const char* rotation,
                       const char* xmul, const char* ymul, const char* content,
                       CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("TEXT", kPrinterFontCapacity, {x, y, font, rotation, xmul, ymul, content},
                         {"x", "y", "font", "rotation", "xmul", "ymul", "content"}))
    return false;
  const char* tmpl = contentIsBare(content) ? "TEXT %s,%s,\"%s\",%s,%s,%s,%s"
                                            : "TEXT %s,%s,\"%s\",%s,%s,%s,\"%s\"";
  return formatCommand(kPrinterFontCapacity, tmpl, {x, y, font, rotation, xmul, ymul, content},
                       out);
}

bool formatBarcode(const char* x, const char* y, const char* type, const char* height,
                   const char* readable, const char* rotation, const char* narrow,
                   const char* wide, const char* content, CommandLines* out) {
  out->clear();
  if (!noLineEndInFields(
          "BARCODE", kBarcodeCapacity,
          {x, y, type, height, readable, rotation, narrow, wide, content},
          {"x", "y", "type", "height", "readable", "rotation", "narrow", "wide", "content"}))
    return false;
  const char* tmpl = contentIsBare(content) ? "BARCODE %s,%s,\"%s\",%s,%s,%s,%s,%s,%s"
                                            : "BARCODE %s,%s,\"%s\",%s,%s,%s,%s,%s,\"%s\"";
  return formatCommand(kBarcodeCapacity, tmpl,
                       {x, y, type, height, readable, rotation, narrow, wide, content}, out);
}

bool formatBarcodeComplete(const char* x, const char* y, const char* type, const char* height,
                           const char* readable, const char* rotation, const char* narrow,
                           const char* wide, const char* extra, const char* content,
                           CommandLines* out) {
  out->clear();
  if (!noLineEndInFields("BARCODE", kBarcodeCapacity,
                         {x, y, type, height, readable, rotation, narrow, wide, extra, content},
                         {"x", "y", "type", "height", "readable", "rotation", "narrow", "wide",
                          "extra", "content"}))
    return false;
  const char* tmpl = contentIsBare(content) ? "BARCODE %s,%s,\"%s\",%s,%s,%s,%s,%s,%s,%s"
                                            : "BARCODE %s,%s,\"%s\",%s,%s,%s,%s,%s,%s,\"%s\"";
  return formatCommand(kBarcodeCapacity, tmpl,
                       {x, y, type, height, readable, rotation, narrow, wide, extra, content}, out);
}

bool formatRss(const char* x, const char* y, const char* type, const char* rotation,
               const char* moduleWidth, const char* separatorHeight, const char* extra,
               const char* content, CommandLines* out) {
  out->clear();
  if (!noLineEndInFields(
          "RSS", kRssCapacity, {x, y, type, rotation, moduleWidth, separatorHeight, extra, content},
          {"x", "y", "type", "rotation", "moduleWidth", "separatorHeight", "extra", "content"}))
    return false;
  if (extra[0] != '\0') {
    // Eight fields; the type name plays no part.
    const char* tmpl = contentIsBare(content) ? "RSS %s,%s,\"%s\",%s,%s,%s,%s,%s"
                                              : "RSS %s,%s,\"%s\",%s,%s,%s,%s,\"%s\"";
    return formatCommand(kRssCapacity, tmpl,
                         {x, y, type, rotation, moduleWidth, separatorHeight, extra, content}, out);
  }
  // Seven fields, field 7 left out. An '@' content goes bare only for the
  // types that sort at or before "RSSEXP" in byte order; the composite types
  // after it ("UCC128CCA", "UCC128CCC", ...) keep it quoted.
  bool bare = contentIsBare(content) && std::strcmp(type, "RSSEXP") <= 0;
  const char* tmpl =
      bare ? "RSS %s,%s,\"%s\",%s,%s,%s,%s" : "RSS %s,%s,\"%s\",%s,%s,%s,\"%s\"";
  return formatCommand(kRssCapacity, tmpl,
                       {x, y, type, rotation, moduleWidth, separatorHeight, content}, out);
}

}  // namespace paloma::commands

using namespace paloma::commands;

extern "C" {

int printerfont(const char* x, const char* y, const char* font, const char* rotation,
                const char* xmul, const char* ymul, const char* content) {
  paloma::ApiLock lock;
  return sendFormatted([&](CommandLines* l) {
    return formatPrinterFont(x, y, font, rotation, xmul, ymul, content, l);
  });
}

int printerfontW(const paloma_wchar* x, const paloma_wchar* y, const paloma_wchar* font,
                 const paloma_wchar* rotation, const paloma_wchar* xmul,
                 const paloma_wchar* ymul, const paloma_wchar* content) {
  paloma::ApiLock lock;
  if (!connectionOpen()) return 0;
  const paloma_wchar* wide[7] = {x, y, font, rotation, xmul, ymul, content};
  std::string a[7];
  if (!narrowWideArgs(wide, 7, a)) return 0;
  return printerfont(a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str(), a[4].c_str(),
                     a[5].c_str(), a[6].c_str());
}

int barcode(const char* x, const char* y, const char* type, const char* height,
            const char* readable, const char* rotation, const char* narrow, const char* wide,
            const char* content) {
  paloma::ApiLock lock;
  return sendFormatted([&](CommandLines* l) {
    return formatBarcode(x, y, type, height, readable, rotation, narrow, wide, content, l);
  });
}

int barcodeW(const paloma_wchar* x, const paloma_wchar* y, const paloma_wchar* type,
             const paloma_wchar* height, const paloma_wchar* readable,
             const paloma_wchar* rotation, const paloma_wchar* narrow, const paloma_wchar* wide,
             const paloma_wchar* content) {
  paloma::ApiLock lock;
  if (!connectionOpen()) return 0;
  const paloma_wchar* w[9] = {x, y, type, height, readable, rotation, narrow, wide, content};
  std::string a[9];
  if (!narrowWideArgs(w, 9, a)) return 0;
  return barcode(a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str(), a[4].c_str(),
                 a[5].c_str(), a[6].c_str(), a[7].c_str(), a[8].c_str());
}

int barcodecomplete(const char* x, const char* y, const char* type, const char* height,
                    const char* readable, const char* rotation, const char* narrow,
                    const char* wide, const char* extra, const char* content) {
  paloma::ApiLock lock;
  return sendFormatted([&](CommandLines* l) {
    return formatBarcodeComplete(x, y, type, height, readable, rotation, narrow, wide, extra,
                                 content, l);
  });
}

int rss(const char* x, const char* y, const char* type, const char* rotation,
        const char* moduleWidth, const char* separatorHeight, const char* extra,
        const char* content) {
  paloma::ApiLock lock;
  return sendFormatted([&](CommandLines* l) {
    return formatRss(x, y, type, rotation, moduleWidth, separatorHeight, extra, content, l);
  });
}

}  // extern "C"
