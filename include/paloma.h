/* PALOMA: drive thermal label printers from an application.
 *
 * One current connection (opened by name, COM port, USB, or TCP), command
 * builders for the label command language, host-font text sent as bitmaps,
 * file downloads, status and information queries, five numbered printer
 * slots, and discovery by UDP broadcast.
 *
 * Conventions: functions return 1 for success and 0 for failure unless their
 * comment says otherwise. Text arguments are NUL-terminated; a null pointer is
 * refused like an empty connection (0, "-1" or ""). Queries return pointers to
 * library-owned texts that stay valid until the next call of the same kind.
 * Every call runs to completion on the caller's thread. Functions marked
 * "C++ linkage" are exported with C++ (type-decorated) symbols; all others
 * have plain C names.
 *
 * Threads: the library may be called from several threads. Every function
 * takes one process-wide lock for the whole call, so calls from different
 * threads run one after another, each whole, as if made in some order by a
 * single thread; the bytes of two commands never mix. Consequences:
 *  - A slow call holds the others back: a query that waits 5 seconds for a
 *    silent printer, or closeport's pause, keeps every other thread's call
 *    waiting that long. Keep slow queries off a thread that must stay
 *    responsive.
 *  - The message handler runs inside the call that reports, with the lock
 *    held. It may call the library on its own thread (the lock is
 *    recursive), but it must not block forever, and it must not wait for
 *    another thread that calls the library (that thread waits for the lock
 *    and neither goes on).
 *  - Sequences that belong together (open, several builders, print, close)
 *    are not atomic: another thread's calls may fall between them. Give one
 *    printer connection to one thread at a time.
 *  - Texts returned by queries are shared: copy one before another thread
 *    can make a call of the same kind.
 *  - paloma_last_error, paloma_last_error_code, paloma_clear_error and
 *    paloma_set_log_level never wait for the lock: the error record is the
 *    calling thread's own.
 *
 * On Linux every exported function carries the symbol version PALOMA_1 and
 * the library exports nothing else. A versioned name never stands in for a
 * function of the same name in another library (the C library's sendfile
 * stays the one the C++ runtime uses), and the library's calls to its own
 * functions stay inside it, even when the application defines functions of
 * the same names (setup, restart, closeport, ...).
 *
 * Text "in the process's character set" is read in the locale's character
 * set (LC_CTYPE; on Windows the ANSI code page). In the C/POSIX locale, which
 * a program has until it calls setlocale, a text that is valid UTF-8 is read
 * as UTF-8, and any other text byte by byte as ISO-8859-1.
 */
#ifndef PALOMA_H
#define PALOMA_H

#include <stddef.h>

#if defined(_WIN32)
#define PALOMA_API __declspec(dllexport)
typedef wchar_t paloma_wchar;
#else
#define PALOMA_API __attribute__((visibility("default")))
#ifdef __cplusplus
typedef char16_t paloma_wchar;
#else
#include <uchar.h>
typedef char16_t paloma_wchar;
#endif
#endif

/* A string handed to the caller that the caller releases with
 * paloma_bstr_free: bytes preceded by a hidden 32-bit length, NUL-terminated. */
typedef char* paloma_bstr;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Messages -------------------------------------------------------------
 * Failures that the printer logic reports to a person go through a message
 * handler. The default writes "caption: text" and a newline to standard error.
 * icon: 0 warning, 1 information, 2 exclamation, 3 none, 4 debug detail (PALOMA_ICON_DEBUG, only when asked for). */
typedef void (*paloma_message_handler)(const char* text, const char* caption, int icon,
                                       void* user);
/* Installs a handler (null restores the default). Returns the previous one. */
PALOMA_API paloma_message_handler paloma_set_message_handler(paloma_message_handler handler,
                                                             void* user);

/* Message levels: PALOMA_LOG_MESSAGES (the default) delivers only the boxes
 * above; PALOMA_LOG_DEBUG also delivers detail for a developer (which face
 * stood in for a missing font, ...) with icon PALOMA_ICON_DEBUG and caption
 * "Debug". Returns the previous level. */
#define PALOMA_LOG_MESSAGES 0
#define PALOMA_LOG_DEBUG 1
#define PALOMA_ICON_DEBUG 4
PALOMA_API int paloma_set_log_level(int level);

