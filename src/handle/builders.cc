// The label builders, host-font text and files on a printer handle. The
// command lines come from the same formatters as the single connection's;
// a builder's lines go out in one write, so two threads sharing a handle
// never interleave the lines of two labels' commands.
#include "handle/builders.h"

#include <cstdlib>
#include <string>

#include "files/files.h"
#include "fonttext/fonttext.h"
#include "handle/link.h"
#include "platform/last_error.h"

namespace paloma {
namespace {

using commands::CommandLines;

constexpr std::string_view kLineEnd{"\r\n", 2};

int toInt(const char* text) { return text ? std::atoi(text) : 0; }

// Formatter adapters: the table's uniform form around each formatter.
bool fSetup(const char* const* a, CommandLines* o) {
  return commands::formatSetup(a[0], a[1], a[2], a[3], a[4], a[5], a[6], o);
}
bool fClear(const char* const*, CommandLines* o) { return commands::formatClearBuffer(o); }
bool fFormFeed(const char* const*, CommandLines* o) { return commands::formatFormFeed(o); }
bool fNoBackFeed(const char* const*, CommandLines* o) { return commands::formatNoBackFeed(o); }
bool fPrintLabel(const char* const* a, CommandLines* o) {
  return commands::formatPrintLabel(a[0], a[1], o);
}
bool fNothing(const char* const*, CommandLines*) { return true; }
bool fPrinterFont(const char* const* a, CommandLines* o) {
  return commands::formatPrinterFont(a[0], a[1], a[2], a[3], a[4], a[5], a[6], o);
}
bool fBarcode(const char* const* a, CommandLines* o) {
  return commands::formatBarcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], o);
}
bool fBarcodeComplete(const char* const* a, CommandLines* o) {
  return commands::formatBarcodeComplete(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8],
                                         a[9], o);
}
bool fRss(const char* const* a, CommandLines* o) {
  return commands::formatRss(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], o);
}
bool fQrcode(const char* const* a, CommandLines* o) { return commands::formatQrcode(a, o); }
bool fDmatrix(const char* const* a, CommandLines* o) { return commands::formatDmatrix(a, o); }
bool fAztec(const char* const* a, CommandLines* o) { return commands::formatAztec(a, o); }
bool fMaxicode(const char* const* a, CommandLines* o) { return commands::formatMaxicode(a, o); }
bool fPdf417(const char* const* a, CommandLines* o) { return commands::formatPdf417(a, o); }
bool fRfidDetect(const char* const*, CommandLines* o) {
  o->assign(1, commands::kRfidDetectCommand);
  return true;
}
bool fRfidRead(const char* const* a, CommandLines* o) { return commands::formatRfidRead(a, o); }
bool fRfidWrite(const char* const* a, CommandLines* o) { return commands::formatRfidWrite(a, o); }
bool fWlanDhcp(const char* const*, CommandLines* o) { return commands::formatWlanDhcp(o); }
bool fWlanPort(const char* const* a, CommandLines* o) {
  return commands::formatWlanPort(toInt(a[0]), o);
}
bool fWlanSsid(const char* const* a, CommandLines* o) { return commands::formatWlanSsid(a[0], o); }
bool fWlanStaticIp(const char* const* a, CommandLines* o) {
  return commands::formatWlanStaticIp(a[0], a[1], a[2], o);
}
bool fWlanWep(const char* const* a, CommandLines* o) {
  return commands::formatWlanWep(toInt(a[0]), a[1], o);
}
bool fWlanWpa(const char* const* a, CommandLines* o) { return commands::formatWlanWpa(a[0], o); }
bool fWlanDefault(const char* const*, CommandLines* o) {
  o->assign(1, commands::kWlanDefaultCommand);
  return true;
}