/* ---- Why a call failed ----------------------------------------------------
 * Every failing call records its reason for the calling thread: a sentence a
 * person can act on and the OS error number behind it (errno on Linux,
 * GetLastError/WSAGetLastError on Windows, with the system's text from
 * FormatMessage; 0 when the cause is not an OS error). For example:
 *   connect to 127.0.0.1:1: Connection refused
 *   no spooler printer named "nope", and "nope" is not a port name (...)
 *   open "labels/missing.prn": No such file or directory
 *   the printer closed the connection
 *   no reply within 1 s
 *   the reply filled 65536 bytes without the end marker ENDLINE
 * Openers, writers, command builders, queries, file functions, slots,
 * discovery and host-font text record it wherever they give their failure
 * result (0, -1, -2, "-1", "", ...). A successful call leaves the record as
 * it was (as errno does), so read it right after the call that failed. The
 * text stays valid until the thread's next failing call or
 * paloma_clear_error. A host font that is not installed is no failure: the
 * face that stood in for it is told as debug detail (paloma_set_log_level). */
PALOMA_API const char* paloma_last_error(void);
PALOMA_API int paloma_last_error_code(void);
PALOMA_API void paloma_clear_error(void);

/* ---- Connection and write path --------------------------------------------
 * Writers pick the transport by the mode flags in a fixed order and return 1
 * only when the transport accepted every byte. */

/* Text then CR LF (serial: in one write). Texts of 655,350 bytes or more: 0. */
PALOMA_API int sendcommand(const char* text);
/* Text without line end. */
PALOMA_API int sendcommandnocrlf(const char* text);
/* UTF-16 text narrowed byte per unit (U+0000..U+00FF; a text with any unit
 * above U+00FF, or longer than 255 bytes, is refused with 0); then CR LF, or
 * CR LF NUL over the network. */
PALOMA_API int sendcommandW(const paloma_wchar* text);
/* Text in the process's character set (in the C locale: UTF-8 when the text
 * is valid UTF-8, see the top of this header), sent as UTF-8; then CR LF, or
 * CR LF NUL over the network. */
PALOMA_API int sendcommandutf8(const char* text);
/* length bytes, then CR LF (network: CR LF NUL). */
PALOMA_API int sendBinaryData(const unsigned char* data, int length);
/* length bytes, no line end. */
PALOMA_API int sendBinaryDataNoCRLF(const unsigned char* data, int length);

/* Library information. */
PALOMA_API int about(void);
PALOMA_API const char* dllversion(void);
PALOMA_API int showunicode(const paloma_wchar* text, int count);
PALOMA_API const char* testthread(void);

/* ---- Opening and closing --------------------------------------------------
 * openport: a spooler (CUPS) printer name first; otherwise "USB", "LPT1".."LPT4"
 * (/dev/lp0..3), "COMn" (/dev/ttyS(n-1)), or a /dev/ device path.
 * On Linux, "\\SERVER\QUEUE" or "//SERVER/QUEUE" (SERVER may be HOST:PORT,
 * port 631 by default) is the queue QUEUE on the CUPS print server SERVER,
 * for openport, compareport, returndriver and the slot openers; an unknown
 * queue or a server that does not answer within the spooler's bounds gives 0
 * (compareport: 0 as for a port without a printer) and a last error naming
 * the server. */
PALOMA_API int openport(const char* name);
PALOMA_API int openportW(const paloma_wchar* name);
/* Opens the spooler printer whose port (CUPS device URI) is exactly `port`:
 * 1 opened, 0 none on that port, -1 found but could not be opened. */
PALOMA_API int compareport(const char* port);
/* The UTF-8 name of the spooler printer on `port`, or "-1". */
PALOMA_API const char* returndriver(const char* port);
/* Closes one transport: 1 closed, 0 nothing open. Serial waits 100 ms,
 * network 1000 ms before closing. */
PALOMA_API int closeport(void);

/* ---- Label commands ---------------------------------------------------------
 * Each builder places its text arguments verbatim into the fields of one
 * command of the label language and sends it with sendcommand (which adds
 * CR LF). A content (last) argument that begins with "@" (a printer variable)
 * goes into the command bare, any other in double quotes. Results: 1 only
 * when every command line was accepted by the transport; 0 when no
 * connection is open, an argument is null, a wide argument holds a character
 * above U+00FF or more than 255 bytes, an argument holds CR or LF (the
 * printer would end the command there; the last error names the argument),
 * or the command does not fit its capacity (such a command is refused whole,
 * never shortened, and nothing is sent). Capacities count the command without its line end plus one byte. */

/* "SIZE w mm,h mm", "SPEED s", "DENSITY d", then "BLINE g mm,o mm" when the
 * first character of `sensor` is '1', else "GAP g mm,o mm" (99 characters
 * each). All four are checked before any is sent. */
PALOMA_API int setup(const char* width, const char* height, const char* speed,
                     const char* density, const char* sensor, const char* gap,
                     const char* offset);
/* "CLS". */
PALOMA_API int clearbuffer(void);
/* "FORMFEED". */
PALOMA_API int formfeed(void);
/* "SET STRIPER OFF", then "SET TEAR OFF". */
PALOMA_API int nobackfeed(void);
/* "PRINT sets,copies" (49 characters). */
PALOMA_API int printlabel(const char* sets, const char* copies);
PALOMA_API int printlabelW(const paloma_wchar* sets, const paloma_wchar* copies);
/* The restart bytes ESC '!' 'R' CR NUL, then the line end of sendBinaryData.
 * Tried while a connection or any transport flag is active. */
PALOMA_API int restart(void);

/* "TEXT x,y,"font",rotation,xmul,ymul,"content"" (499 characters). */
PALOMA_API int printerfont(const char* x, const char* y, const char* font, const char* rotation,
                           const char* xmul, const char* ymul, const char* content);
PALOMA_API int printerfontW(const paloma_wchar* x, const paloma_wchar* y,
                            const paloma_wchar* font, const paloma_wchar* rotation,
                            const paloma_wchar* xmul, const paloma_wchar* ymul,
                            const paloma_wchar* content);
/* "BARCODE x,y,"type",height,readable,rotation,narrow,wide,"content"": the type
 * always quoted (1023 characters). */
PALOMA_API int barcode(const char* x, const char* y, const char* type, const char* height,
                       const char* readable, const char* rotation, const char* narrow,
                       const char* wide, const char* content);
PALOMA_API int barcodeW(const paloma_wchar* x, const paloma_wchar* y, const paloma_wchar* type,
                        const paloma_wchar* height, const paloma_wchar* readable,
                        const paloma_wchar* rotation, const paloma_wchar* narrow,
                        const paloma_wchar* wide, const paloma_wchar* content);
/* As barcode with one more bare field before the content. */
PALOMA_API int barcodecomplete(const char* x, const char* y, const char* type,
                               const char* height, const char* readable, const char* rotation,
                               const char* narrow, const char* wide, const char* extra,
                               const char* content);
/* "RSS x,y,"type",rotation,module,separator[,extra],content" (99 characters):
 * `extra` is written only when not empty. Without it, an "@" content goes bare
 * only for type names that sort at or before "RSSEXP" in byte order. */
PALOMA_API int rss(const char* x, const char* y, const char* type, const char* rotation,
                   const char* moduleWidth, const char* separatorHeight, const char* extra,
                   const char* content);

/* Two-dimensional symbols. An optional argument is given when not empty; the
 * last argument is the content. qrcode, dmatrix, aztec and maxicode: 99
 * characters; pdf417: 499.
 * qrcode: arguments 1-6, then 7 and 8 both when either is given, then content.
 * dmatrix: arguments 1-4, then 5-7 all when any is given, then content.
 * aztec: arguments 1-3, then 4-9 up to the last given one, then content.
 * maxicode: by the first character of argument 3: '2' and '3' write
 *   arguments 1-6 ('3' quotes field 6), '4' writes 1-3, '5' writes 1-3 and
 *   needs 4-6 empty; any other mode, or '5' with 4-6 given, sends nothing, 0.
 * pdf417: any of 9-11 given: arguments 1-17 and a bare content; else 8 given:
 *   1-8, 12-17, bare content; else 6 given: 1-7, 12-17, bare content; else
 *   1-5 and the chain 7, 12-17 up to its last given member, the content bare
 *   when 17 is given, otherwise by the "@" rule. */
PALOMA_API int qrcode(const char* x, const char* y, const char* ecc, const char* cell,
                      const char* mode, const char* rotation, const char* model,
                      const char* mask, const char* content);
PALOMA_API int dmatrix(const char* x, const char* y, const char* width, const char* height,
                       const char* moduleSize, const char* rows, const char* columns,
                       const char* content);
PALOMA_API int aztec(const char* x, const char* y, const char* rotation, const char* moduleSize,
                     const char* errorControl, const char* flags, const char* menu,
                     const char* symbols, const char* reverse, const char* content);
PALOMA_API int maxicode(const char* x, const char* y, const char* mode, const char* cls,
                        const char* country, const char* postal, const char* content);
PALOMA_API int pdf417(const char* x, const char* y, const char* width, const char* height,
                      const char* rotation, const char* o6, const char* o7, const char* o8,
                      const char* o9, const char* o10, const char* o11, const char* o12,
                      const char* o13, const char* o14, const char* o15, const char* o16,
                      const char* o17, const char* content);

/* RFID. Each command carries its own CR LF, so two line ends follow it. The
 * result is sendcommand's (0 with no connection). */