// The single connection's functions, in the table's form.
int lSetup(const char* const* a) { return setup(a[0], a[1], a[2], a[3], a[4], a[5], a[6]); }
int lClear(const char* const*) { return clearbuffer(); }
int lFormFeed(const char* const*) { return formfeed(); }
int lNoBackFeed(const char* const*) { return nobackfeed(); }
int lPrintLabel(const char* const* a) { return printlabel(a[0], a[1]); }
int lRestart(const char* const*) { return restart(); }
int lPrinterFont(const char* const* a) {
  return printerfont(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
}
int lBarcode(const char* const* a) {
  return barcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);
}
int lBarcodeComplete(const char* const* a) {
  return barcodecomplete(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
}
int lRss(const char* const* a) { return rss(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); }
int lQrcode(const char* const* a) {
  return qrcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);
}
int lDmatrix(const char* const* a) {
  return dmatrix(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
}
int lAztec(const char* const* a) {
  return aztec(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
}
int lMaxicode(const char* const* a) {
  return maxicode(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
}
int lPdf417(const char* const* a) {
  return pdf417(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12],
                a[13], a[14], a[15], a[16], a[17]);
}
int lRfidDetect(const char* const*) { return rfidDetect(); }
int lRfidRead(const char* const* a) { return rfidRead(a[0], a[1], a[2], a[3], a[4]); }
int lRfidWrite(const char* const* a) { return rfidWrite(a[0], a[1], a[2], a[3], a[4], a[5]); }
int lWlanDhcp(const char* const*) { return WiFi_DHCP(); }
int lWlanPort(const char* const* a) { return WiFi_Port(toInt(a[0])); }
int lWlanSsid(const char* const* a) { return WiFi_SSID(a[0]); }
int lWlanStaticIp(const char* const* a) { return WiFi_StaticIP(a[0], a[1], a[2]); }
int lWlanWep(const char* const* a) { return WiFi_WEP(toInt(a[0]), a[1]); }
int lWlanWpa(const char* const* a) { return WiFi_WPA(a[0]); }
int lWlanDefault(const char* const*) { return WiFi_Default(); }

}  // namespace

const BuilderRow kBuilderRows[] = {
    {"paloma_setup", "setup", 7, fSetup, false, lSetup},
    {"paloma_clearbuffer", "clearbuffer", 0, fClear, false, lClear},
    {"paloma_formfeed", "formfeed", 0, fFormFeed, false, lFormFeed},
    {"paloma_nobackfeed", "nobackfeed", 0, fNoBackFeed, false, lNoBackFeed},
    {"paloma_printlabel", "printlabel", 2, fPrintLabel, false, lPrintLabel},
    {"paloma_restart", "restart", 0, fNothing, true, lRestart},
    {"paloma_printerfont", "printerfont", 7, fPrinterFont, false, lPrinterFont},
    {"paloma_barcode", "barcode", 9, fBarcode, false, lBarcode},
    {"paloma_barcodecomplete", "barcodecomplete", 10, fBarcodeComplete, false, lBarcodeComplete},
    {"paloma_rss", "rss", 8, fRss, false, lRss},
    {"paloma_qrcode", "qrcode", 9, fQrcode, false, lQrcode},
    {"paloma_dmatrix", "dmatrix", 8, fDmatrix, false, lDmatrix},
    {"paloma_aztec", "aztec", 10, fAztec, false, lAztec},
    {"paloma_maxicode", "maxicode", 7, fMaxicode, false, lMaxicode},
    {"paloma_pdf417", "pdf417", 18, fPdf417, false, lPdf417},
    {"paloma_rfiddetect", "rfidDetect", 0, fRfidDetect, false, lRfidDetect},
    {"paloma_rfidread", "rfidRead", 5, fRfidRead, false, lRfidRead},
    {"paloma_rfidwrite", "rfidWrite", 6, fRfidWrite, false, lRfidWrite},
    {"paloma_wifi_dhcp", "WiFi_DHCP", 0, fWlanDhcp, false, lWlanDhcp},
    {"paloma_wifi_port", "WiFi_Port", 1, fWlanPort, false, lWlanPort},
    {"paloma_wifi_ssid", "WiFi_SSID", 1, fWlanSsid, false, lWlanSsid},
    {"paloma_wifi_staticip", "WiFi_StaticIP", 3, fWlanStaticIp, false, lWlanStaticIp},
    {"paloma_wifi_wep", "WiFi_WEP", 2, fWlanWep, false, lWlanWep},
    {"paloma_wifi_wpa", "WiFi_WPA", 1, fWlanWpa, false, lWlanWpa},
    {"paloma_wifi_default", "WiFi_Default", 0, fWlanDefault, true, lWlanDefault},
};
const std::size_t kBuilderRowCount = sizeof kBuilderRows / sizeof kBuilderRows[0];

paloma_result sendBuilder(paloma_printer* p, const BuilderRow& row, const char* const* args) {
  if (!p)
    return fail(PALOMA_ERROR_NOT_CONNECTED, "the printer handle is NULL: open one with paloma_open");
  CommandLines lines;
  if (!row.format(args, &lines)) return PALOMA_ERROR_ARGUMENT;  // the formatter says why
  std::string bytes;
  for (const std::string& line : lines) bytes.append(line).append(kLineEnd);
  if (row.restartAfter) {
    bytes.append(reinterpret_cast<const char*>(commands::kRestartBytes),
                 sizeof commands::kRestartBytes);
    bytes.append(kLineEnd);
  }
  std::lock_guard<std::mutex> g(p->lock);
  if (!p->link.transport)
    return fail(PALOMA_ERROR_NOT_CONNECTED,
                "the printer is not connected (its reconnect failed): call paloma_reconnect");
  return linkWrite(p->link, bytes.data(), bytes.size());
}

}  // namespace paloma