/* "RFIDDETECT". */
PALOMA_API int rfidDetect(void);
/* "RFID READ,a1,a2,a3,a4,a5,""" (1023 characters with its CR LF). */
PALOMA_API int rfidRead(const char* a1, const char* a2, const char* a3, const char* a4,
                        const char* a5);
/* "RFID WRITE,a1,a2,a3,a4,a5,"data"", then a 500 ms pause (blocks) whenever
 * the command was formatted, written or not. */
PALOMA_API int rfidWrite(const char* a1, const char* a2, const char* a3, const char* a4,
                         const char* a5, const char* data);

/* Wireless-LAN settings (1023 characters). Refused when neither a connection
 * nor any transport flag is active; otherwise 1 only when written. */
PALOMA_API int WiFi_DHCP(void);                               /* "WLAN DHCP" */
PALOMA_API int WiFi_Port(int port);                           /* "WLAN PORT n" */
PALOMA_API int WiFi_SSID(const char* ssid);                   /* "WLAN SSID "ssid"" */
/* "WLAN IP "ip", "mask", "gateway"" (a blank after each comma). */
PALOMA_API int WiFi_StaticIP(const char* ip, const char* mask, const char* gateway);
PALOMA_API int WiFi_WEP(int index, const char* key);          /* "WLAN WEP n,"key"" */
PALOMA_API int WiFi_WPA(const char* key);                     /* "WLAN WPA "key"" */
/* "WLAN DEFAULT", then the restart bytes as restart sends them. */
PALOMA_API int WiFi_Default(void);

/* PALOMA_SECTION commands */
/* ---- Host-font text -------------------------------------------------------
 * The text is drawn in a font installed on the host (found by face name; a
 * name that matches no face gets the system's substitute) into a one-bit
 * bitmap and sent as "BITMAP X,Y,W,H,1," without line end, one write per
 * bitmap row (text 0 bits, background 1 bits, leftmost dot in the most
 * significant bit), and "\r\n".
 * x, y: the text's reference point (top-left corner of the unrotated text
 * cell) in dots. fontheight: pixels, positive = cell height, negative =
 * character height. rotation: degrees counter-clockwise about the reference
 * point; 0, 90, 180 and 270 send the whole turned text, any other angle sends
 * a square of the text height placed above and left of the reference point.
 * fontstyle: bit 0 italic, 2 or more bold. fontunderline: low 8 bits, non-zero
 * underlines. szFaceName: at most 31 bytes.
 * Rows above and whole bytes left of the label origin are not sent; a text
 * lying wholly there sends nothing and returns 0, and so does a text whose
 * bitmap exceeds 2400 x 12000 dots. 1 when every byte was accepted. */

/* 8-bit content in the process's character set (the C locale: UTF-8 when the
 * text is valid UTF-8, else ISO-8859-1).
 * Empty content or face name: 0. */
PALOMA_API int windowsfont(int x, int y, int fontheight, int rotation, int fontstyle,
                           int fontunderline, const char* szFaceName, const char* content);
/* UTF-16 content narrowed byte per unit (U+0000..U+00FF, at most 255 units;
 * anything else is refused with 0) and drawn as those characters. */
PALOMA_API int windowsfontW(int x, int y, int fontheight, int rotation, int fontstyle,
                            int fontunderline, const char* szFaceName,
                            const paloma_wchar* content);
/* UTF-16 content drawn as Unicode (font fallback for characters the face
 * lacks). An empty content or face name is drawn and sent (for rotation 0 a
 * header of width 0, then "\r\n"). */
PALOMA_API int windowsfontM(int x, int y, int fontheight, int rotation, int fontstyle,
                            int fontunderline, const char* szFaceName,
                            const paloma_wchar* content);
/* The same as windowsfontM. */
PALOMA_API int windowsfontUnicode(int x, int y, int fontheight, int rotation, int fontstyle,
                                  int fontunderline, const char* szFaceName,
                                  const paloma_wchar* content);
/* As windowsfontM, drawing at most `length` code units of the content (0 to
 * 1023; other lengths are refused with 0). */
PALOMA_API int windowsfontUnicodeLengh(int x, int y, int fontheight, int rotation, int fontstyle,
                                       int fontunderline, const char* szFaceName,
                                       const paloma_wchar* content, int length);
/* PALOMA_SECTION fonttext */
/* ---- Printer information --------------------------------------------------
 * Each query writes one fixed request and returns the printer's reply as it
 * came (less what the reader drops), in a library buffer that the next query
 * overwrites.
 * Serial (comportprinter*): on the connection's port; a 500 ms pause, one
 *   read, the bytes before the STX; no reply gives "".
 * Network (ethernetprinter*): a 200-byte request block on the connection's
 *   socket; the first block received. Those marked [-1] answer "-1" when a
 *   network receive failed (also an earlier one) and clear that error by
 *   reporting it; codepage and peel never answer "-1".
 * USB (usbprinter*): finds the printer and opens a handle of its own (no
 *   open connection needed); reads up to the first CR (dpi: a CR-ended line,
 *   serial: one packet, complete status: the STX..ETX frame). Those marked
 *   [-1] answer "-1" when nothing came; codepage and peel answer "".
 *   With no printer attached they answer so at once: no request is written
 *   and no read waits for its time-out.
 * Complete status: the frame without STX and ETX. */
PALOMA_API const char* comportprintercodepage(void);
PALOMA_API const char* comportprintercompletestatus(void);
PALOMA_API const char* comportprinterdpi(void);
PALOMA_API const char* comportprinterfile(void);
PALOMA_API const char* comportprinterfreememory(void);
PALOMA_API const char* comportprintermileage(void);
PALOMA_API const char* comportprintername(void);
PALOMA_API const char* comportprinterpeel(void);
PALOMA_API const char* comportprinterquantity(void);
PALOMA_API const char* comportprinterserial(void);
PALOMA_API const char* ethernetprintercodepage(void);
PALOMA_API const char* ethernetprintercompletestatus(void); /* [-1] */
PALOMA_API const char* ethernetprinterdpi(void);            /* [-1] */
PALOMA_API const char* ethernetprinterfile(void);           /* [-1] */
PALOMA_API const char* ethernetprinterfreememory(void);     /* [-1] */
PALOMA_API const char* ethernetprintermileage(void);        /* [-1] */
PALOMA_API const char* ethernetprintername(void);           /* [-1] */
PALOMA_API const char* ethernetprinterpeel(void);
PALOMA_API const char* ethernetprinterquantity(void);       /* [-1] */
PALOMA_API const char* ethernetprinterserial(void);         /* [-1] */
PALOMA_API const char* usbprintercodepage(void);
PALOMA_API const char* usbprintercompletestatus(void);      /* [-1] */
PALOMA_API const char* usbprinterfile(void);                /* [-1] */
PALOMA_API const char* usbprinterfreememory(void);          /* [-1] */
PALOMA_API const char* usbprintermileage(void);             /* [-1] */
PALOMA_API const char* usbprintername(void);                /* [-1] */
PALOMA_API const char* usbprinterpeel(void);
PALOMA_API const char* usbprinterquantity(void);            /* [-1] */
PALOMA_API const char* usbprinterserial(void);              /* [-1] */
/* OUT GETSETTING$("a","b","c") CR LF OUT CHR$(02) CR LF, as a 1024-byte
 * block on the connection's socket: the first block received, or "-1" while
 * a network receive error stands (not cleared here), for a null argument, or
 * for a request of 1024 bytes or more (nothing sent). */
PALOMA_API const char* ethernetprintersetting(const char* a, const char* b, const char* c);
/* The same request on the open USB connection: the reply without CR and LF,
 * up to the STX; "" when nothing came, for a null argument or a request of
 * 1024 bytes or more (nothing written). */
PALOMA_API const char* usbprintersetting(const char* a, const char* b, const char* c);
/* Restart: ESC ! R and LF (serial; network in a 200-byte block) or CR (USB).
 * 1 when every byte was accepted, 0 when not; USB also -1 no printer, -2 the
 * device did not open. No reply is read. */
PALOMA_API int comportprinterrestart(void);
PALOMA_API int ethernetprinterrestart(void);
PALOMA_API int usbprinterrestart(void);
/* As usbprintername / usbprinterserial, as a string the caller releases with
 * paloma_bstr_free: on success all 65,536 bytes of the reply buffer (the
 * reply, then NUL bytes), on failure the 2-byte text "-1". */
PALOMA_API paloma_bstr usbprinternamevb6(void);
PALOMA_API paloma_bstr usbprinterserialvb6(void);
/* The data of the last RFID read: an empty request and the end-marker
 * request, read with the string read of the first active transport among
 * USB, serial and network (see usb_getstring). "" on any other connection,
 * without writing; "-1" from a failed network read. */
PALOMA_API const char* rfidGetReadData(void);
/* As rfidGetReadData, but every active transport among USB, serial and
 * network is read in that order and the last reply is kept; returned as a
 * string of the reply's bytes that the caller releases. */