using namespace paloma;

namespace {

const BuilderRow& rowOf(const char* handleName) {
  for (std::size_t i = 0; i < kBuilderRowCount; ++i)
    if (std::string_view(kBuilderRows[i].handleName) == handleName) return kBuilderRows[i];
  return kBuilderRows[0];  // unreachable: every caller names a row
}

paloma_result build(paloma_printer* p, const char* name, std::initializer_list<const char*> a) {
  return sendBuilder(p, rowOf(name), a.begin());
}

std::string decimal(int v) { return std::to_string(v); }

}  // namespace

extern "C" {

paloma_result paloma_setup(paloma_printer* p, const char* width, const char* height,
                           const char* speed, const char* density, const char* sensor,
                           const char* gap, const char* offset) {
  return build(p, "paloma_setup", {width, height, speed, density, sensor, gap, offset});
}
paloma_result paloma_clearbuffer(paloma_printer* p) { return build(p, "paloma_clearbuffer", {}); }
paloma_result paloma_formfeed(paloma_printer* p) { return build(p, "paloma_formfeed", {}); }
paloma_result paloma_nobackfeed(paloma_printer* p) { return build(p, "paloma_nobackfeed", {}); }
paloma_result paloma_printlabel(paloma_printer* p, const char* sets, const char* copies) {
  return build(p, "paloma_printlabel", {sets, copies});
}
paloma_result paloma_restart(paloma_printer* p) { return build(p, "paloma_restart", {}); }
paloma_result paloma_printerfont(paloma_printer* p, const char* x, const char* y,
                                 const char* font, const char* rotation, const char* xmul,
                                 const char* ymul, const char* content) {
  return build(p, "paloma_printerfont", {x, y, font, rotation, xmul, ymul, content});
}
paloma_result paloma_barcode(paloma_printer* p, const char* x, const char* y, const char* type,
                             const char* height, const char* readable, const char* rotation,
                             const char* narrow, const char* wide, const char* content) {
  return build(p, "paloma_barcode",
               {x, y, type, height, readable, rotation, narrow, wide, content});
}
paloma_result paloma_barcodecomplete(paloma_printer* p, const char* x, const char* y,
                                     const char* type, const char* height, const char* readable,
                                     const char* rotation, const char* narrow, const char* wide,
                                     const char* extra, const char* content) {
  return build(p, "paloma_barcodecomplete",
               {x, y, type, height, readable, rotation, narrow, wide, extra, content});
}
paloma_result paloma_rss(paloma_printer* p, const char* x, const char* y, const char* type,
                         const char* rotation, const char* moduleWidth,
                         const char* separatorHeight, const char* extra, const char* content) {
  return build(p, "paloma_rss",
               {x, y, type, rotation, moduleWidth, separatorHeight, extra, content});
}
paloma_result paloma_qrcode(paloma_printer* p, const char* x, const char* y, const char* ecc,
                            const char* cell, const char* mode, const char* rotation,
                            const char* model, const char* mask, const char* content) {
  return build(p, "paloma_qrcode", {x, y, ecc, cell, mode, rotation, model, mask, content});
}
paloma_result paloma_dmatrix(paloma_printer* p, const char* x, const char* y, const char* width,
                             const char* height, const char* moduleSize, const char* rows,
                             const char* columns, const char* content) {
  return build(p, "paloma_dmatrix",
               {x, y, width, height, moduleSize, rows, columns, content});
}
paloma_result paloma_aztec(paloma_printer* p, const char* x, const char* y, const char* rotation,
                           const char* moduleSize, const char* errorControl, const char* flags,
                           const char* menu, const char* symbols, const char* reverse,
                           const char* content) {
  return build(p, "paloma_aztec", {x, y, rotation, moduleSize, errorControl, flags, menu,
                                   symbols, reverse, content});
}
paloma_result paloma_maxicode(paloma_printer* p, const char* x, const char* y, const char* mode,
                              const char* cls, const char* country, const char* postal,
                              const char* content) {
  return build(p, "paloma_maxicode", {x, y, mode, cls, country, postal, content});
}
paloma_result paloma_pdf417(paloma_printer* p, const char* x, const char* y, const char* width,
                            const char* height, const char* rotation, const char* o6,
                            const char* o7, const char* o8, const char* o9, const char* o10,
                            const char* o11, const char* o12, const char* o13, const char* o14,
                            const char* o15, const char* o16, const char* o17,
                            const char* content) {
  return build(p, "paloma_pdf417", {x, y, width, height, rotation, o6, o7, o8, o9, o10, o11, o12,
                                    o13, o14, o15, o16, o17, content});
}
paloma_result paloma_rfiddetect(paloma_printer* p) { return build(p, "paloma_rfiddetect", {}); }
paloma_result paloma_rfidread(paloma_printer* p, const char* a1, const char* a2, const char* a3,
                              const char* a4, const char* a5) {
  return build(p, "paloma_rfidread", {a1, a2, a3, a4, a5});
}
paloma_result paloma_rfidwrite(paloma_printer* p, const char* a1, const char* a2, const char* a3,
                               const char* a4, const char* a5, const char* data) {
  return build(p, "paloma_rfidwrite", {a1, a2, a3, a4, a5, data});
}
paloma_result paloma_wifi_dhcp(paloma_printer* p) { return build(p, "paloma_wifi_dhcp", {}); }
paloma_result paloma_wifi_port(paloma_printer* p, int port) {
  const std::string text = decimal(port);
  return build(p, "paloma_wifi_port", {text.c_str()});
}
paloma_result paloma_wifi_ssid(paloma_printer* p, const char* ssid) {
  return build(p, "paloma_wifi_ssid", {ssid});
}
paloma_result paloma_wifi_staticip(paloma_printer* p, const char* ip, const char* mask,
                                   const char* gateway) {
  return build(p, "paloma_wifi_staticip", {ip, mask, gateway});
}
paloma_result paloma_wifi_wep(paloma_printer* p, int index, const char* key) {
  const std::string text = decimal(index);
  return build(p, "paloma_wifi_wep", {text.c_str(), key});
}
paloma_result paloma_wifi_wpa(paloma_printer* p, const char* key) {
  return build(p, "paloma_wifi_wpa", {key});
}
paloma_result paloma_wifi_default(paloma_printer* p) {
  return build(p, "paloma_wifi_default", {});
}

paloma_result paloma_windowsfont(paloma_printer* p, int x, int y, int fontheight, int rotation,
                                 int fontstyle, int fontunderline, const char* face,
                                 const char* content) {
  if (!p)
    return fail(PALOMA_ERROR_NOT_CONNECTED, "the printer handle is NULL: open one with paloma_open");
  if (!face || !content || face[0] == '\0' || content[0] == '\0')
    return fail(PALOMA_ERROR_ARGUMENT, "the face name and the text must be given");
  HostText text;
  text.bytes = content;
  TextBitmap bmp;
  // Drawn before the handle's lock is taken: a long text holds back no other
  // call on the handle while it is drawn.
  TextBitmapStatus s = prepareTextBitmap(
      textBitmapArgs(x, y, fontheight, rotation, fontstyle, fontunderline, face), text, &bmp);
  switch (s) {
    case TextBitmapStatus::Ok: break;
    case TextBitmapStatus::FaceTooLong:
      return fail(PALOMA_ERROR_ARGUMENT, "the face name is longer than 31 bytes");
    case TextBitmapStatus::TooLarge:
      return fail(PALOMA_ERROR_ARGUMENT, "the text does not fit the 2400 x 12000 dot canvas");
    case TextBitmapStatus::Clipped:
      return fail(PALOMA_ERROR_ARGUMENT, "the text lies wholly outside the label");
    case TextBitmapStatus::MeasureFailed:
    case TextBitmapStatus::DrawFailed:
      return fail(PALOMA_ERROR_OS, "the text could not be drawn in the face \"" +
                                       std::string(face) + "\"");
  }
  const std::string bytes = textBitmapCommand(bmp);
  std::lock_guard<std::mutex> g(p->lock);
  if (!p->link.transport)
    return fail(PALOMA_ERROR_NOT_CONNECTED,
                "the printer is not connected (its reconnect failed): call paloma_reconnect");
  return linkWrite(p->link, bytes.data(), bytes.size());
}

}  // extern "C"