PALOMA_API paloma_bstr rfidGetReadDatavb6(void);
/* Releases a string returned by a vb6 function (null is ignored). */
PALOMA_API void paloma_bstr_free(paloma_bstr s);
/* The byte length of such a string (0 for null). */
PALOMA_API unsigned int paloma_bstr_bytelen(paloma_bstr s);
/* ---- Serial port ----------------------------------------------------------
 * Line settings are texts matched whole and case-sensitively: baud "2400",
 * "4800", "9600", "19200", "38400", "57600", "115200"; parity "N", "O", "E";
 * data bits "8", "7"; stop bits "1", "2". A text outside these leaves its
 * field as it was (a port running at a rate outside the list, 600 or 460800
 * baud say, keeps that rate) and the other texts still apply. The default
 * settings are 9600 baud, 8 data bits, no parity, one stop bit. Setting them
 * changes nothing else of the line: flow control stays as the port had it. */
/* Opens the port by its file name unchanged and sets the default settings;
 * marks the connection open and serial; the port or file port the connection
 * held before is closed. Only an existing serial terminal opens: any other
 * name (a regular file, a missing path, a device that is no terminal) opens
 * nothing and is neither created nor changed. "1" opened, "0" the port did
 * not open (the connection is left as it was; the last error says why). The
 * serial branches of openport and openportW open only terminals as well. */
PALOMA_API const char* opencomport(const char* port);
/* Applies the four texts (and DSR sensitivity) to the connection's port:
 * 1 done, 0 when the port's settings cannot be read or written. */
PALOMA_API int SetRS232(const char* baud, const char* parity, const char* databits,
                        const char* stopbits);
/* The same on a port it opens and closes itself (an existing serial terminal
 * only, as opencomport); the connection is left alone. 0 when the port does
 * not open or its settings cannot be set. */
PALOMA_API int SetRS232_port(const char* port, const char* baud, const char* parity,
                             const char* databits, const char* stopbits);

/* ---- Network ----------------------------------------------------------------
 * Connects to an IPv4 address in dotted text and the low 16 bits of `port`.
 * The text is taken as inet_addr takes it: "a.b.c.d", or fewer parts with the
 * last one filling the remaining bytes ("127.1" is 127.0.0.1), each part
 * decimal, octal (leading 0) or hexadecimal (0x). No host names; an empty
 * text, a part out of range or 255.255.255.255 gives 0 without opening
 * anything. A printer that does not answer the connection is given up after 5
 * seconds. Send and receive time-outs of 1000 ms; pauses 50 ms after
 * connecting. A connection held before is closed on success and
 * kept, usable, on failure. 1 connected, 0 not. */
PALOMA_API int openethernet(const char* address, int port);
/* Waits `delay` ms, closes the socket and clears the network mode (the
 * connection stays marked open). Always 1. */
PALOMA_API int closeethernetport(int delay);
/* Diagnostic: sends the text as it is and shows each reply (captions "Error
 * Message") until the printer closes ("Hi", and "Connection Closed." on
 * standard output), a receive fails ("-1", then "end"), or 5 seconds pass
 * ("end"). Always 1 (0 for a null text). */
PALOMA_API int Ethernetsend(const char* text);

/* ---- Status -----------------------------------------------------------------
 * The printer answers ESC "!?" with one status byte. Known bytes read as two
 * uppercase hex digits: "00" "01" "02" "03" "04" "05" "08" "09" "0A" "0B" "0C"
 * "0D" "10" "20" "80". Any other byte: "-2" on the serial port, "other error"
 * on the network and USB. */
/* The current connection's status: "-1" nothing open, "" on a spooler, LPT or
 * USB-device connection, else the serial or network status. */
PALOMA_API const char* printerstatus(void);
/* Serial: 500 ms pause, then what has arrived; no answer reads as "-2". */
PALOMA_API const char* comportprinterstatus(void);
/* Serial status byte as a signed value (0x80 -128, 0xFF -1); -1 no answer,
 * 0 a failed read. */
PALOMA_API int comportqueryprinter(void);
/* The same on a port opened with openport and closed again (50 ms pause
 * after opening). 0 for a null port. */
PALOMA_API int comportqueryprinter_port(const char* port);
/* Network: "-1" after a receive error, a closed connection or a silent
 * printer (about a second), and for as long as that error stays recorded
 * (until openethernet, or an information query that reports it). */
PALOMA_API const char* ethernetprinterstatus(void);
/* USB, on a handle of its own: "-1" no printer, or one that does not open; a
 * silent printer reads "00" after about 2.2 s. */
PALOMA_API const char* usbprinterstatus(void);
/* USB, synchronous: the byte as a signed value; -1 no printer; 0 nothing read. */
PALOMA_API int usbportqueryprinter(void);

/* ---- String reads -------------------------------------------------------------
 * Send the command, a line end and OUT "ENDLINE", pause `pause_ms`, then read
 * until the printer's "ENDLINE\r\n" arrives. The text before the marker
 * (and whatever followed it, up to a NUL) comes back in a new 1024-byte block
 * that stays valid; longer texts are cut at 1023 bytes. Each read gives up
 * after 5 seconds of reading, when the reply fills 65,536 bytes without the
 * marker, or when the connection fails or closes; the result is then "-1".
 * ethernet_getstring also gives "-1" while a network error is recorded. */
PALOMA_API const char* comport_getstring(const char* command, int pause_ms);
PALOMA_API const char* ethernet_getstring(const char* command, int pause_ms);
PALOMA_API const char* usb_getstring(const char* command, int pause_ms);
/* PALOMA_SECTION query */
/* ---- Files and images -----------------------------------------------------
 * A file is read whole into memory and sent over the current connection in
 * one piece. A download is the header "DOWNLOAD \"<name>\",<size>," (the memory
 * download: "DOWNLOAD <memory>,\"<name>\",<size>,"), exactly <size> bytes of the
 * file, and CR LF (network: CR LF NUL). They return 1 only when every piece was
 * accepted; 0 when no connection is open (nothing is opened), the file cannot
 * be read whole (a message says why: a path that does not open, a directory
 * among them, shows "Could not open file"), the header would exceed 99
 * characters, no transport is active, or a write failed. Files of 2 GiB or
 * more: 0.
 * Note that `sendfile` has a plain C name that also exists in the C library;
 * do not include <sys/sendfile.h> beside this header. (Other libraries keep
 * the C library's: see the symbol versions at the top of this header.) */
PALOMA_API int downloadbmp(const char* path, const char* name);
PALOMA_API int downloadpcx(const char* path, const char* name);
PALOMA_API int downloadmemory(const char* memory, const char* path, const char* name);
/* The file's bytes unchanged, then CR LF (network: CR LF NUL); no header. */
PALOMA_API int sendfile(const char* path);
/* Replace "testfile.txt" in the current directory with the text: UTF-16-LE
 * without byte-order mark, or the 8-bit text's bytes. Always 0. */
PALOMA_API int savetotext(const paloma_wchar* text);
PALOMA_API int savetotext_array(const char* text);
/* PALOMA_SECTION files */
/* ---- Printer slots -------------------------------------------------------
 * Five numbered slots (1 to 5) hold printers open beside the single
 * connection. Slot 1's spooler and USB state are the single connection's:
 * openport/closeport open and close them too. Every slot's network
 * connection is its own. Opening a slot's spooler or USB transport first
 * closes what the slot's handle held; opening its network connection closes
 * the old socket once the new one is connected. */

/* Opens the CUPS printer `name` in slot n and starts a job: 1 opened. */
PALOMA_API int openportmult(int n, const char* name);
/* Opens the n-th matching USB printer (enumeration order) in slot n.
 * A slot number outside 1 to 5 shows "Can't using USB_Mult port" ("Error
 * Message"), ends slot 1's spooler job if one is open (what was sent to it
 * prints and its printer is closed), clears isOpen and returns 0. */
PALOMA_API int openusbportmult(int n);
/* Connects slot n to an IPv4 address text (as openethernet takes it) and
 * TCP port (low 16 bits). */
PALOMA_API int openethernetmult(int n, const char* address, int port);
/* Closes slot n's USB device, else its spooler job; for other slots, or one
 * with neither open, closes the single connection's parallel port or USB
 * device. Always 1. */
PALOMA_API int closeportmult(int n);
/* Waits delayMs, then closes slot n's socket: 1 for slots 1 to 5, else 0. */
PALOMA_API int closeethernetportmult(int n, unsigned int delayMs);

/* Text then CR LF to slot n's USB device, spooler job or socket (a socket
 * gets CR LF NUL on slots 1, 3, 4, 5 and CR LF on slot 2). */
PALOMA_API int sendcommandmult(int n, const char* text);
/* The builders of the single connection, sent to slot n; refused (0) unless
 * the slot holds an open USB device or spooler job. */
PALOMA_API int setupmult(int n, const char* width, const char* height, const char* speed,
                         const char* density, const char* sensor, const char* gap,
                         const char* offset);
PALOMA_API int clearbuffermult(int n);
PALOMA_API int formfeedmult(int n);
PALOMA_API int nobackfeedmult(int n);
PALOMA_API int printlabelmult(int n, const char* sets, const char* copies);
PALOMA_API int barcodemult(int n, const char* x, const char* y, const char* type,
                           const char* height, const char* readable, const char* rotation,
                           const char* narrow, const char* wide, const char* content);
/* "TEXT" to slot n on any open transport, the network included. */
PALOMA_API int printerfontmult(int n, const char* x, const char* y, const char* font,
                               const char* rotation, const char* xmul, const char* ymul,
                               const char* content);