// ---- files -------------------------------------------------------------------

namespace {

// The file's bytes (after `header` when it is not empty), then CR LF, on the
// handle. Beyond its first block, a large file goes from the kernel straight
// to the socket or file where the platform can.
paloma_result sendFileOn(paloma_printer* p, const char* path, const std::string* headerOrNull,
                         const char* memory, const char* name) {
  if (!p)
    return fail(PALOMA_ERROR_NOT_CONNECTED, "the printer handle is NULL: open one with paloma_open");
  if (!path) return fail(PALOMA_ERROR_ARGUMENT, "the path is a null pointer");
  std::lock_guard<std::mutex> g(p->lock);
  Link& link = p->link;
  if (!link.transport)
    return fail(PALOMA_ERROR_NOT_CONNECTED,
                "the printer is not connected (its reconnect failed): call paloma_reconnect");
  FileSource file;
  if (!openFileSource(path, &file)) return PALOMA_ERROR_OS;  // the loader says why
  std::string header;
  if (headerOrNull) {
    if (!formatDownloadHeader(memory, name, file.size(), &header))
      return fail(PALOMA_ERROR_ARGUMENT, "the DOWNLOAD header would be longer than " +
                                             std::to_string(kMaxDownloadHeader) +
                                             " characters, or the name is missing");
    if (paloma_result r = linkWrite(link, header.data(), header.size())) return r;
  }
  std::optional<CopyTarget> copyTo;
  if (link.transport == TransportKind::Network) {
    copyTo = CopyTarget{};
    copyTo->socket = link.socket;
  } else if (link.transport == TransportKind::LptFile) {
    copyTo = CopyTarget{};
    copyTo->handle = link.handle;
  }
  paloma_result written = PALOMA_OK;
  auto write = [&](const unsigned char* data, std::size_t n) {
    written = linkWrite(link, data, n);
    return written == PALOMA_OK;
  };
  if (!file.send(write, copyTo)) return written != PALOMA_OK ? written : PALOMA_ERROR_OS;
  return linkWrite(link, kLineEnd.data(), kLineEnd.size());
}

}  // namespace

extern "C" {

paloma_result paloma_send_file(paloma_printer* p, const char* path) {
  return sendFileOn(p, path, nullptr, nullptr, nullptr);
}

paloma_result paloma_download(paloma_printer* p, const char* memory, const char* path,
                              const char* name) {
  if (!name) return fail(PALOMA_ERROR_ARGUMENT, "the name on the printer is a null pointer");
  static const std::string kWithHeader;
  return sendFileOn(p, path, &kWithHeader, memory, name);
}

}  // extern "C"