/* Files to a slot's USB device or spooler job. sendfilemult and
 * downloadmemorymult also need the single connection open (isOpen). */
PALOMA_API int sendfilemult(int n, const char* path);
PALOMA_API int downloadbmpmult(int n, const char* path, const char* name);
PALOMA_API int downloadpcxmult(int n, const char* path, const char* name);
PALOMA_API int downloadmemorymult(int n, const char* memory, const char* path,
                                  const char* name);
/* Host-font text as a BITMAP command to slot n's USB device or spooler job. */
PALOMA_API int windowsfontmult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                               int fontunderline, const char* szFaceName, const char* content);
PALOMA_API int windowsfontMmult(int n, int x, int y, int fontheight, int rotation,
                                int fontstyle, int fontunderline, const char* szFaceName,
                                const paloma_wchar* content);
PALOMA_API int windowsfontUnicodemult(int n, int x, int y, int fontheight, int rotation,
                                      int fontstyle, int fontunderline, const char* szFaceName,
                                      const paloma_wchar* content);
/* Status and settings of the printer in slot n: "error" for n outside 1..5;
 * a slot without the queried transport open gives "-1" (the USB setting
 * query "") without any I/O. */
PALOMA_API const char* usbprinterstatusmult(int n);
PALOMA_API const char* ethernetprinterstatusmult(int n);
PALOMA_API const char* usbprintersettingmult(int n, const char* a, const char* b, const char* c);
PALOMA_API const char* ethernetprintersettingmult(int n, const char* a, const char* b,
                                                  const char* c);
/* PALOMA_SECTION slots */
/* ---- Discovery ------------------------------------------------------------
 * Sends one 32-byte UDP probe to 255.255.255.255:22368 from local port 22368
 * and waits up to 3 seconds for any answer longer than 32 bytes. Returns
 * "123456" when one came, "-1" when nobody answered in time, "0" when the
 * socket could not be set up (with a message: "sock ERROR binding in the
 * server socket2", and "Error in creating socket" when no socket was made). */
PALOMA_API const char* broadcast(void);
/* One answer to the discovery probe: the sender's IPv4 address (dotted
 * text) and UDP port, and the answer's first bytes. */
typedef struct paloma_printer_found {
  char address[16];
  unsigned short port;
  int length;                 /* bytes in answer, at most 512 */
  unsigned char answer[512];
} paloma_printer_found;
/* Sends the probe as broadcast does, then collects every answer longer than
 * the probe until wait_ms has passed, one entry per sender (a sender that
 * answers twice is counted once), at most max (the wait ends early when max
 * senders were found; a negative wait_ms is 0). Returns the count, or -1 with
 * the last error set when the socket cannot be set up, the probe cannot be
 * sent, or found is null with max above 0 (or max is negative). Shows no
 * message. Blocks wait_ms. */
PALOMA_API int paloma_discover(int wait_ms, paloma_printer_found* found, int max);
/* PALOMA_SECTION discovery */

#ifdef __cplusplus
} /* extern "C" */

/* ---- C++ linkage ----------------------------------------------------------*/
/* One-shot USB write: text, space, CR LF, CR LF. 0 written, -1 no printer,
 * -2 the device did not open or refused the bytes. Texts over 4092 bytes: -2
 * without writing. */
PALOMA_API int usbportwrite(const char* text);
/* A constant UTF-16 text of one character. */
PALOMA_API const paloma_wchar* muta1();

/* Raw serial write of a text, no line end, on the connection's port: 1 when
 * all bytes were written, 0 otherwise. */
PALOMA_API int ComportSendData(const char* text);
/* USB resolution query: the reply line up to its CR, or "-1" when nothing
 * came. */
PALOMA_API const char* usbprinterdpi();
/* Restores the default serial settings on the connection's port: 1 done, 0
 * when the settings cannot be read or written. */
PALOMA_API int comportdefault();
/* USB readers on a device handle (the pointer carries the handle value); the
 * flag is ignored. True means "call again", except UsbRead_judge: true when a
 * string reply (up to "ENDLINE\r\n") was taken. */
PALOMA_API bool UsbReadDataToBuffer(void* device, bool unused);
PALOMA_API bool UsbReadData(void* device, bool unused);
PALOMA_API bool UsbRead_judge(void* device);
PALOMA_API bool UsbReadStatus(void* device, bool unused);
/* PALOMA_SECTION cxx-query */
/* One packet of a slot's setting reply: true means call again. */
PALOMA_API bool UsbReadData_mult(void* device, bool ignored);
/* PALOMA_SECTION cxx-slots */
#endif

#endif /* PALOMA_H */
