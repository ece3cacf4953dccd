/** @file paloma.h
 * @brief PALOMA: drive thermal label printers from an application.
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
 *    silent printer, or closeport()'s pause, keeps every other thread's call
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
 *  - paloma_last_error(), paloma_last_error_code(), paloma_clear_error() and
 *    paloma_set_log_level() never wait for the lock: the error record is the
 *    calling thread's own.
 *  - Printer handles (paloma_printer, @ref handles) are outside this lock:
 *    each handle has a lock of its own, calls on different handles run in
 *    parallel, and neither a slow handle nor a slow legacy call (one holding
 *    the process-wide lock) ever waits for the other. To drive many printers
 *    at once, or to keep a slow printer from holding others back, give each
 *    printer a handle.
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
 *
 * Blocking: every call returns within a bound. Every write to a printer
 * (commands, binary data, files) follows one rule: it fails when the printer
 * takes no byte for the stall bound (1000 ms on the network; on a device 1
 * to 30 seconds by the size of the data), and a printer that keeps taking
 * bytes, however slowly, is waited for. A TCP connect gives up after 5
 * seconds; a print server after 5 seconds to connect, 5 seconds for a whole
 * lookup and 15 seconds for each whole exchange of a job, however the server
 * paces its answer.
 * Each function's comment names the pauses and waits of its own.
 *
 * Sanitizers: a program that draws host-font text (windowsfont and its
 * twins) under ThreadSanitizer or LeakSanitizer sees reports from the font
 * libraries (Pango's font-configuration thread, fontconfig's caches kept
 * until exit), which are not built for them. The package ships suppression
 * files for both in share/paloma/sanitizers/ under the installation prefix:
 * tsan.supp (TSAN_OPTIONS=suppressions=.../tsan.supp) and lsan.supp
 * (LSAN_OPTIONS=suppressions=.../lsan.supp).
 *
 * Memory: nothing returned by the library is released by the caller, except
 * the #paloma_bstr strings of the `vb6` functions (paloma_bstr_free()).
 */
/** @mainpage PALOMA API reference
 *
 * The library's one header is paloma.h; its functions are grouped by family
 * under <b>Topics</b>:
 * - what a failure tells a person and the program: @ref messages, @ref errors;
 * - the current connection and how bytes reach the printer: @ref writing,
 *   @ref opening, @ref serial, @ref network;
 * - building labels: @ref commands, @ref fonttext;
 * - asking the printer: @ref status, @ref information, @ref stringreads;
 * - @ref files, @ref slots, @ref discovery, @ref library, @ref cxx;
 * - many printers at once, each with its own handle: @ref handles.
 *
 * The guide (`docs/guide.md` in the source tree) explains the label model,
 * the fields of each command with pictures, the status codes, the transports
 * and error handling.
 */
#ifndef PALOMA_H
#define PALOMA_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
/** Marks a function the library exports. */
#define PALOMA_API __declspec(dllexport)
/** A UTF-16 code unit (wchar_t on Windows, char16_t elsewhere). */
typedef wchar_t paloma_wchar;
#else
/** Marks a function the library exports. */
#define PALOMA_API __attribute__((visibility("default")))
#ifdef __cplusplus
/** A UTF-16 code unit (wchar_t on Windows, char16_t elsewhere). */
typedef char16_t paloma_wchar;
#else
#include <uchar.h>
/** A UTF-16 code unit (wchar_t on Windows, char16_t elsewhere). */
typedef char16_t paloma_wchar;
#endif
#endif

/* The names of the functions without the paloma_ prefix are common words
 * (setup, restart, sendfile, ...) that the C library or an application may
 * define as well. On Linux the compiler gives each of them the symbol
 * paloma_legacy_NAME, so that a program's call reaches the library's function
 * whatever else defines NAME; the library also answers to the plain names
 * for programs built before (sendfile only as the old version
 * sendfile@PALOMA_1, never as the one a new program links to: that is the C
 * library's). Define PALOMA_NO_LEGACY_API before including this header to
 * declare only the paloma_ functions. */
#if !defined(_WIN32) && !defined(PALOMA_NO_LEGACY_API) && (defined(__GNUC__) || defined(__clang__))
#pragma redefine_extname sendcommand paloma_legacy_sendcommand
#pragma redefine_extname sendcommandnocrlf paloma_legacy_sendcommandnocrlf
#pragma redefine_extname sendcommandW paloma_legacy_sendcommandW
#pragma redefine_extname sendcommandutf8 paloma_legacy_sendcommandutf8
#pragma redefine_extname sendBinaryData paloma_legacy_sendBinaryData
#pragma redefine_extname sendBinaryDataNoCRLF paloma_legacy_sendBinaryDataNoCRLF
#pragma redefine_extname about paloma_legacy_about
#pragma redefine_extname dllversion paloma_legacy_dllversion
#pragma redefine_extname showunicode paloma_legacy_showunicode
#pragma redefine_extname testthread paloma_legacy_testthread
#pragma redefine_extname openport paloma_legacy_openport
#pragma redefine_extname openportW paloma_legacy_openportW
#pragma redefine_extname compareport paloma_legacy_compareport
#pragma redefine_extname returndriver paloma_legacy_returndriver
#pragma redefine_extname closeport paloma_legacy_closeport
#pragma redefine_extname setup paloma_legacy_setup
#pragma redefine_extname clearbuffer paloma_legacy_clearbuffer
#pragma redefine_extname formfeed paloma_legacy_formfeed
#pragma redefine_extname nobackfeed paloma_legacy_nobackfeed
#pragma redefine_extname printlabel paloma_legacy_printlabel
#pragma redefine_extname printlabelW paloma_legacy_printlabelW
#pragma redefine_extname restart paloma_legacy_restart
#pragma redefine_extname printerfont paloma_legacy_printerfont
#pragma redefine_extname printerfontW paloma_legacy_printerfontW
#pragma redefine_extname barcode paloma_legacy_barcode
#pragma redefine_extname barcodeW paloma_legacy_barcodeW
#pragma redefine_extname barcodecomplete paloma_legacy_barcodecomplete
#pragma redefine_extname rss paloma_legacy_rss
#pragma redefine_extname qrcode paloma_legacy_qrcode
#pragma redefine_extname dmatrix paloma_legacy_dmatrix
#pragma redefine_extname aztec paloma_legacy_aztec
#pragma redefine_extname maxicode paloma_legacy_maxicode
#pragma redefine_extname pdf417 paloma_legacy_pdf417
#pragma redefine_extname rfidDetect paloma_legacy_rfidDetect
#pragma redefine_extname rfidRead paloma_legacy_rfidRead
#pragma redefine_extname rfidWrite paloma_legacy_rfidWrite
#pragma redefine_extname WiFi_DHCP paloma_legacy_WiFi_DHCP
#pragma redefine_extname WiFi_Port paloma_legacy_WiFi_Port
#pragma redefine_extname WiFi_SSID paloma_legacy_WiFi_SSID
#pragma redefine_extname WiFi_StaticIP paloma_legacy_WiFi_StaticIP
#pragma redefine_extname WiFi_WEP paloma_legacy_WiFi_WEP
#pragma redefine_extname WiFi_WPA paloma_legacy_WiFi_WPA
#pragma redefine_extname WiFi_Default paloma_legacy_WiFi_Default
#pragma redefine_extname windowsfont paloma_legacy_windowsfont
#pragma redefine_extname windowsfontW paloma_legacy_windowsfontW
#pragma redefine_extname windowsfontM paloma_legacy_windowsfontM
#pragma redefine_extname windowsfontUnicode paloma_legacy_windowsfontUnicode
#pragma redefine_extname windowsfontUnicodeLengh paloma_legacy_windowsfontUnicodeLengh
#pragma redefine_extname comportprintercodepage paloma_legacy_comportprintercodepage
#pragma redefine_extname comportprintercompletestatus paloma_legacy_comportprintercompletestatus
#pragma redefine_extname comportprinterdpi paloma_legacy_comportprinterdpi
#pragma redefine_extname comportprinterfile paloma_legacy_comportprinterfile
#pragma redefine_extname comportprinterfreememory paloma_legacy_comportprinterfreememory
#pragma redefine_extname comportprintermileage paloma_legacy_comportprintermileage
#pragma redefine_extname comportprintername paloma_legacy_comportprintername
#pragma redefine_extname comportprinterpeel paloma_legacy_comportprinterpeel
#pragma redefine_extname comportprinterquantity paloma_legacy_comportprinterquantity
#pragma redefine_extname comportprinterserial paloma_legacy_comportprinterserial
#pragma redefine_extname ethernetprintercodepage paloma_legacy_ethernetprintercodepage
#pragma redefine_extname ethernetprintercompletestatus paloma_legacy_ethernetprintercompletestatus
#pragma redefine_extname ethernetprinterdpi paloma_legacy_ethernetprinterdpi
#pragma redefine_extname ethernetprinterfile paloma_legacy_ethernetprinterfile
#pragma redefine_extname ethernetprinterfreememory paloma_legacy_ethernetprinterfreememory
#pragma redefine_extname ethernetprintermileage paloma_legacy_ethernetprintermileage
#pragma redefine_extname ethernetprintername paloma_legacy_ethernetprintername
#pragma redefine_extname ethernetprinterpeel paloma_legacy_ethernetprinterpeel
#pragma redefine_extname ethernetprinterquantity paloma_legacy_ethernetprinterquantity
#pragma redefine_extname ethernetprinterserial paloma_legacy_ethernetprinterserial
#pragma redefine_extname usbprintercodepage paloma_legacy_usbprintercodepage
#pragma redefine_extname usbprintercompletestatus paloma_legacy_usbprintercompletestatus
#pragma redefine_extname usbprinterfile paloma_legacy_usbprinterfile
#pragma redefine_extname usbprinterfreememory paloma_legacy_usbprinterfreememory
#pragma redefine_extname usbprintermileage paloma_legacy_usbprintermileage
#pragma redefine_extname usbprintername paloma_legacy_usbprintername
#pragma redefine_extname usbprinterpeel paloma_legacy_usbprinterpeel
#pragma redefine_extname usbprinterquantity paloma_legacy_usbprinterquantity
#pragma redefine_extname usbprinterserial paloma_legacy_usbprinterserial
#pragma redefine_extname ethernetprintersetting paloma_legacy_ethernetprintersetting
#pragma redefine_extname usbprintersetting paloma_legacy_usbprintersetting
#pragma redefine_extname comportprinterrestart paloma_legacy_comportprinterrestart
#pragma redefine_extname ethernetprinterrestart paloma_legacy_ethernetprinterrestart
#pragma redefine_extname usbprinterrestart paloma_legacy_usbprinterrestart
#pragma redefine_extname usbprinternamevb6 paloma_legacy_usbprinternamevb6
#pragma redefine_extname usbprinterserialvb6 paloma_legacy_usbprinterserialvb6
#pragma redefine_extname rfidGetReadData paloma_legacy_rfidGetReadData
#pragma redefine_extname rfidGetReadDatavb6 paloma_legacy_rfidGetReadDatavb6
#pragma redefine_extname opencomport paloma_legacy_opencomport
#pragma redefine_extname SetRS232 paloma_legacy_SetRS232
#pragma redefine_extname SetRS232_port paloma_legacy_SetRS232_port
#pragma redefine_extname openethernet paloma_legacy_openethernet
#pragma redefine_extname closeethernetport paloma_legacy_closeethernetport
#pragma redefine_extname Ethernetsend paloma_legacy_Ethernetsend
#pragma redefine_extname printerstatus paloma_legacy_printerstatus
#pragma redefine_extname comportprinterstatus paloma_legacy_comportprinterstatus
#pragma redefine_extname comportqueryprinter paloma_legacy_comportqueryprinter
#pragma redefine_extname comportqueryprinter_port paloma_legacy_comportqueryprinter_port
#pragma redefine_extname ethernetprinterstatus paloma_legacy_ethernetprinterstatus
#pragma redefine_extname usbprinterstatus paloma_legacy_usbprinterstatus
#pragma redefine_extname usbportqueryprinter paloma_legacy_usbportqueryprinter
#pragma redefine_extname comport_getstring paloma_legacy_comport_getstring
#pragma redefine_extname ethernet_getstring paloma_legacy_ethernet_getstring
#pragma redefine_extname usb_getstring paloma_legacy_usb_getstring
#pragma redefine_extname downloadbmp paloma_legacy_downloadbmp
#pragma redefine_extname downloadpcx paloma_legacy_downloadpcx
#pragma redefine_extname downloadmemory paloma_legacy_downloadmemory
#pragma redefine_extname sendfile paloma_legacy_sendfile
#pragma redefine_extname savetotext paloma_legacy_savetotext
#pragma redefine_extname savetotext_array paloma_legacy_savetotext_array
#pragma redefine_extname openportmult paloma_legacy_openportmult
#pragma redefine_extname openusbportmult paloma_legacy_openusbportmult
#pragma redefine_extname openethernetmult paloma_legacy_openethernetmult
#pragma redefine_extname closeportmult paloma_legacy_closeportmult
#pragma redefine_extname closeethernetportmult paloma_legacy_closeethernetportmult
#pragma redefine_extname sendcommandmult paloma_legacy_sendcommandmult
#pragma redefine_extname setupmult paloma_legacy_setupmult
#pragma redefine_extname clearbuffermult paloma_legacy_clearbuffermult
#pragma redefine_extname formfeedmult paloma_legacy_formfeedmult
#pragma redefine_extname nobackfeedmult paloma_legacy_nobackfeedmult
#pragma redefine_extname printlabelmult paloma_legacy_printlabelmult
#pragma redefine_extname barcodemult paloma_legacy_barcodemult
#pragma redefine_extname printerfontmult paloma_legacy_printerfontmult
#pragma redefine_extname sendfilemult paloma_legacy_sendfilemult
#pragma redefine_extname downloadbmpmult paloma_legacy_downloadbmpmult
#pragma redefine_extname downloadpcxmult paloma_legacy_downloadpcxmult
#pragma redefine_extname downloadmemorymult paloma_legacy_downloadmemorymult
#pragma redefine_extname windowsfontmult paloma_legacy_windowsfontmult
#pragma redefine_extname windowsfontMmult paloma_legacy_windowsfontMmult
#pragma redefine_extname windowsfontUnicodemult paloma_legacy_windowsfontUnicodemult
#pragma redefine_extname usbprinterstatusmult paloma_legacy_usbprinterstatusmult
#pragma redefine_extname ethernetprinterstatusmult paloma_legacy_ethernetprinterstatusmult
#pragma redefine_extname usbprintersettingmult paloma_legacy_usbprintersettingmult
#pragma redefine_extname ethernetprintersettingmult paloma_legacy_ethernetprintersettingmult
#pragma redefine_extname broadcast paloma_legacy_broadcast
#endif

/** A string handed to the caller that the caller releases with
 * paloma_bstr_free(): bytes preceded by a hidden 32-bit length, NUL-terminated.
 * @ingroup information */
typedef char* paloma_bstr;

#ifdef __cplusplus
extern "C" {
#endif

/** @defgroup messages Messages
 * @brief Failures reported to a person, and developer detail.
 *
 * Failures that the printer logic reports to a person go through a message
 * handler. The default writes "caption: text" and a newline to standard error.
 * @{
 */
/** The message handler's type.
 * @param text the message.
 * @param caption its caption ("Error Message", "DLL Version", "Debug", ...).
 * @param icon 0 warning, 1 information, 2 exclamation, 3 none, 4 debug detail
 *        (#PALOMA_ICON_DEBUG, only when asked for with paloma_set_log_level()),
 *        5 a console line (#PALOMA_ICON_CONSOLE).
 * @param user the pointer given to paloma_set_message_handler().
 *
 * Both texts are the library's and valid only during the call; copy them to
 * keep them. The handler runs on the thread of the call that reports, inside
 * that call, which waits for it. */
typedef void (*paloma_message_handler)(const char* text, const char* caption, int icon,
                                       void* user);
/** Installs a message handler.
 * @param handler the new handler; null restores the default (standard error).
 * @param user passed to every call of the handler.
 * @return the previous handler. */
PALOMA_API paloma_message_handler paloma_set_message_handler(paloma_message_handler handler,
                                                             void* user);

/** Level: only the messages for a person (the default). */
#define PALOMA_LOG_MESSAGES 0
/** Level: also detail for a developer (which face stood in for a missing font,
 * ...), with icon #PALOMA_ICON_DEBUG and caption "Debug". */
#define PALOMA_LOG_DEBUG 1
/** The icon of a debug-detail message. */
#define PALOMA_ICON_DEBUG 4
/** The icon of a console line: a line the library writes for a person at a
 * terminal ("Connection Closed." from Ethernetsend), caption "Console". With
 * no handler installed it goes to standard output, as it always has; a
 * handler receives it like any message and may send it to standard error or
 * drop it, so that a program whose standard output carries data keeps it
 * clean. */
#define PALOMA_ICON_CONSOLE 5
/** Sets which messages reach the handler.
 * @param level #PALOMA_LOG_MESSAGES or #PALOMA_LOG_DEBUG.
 * @return the previous level. */
PALOMA_API int paloma_set_log_level(int level);
/** @} */

/** @defgroup errors Why a call failed
 * @brief The last error of the calling thread.
 *
 * Every failing call records its reason for the calling thread: a sentence a
 * person can act on and the OS error number behind it (errno on Linux,
 * GetLastError/WSAGetLastError on Windows, with the system's text from
 * FormatMessage; 0 when the cause is not an OS error). For example:
 *
 *     connect to 127.0.0.1:1: Connection refused
 *     no spooler printer named "nope", and "nope" is not a port name (...)
 *     open "labels/missing.prn": No such file or directory
 *     the printer closed the connection
 *     no reply within 1 s
 *     the reply filled 65536 bytes without the end marker ENDLINE
 *
 * Openers, writers, command builders, queries, file functions, slots,
 * discovery and host-font text record it wherever they give their failure
 * result (0, -1, -2, "-1", "", ...). A successful call leaves the record as
 * it was (as errno does), so read it right after the call that failed. The
 * text stays valid until the thread's next failing call or
 * paloma_clear_error(). A host font that is not installed is no failure: the
 * face that stood in for it is told as debug detail (paloma_set_log_level()).
 * Host-font text with characters that no installed font has a glyph for is
 * sent with empty boxes in their place, and the call succeeds; it is the one
 * success that records a reason (how many characters, and which font package
 * to install), so clear the record before the call to see it.
 * @{
 */
/** The reason the calling thread's last failing call gave.
 * @return the text ("" when none is recorded), owned by the library: valid
 *         until this thread's next failing call or paloma_clear_error(). */
PALOMA_API const char* paloma_last_error(void);
/** The OS error number behind the calling thread's last failure.
 * @return errno (Linux) or the Windows error code; 0 when the cause was not an
 *         OS error or nothing is recorded. */
PALOMA_API int paloma_last_error_code(void);
/** Forgets the calling thread's last error (text "" and code 0). */
PALOMA_API void paloma_clear_error(void);
/** @} */

#ifndef PALOMA_NO_LEGACY_API
/** @defgroup writing Writing to the printer
 * @brief Text and bytes on the current connection.
 *
 * Writers pick the transport by the mode flags in a fixed order and return 1
 * only when the transport accepted every byte. A write blocks until the
 * bytes are handed on; it fails when the printer takes no byte for the stall
 * bound (a device 1 to 30 seconds by the size, the network 1000 ms) and
 * waits for a printer that is slow but taking bytes.
 * @{
 */

/** Sends a text and a line end: the text, then CR LF (serial: in one write).
 * @param text the command line.
 * @return 1 written; 0 no connection, a null text, a text of 655,350 bytes
 *         or more, or a failed write. */
PALOMA_API int sendcommand(const char* text);
/** Sends a text without line end.
 * @param text the bytes to send.
 * @return 1 written, 0 not. */
PALOMA_API int sendcommandnocrlf(const char* text);
/** Sends a UTF-16 text narrowed byte per unit, then CR LF, or CR LF NUL over
 * the network.
 * @param text units U+0000..U+00FF only.
 * @return 1 written; 0 for a unit above U+00FF, a text longer than 255 bytes,
 *         or a failed write. */
PALOMA_API int sendcommandW(const paloma_wchar* text);
/** Sends a text in the process's character set (in the C locale: UTF-8 when
 * the text is valid UTF-8, see the top of this header) as UTF-8, then CR LF,
 * or CR LF NUL over the network.
 * @param text the command line.
 * @return 1 written, 0 not. */
PALOMA_API int sendcommandutf8(const char* text);
/** Sends bytes, then CR LF (network: CR LF NUL).
 * @param data the bytes.
 * @param length how many.
 * @return 1 written, 0 not. */
PALOMA_API int sendBinaryData(const unsigned char* data, int length);
/** Sends bytes without line end.
 * @param data the bytes.
 * @param length how many.
 * @return 1 written, 0 not. */
PALOMA_API int sendBinaryDataNoCRLF(const unsigned char* data, int length);
/** @} */

/** @defgroup library Library information
 * @brief Version texts and message tests; no connection is touched.
 * @{
 */
/** Shows the library's version text through the message handler
 * (caption "DLL Version").
 * @return 1. */
PALOMA_API int about(void);
/** The library's version text.
 * @return "1.00", a constant. */
PALOMA_API const char* dllversion(void);
/** Shows a UTF-16 text through the message handler (as UTF-8).
 * @param text the text (null shows an empty text).
 * @param count at most this many units, and at most 1023, up to the text's
 *        NUL.
 * @return 1. */
PALOMA_API int showunicode(const paloma_wchar* text, int count);
/** Shows and returns a constant text that says the library runs on the
 * caller's thread.
 * @return the constant text. */
PALOMA_API const char* testthread(void);
/** @} */

/** @defgroup opening Opening and closing
 * @brief The current connection.
 *
 * openport() takes a spooler (CUPS) printer name first; otherwise "USB",
 * "LPT1".."LPT4" (/dev/lp0..3), "COMn" (/dev/ttyS(n-1)), or a /dev/ device
 * path. Reaching the spooler blocks at most 5 seconds.
 *
 * On Linux, `\\SERVER\QUEUE` or `//SERVER/QUEUE` (SERVER may be HOST:PORT,
 * port 631 by default) is the queue QUEUE on the CUPS print server SERVER,
 * for openport(), compareport(), returndriver() and the slot openers; an
 * unknown queue or a server that does not answer within the spooler's bounds
 * gives 0 (compareport(): 0 as for a port without a printer) and a last error
 * naming the server.
 * @{
 */
/** Opens the current connection by name.
 * @param name a spooler printer, "USB", "LPT1".."LPT4", "COMn" or a /dev/
 *        path.
 * @return 1 opened, 0 not (the last error says why). */
PALOMA_API int openport(const char* name);
/** As openport(), with a UTF-16 name.
 * @param name the name in UTF-16.
 * @return 1 opened, 0 not. */
PALOMA_API int openportW(const paloma_wchar* name);
/** Opens the spooler printer whose port (CUPS device URI) is exactly `port`.
 * @param port the device URI.
 * @return 1 opened, 0 none on that port, -1 found but could not be opened. */
PALOMA_API int compareport(const char* port);
/** The name of the spooler printer on a port.
 * @param port the device URI.
 * @return the UTF-8 name, or "-1"; owned by the library, valid until the next
 *         call of returndriver(). */
PALOMA_API const char* returndriver(const char* port);
/** Closes one transport of the current connection. Blocks 100 ms on a serial
 * port and 1000 ms on the network before closing.
 * @return 1 closed, 0 nothing open. */
PALOMA_API int closeport(void);
/** @} */

/** @defgroup commands Label commands
 * @brief Builders for the label command language.
 *
 * Each builder places its text arguments verbatim into the fields of one
 * command of the label language and sends it with sendcommand() (which adds
 * CR LF). A content (last) argument that begins with `@` (a printer variable)
 * goes into the command bare, any other in double quotes. Results: 1 only
 * when every command line was accepted by the transport; 0 when no
 * connection is open, an argument is null, a wide argument holds a character
 * above U+00FF or more than 255 bytes, an argument holds CR or LF (the
 * printer would end the command there; the last error names the argument),
 * or the command does not fit its capacity (such a command is refused whole,
 * never shortened, and nothing is sent). Capacities count the command
 * without its line end plus one byte.
 * Each blocks as its writes do (see @ref writing).
 *
 * Coordinates and sizes are dots (8 a millimetre at 203 dpi, 12 at 300 dpi)
 * from the label's top-left corner; rotations are 0, 90, 180 or 270 degrees
 * clockwise. The guide shows each command with the label it prints.
 */

/** @defgroup page Page and job
 * @ingroup commands
 * @brief Label size, media, clearing, printing, restart.
 * @{
 */
/** Sets up the label: "SIZE w mm,h mm", "SPEED s", "DENSITY d", then
 * "BLINE g mm,o mm" when the first character of `sensor` is '1', else
 * "GAP g mm,o mm" (99 characters each). All four are checked before any is
 * sent.
 * @param width label width in mm.
 * @param height label height in mm.
 * @param speed print speed.
 * @param density darkness, 0 to 15.
 * @param sensor "0" gap sensor (labels with gaps between them), "1" black
 *        line sensor (a black mark on the back of the liner).
 * @param gap the gap's (or black line's) height in mm.
 * @param offset the gap's (or line's) offset in mm.
 * @return 1 when all four lines were written, else 0. */
PALOMA_API int setup(const char* width, const char* height, const char* speed,
                     const char* density, const char* sensor, const char* gap,
                     const char* offset);
/** Clears the printer's image buffer: "CLS".
 * @return 1 written, 0 not. */
PALOMA_API int clearbuffer(void);
/** Feeds one blank label: "FORMFEED".
 * @return 1 written, 0 not. */
PALOMA_API int formfeed(void);
/** Turns the feed back off: "SET STRIPER OFF", then "SET TEAR OFF".
 * @return 1 when both were written, else 0. */
PALOMA_API int nobackfeed(void);
/** Prints the image buffer: "PRINT sets,copies" (49 characters).
 * @param sets how many label sets.
 * @param copies copies of each set.
 * @return 1 written, 0 not. */
PALOMA_API int printlabel(const char* sets, const char* copies);
/** As printlabel(), with UTF-16 arguments.
 * @param sets how many label sets.
 * @param copies copies of each set.
 * @return 1 written, 0 not. */
PALOMA_API int printlabelW(const paloma_wchar* sets, const paloma_wchar* copies);
/** Restarts the printer: the bytes ESC '!' 'R' CR NUL, then the line end of
 * sendBinaryData(). Tried while a connection or any transport flag is active.
 * @return 1 written, 0 not. */
PALOMA_API int restart(void);
/** @} */

/** @defgroup textbarcodes Printer fonts and barcodes
 * @ingroup commands
 * @brief TEXT, BARCODE and RSS.
 * @{
 */
/** Text in a printer font: "TEXT x,y,"font",rotation,xmul,ymul,"content""
 * (499 characters).
 * @param x left edge of the text before rotation, in dots.
 * @param y top edge of the text before rotation, in dots.
 * @param font "1" to "8" built-in bitmap fonts, "0" or a font file name a
 *        scalable font.
 * @param rotation 0, 90, 180 or 270 degrees clockwise about (x, y).
 * @param xmul horizontal multiplier (bitmap fonts 1 to 10; scalable: points).
 * @param ymul vertical multiplier.
 * @param content the text, or `@` and a variable name.
 * @return 1 written, 0 not. */
PALOMA_API int printerfont(const char* x, const char* y, const char* font, const char* rotation,
                           const char* xmul, const char* ymul, const char* content);
/** As printerfont(), with UTF-16 arguments (units up to U+00FF).
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param font the font.
 * @param rotation degrees clockwise.
 * @param xmul horizontal multiplier.
 * @param ymul vertical multiplier.
 * @param content the text.
 * @return 1 written, 0 not. */
PALOMA_API int printerfontW(const paloma_wchar* x, const paloma_wchar* y,
                            const paloma_wchar* font, const paloma_wchar* rotation,
                            const paloma_wchar* xmul, const paloma_wchar* ymul,
                            const paloma_wchar* content);
/** A linear barcode: "BARCODE x,y,"type",height,readable,rotation,narrow,wide,"content""
 * with the type always quoted (1023 characters).
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type the symbology: "128", "39", "EAN13", "UPCA", "CODA", ...
 * @param height bar height in dots.
 * @param readable the human-readable line: "0" none, "1" left, "2" centred,
 *        "3" right.
 * @param rotation 0, 90, 180 or 270 degrees clockwise.
 * @param narrow narrow bar width in dots (the module of one-width types).
 * @param wide wide bar width in dots (types with two widths).
 * @param content the data, or `@` and a variable name.
 * @return 1 written, 0 not. */
PALOMA_API int barcode(const char* x, const char* y, const char* type, const char* height,
                       const char* readable, const char* rotation, const char* narrow,
                       const char* wide, const char* content);
/** As barcode(), with UTF-16 arguments (units up to U+00FF).
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type the symbology.
 * @param height bar height in dots.
 * @param readable human-readable line: "0" to "3".
 * @param rotation degrees clockwise.
 * @param narrow narrow bar width in dots.
 * @param wide wide bar width in dots.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int barcodeW(const paloma_wchar* x, const paloma_wchar* y, const paloma_wchar* type,
                        const paloma_wchar* height, const paloma_wchar* readable,
                        const paloma_wchar* rotation, const paloma_wchar* narrow,
                        const paloma_wchar* wide, const paloma_wchar* content);
/** As barcode() with one more bare field before the content.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type the symbology.
 * @param height bar height in dots.
 * @param readable human-readable line: "0" to "3".
 * @param rotation degrees clockwise.
 * @param narrow narrow bar width in dots.
 * @param wide wide bar width in dots.
 * @param extra the extra field, written bare.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int barcodecomplete(const char* x, const char* y, const char* type,
                               const char* height, const char* readable, const char* rotation,
                               const char* narrow, const char* wide, const char* extra,
                               const char* content);
/** A GS1 DataBar symbol: "RSS x,y,"type",rotation,module,separator[,extra],content"
 * (99 characters). Without `extra`, an `@` content goes bare only for type
 * names that sort at or before "RSSEXP" in byte order.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type "RSS14", "RSSLIM", "RSSEXP", "UCC128CCA", ...
 * @param rotation degrees clockwise.
 * @param moduleWidth module width in dots.
 * @param separatorHeight separator height in dots.
 * @param extra segment width or linear height; written only when not empty.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int rss(const char* x, const char* y, const char* type, const char* rotation,
                   const char* moduleWidth, const char* separatorHeight, const char* extra,
                   const char* content);
/** @} */

/** @defgroup symbols2d Two-dimensional symbols
 * @ingroup commands
 * @brief QRCODE, DMATRIX, AZTEC, MAXICODE and PDF417.
 *
 * An optional argument is given when not empty; the last argument is the
 * content. qrcode, dmatrix, aztec and maxicode: 99 characters; pdf417: 499.
 * @{
 */
/** A QR code: arguments 1-6, then 7 and 8 both when either is given, then
 * the content.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param ecc error correction level: "L", "M", "Q" or "H".
 * @param cell cell width in dots.
 * @param mode "A" automatic encoding, "M" manual.
 * @param rotation degrees clockwise.
 * @param model optional: "M1" or "M2".
 * @param mask optional: "S0" to "S8".
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int qrcode(const char* x, const char* y, const char* ecc, const char* cell,
                      const char* mode, const char* rotation, const char* model,
                      const char* mask, const char* content);
/** A Data Matrix symbol: arguments 1-4, then 5-7 all when any is given, then
 * the content.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param width width of the area in dots.
 * @param height height of the area in dots.
 * @param moduleSize optional: module size in dots.
 * @param rows optional: symbol rows.
 * @param columns optional: symbol columns.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int dmatrix(const char* x, const char* y, const char* width, const char* height,
                       const char* moduleSize, const char* rows, const char* columns,
                       const char* content);
/** An Aztec symbol: arguments 1-3, then 4-9 up to the last given one, then
 * the content.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param rotation degrees clockwise.
 * @param moduleSize optional: module size in dots.
 * @param errorControl optional: error control.
 * @param flags optional: flags.
 * @param menu optional: menu symbol.
 * @param symbols optional: multi-symbol count.
 * @param reverse optional: "1" white on black.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int aztec(const char* x, const char* y, const char* rotation, const char* moduleSize,
                     const char* errorControl, const char* flags, const char* menu,
                     const char* symbols, const char* reverse, const char* content);
/** A MaxiCode symbol, by the first character of `mode`: '2' and '3' write
 * arguments 1-6 ('3' quotes the postal code), '4' writes 1-3, '5' writes 1-3
 * and needs 4-6 empty; any other mode, or '5' with 4-6 given, sends nothing.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param mode "2" to "5".
 * @param cls class of service (modes 2 and 3).
 * @param country country code (modes 2 and 3).
 * @param postal postal code (modes 2 and 3).
 * @param content the data.
 * @return 1 written; 0 not, and for a mode it refuses. */
PALOMA_API int maxicode(const char* x, const char* y, const char* mode, const char* cls,
                        const char* country, const char* postal, const char* content);
/** A PDF417 symbol. Any of 9-11 given: arguments 1-17 and a bare content;
 * else 8 given: 1-8, 12-17, bare content; else 6 given: 1-7, 12-17, bare
 * content; else 1-5 and the chain 7, 12-17 up to its last given member, the
 * content bare when 17 is given, otherwise by the `@` rule.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param width width of the area in dots.
 * @param height height of the area in dots.
 * @param rotation degrees clockwise.
 * @param o6 option 6 (field 6).
 * @param o7 option 7, e.g. "P1" error level.
 * @param o8 option 8.
 * @param o9 option 9.
 * @param o10 option 10.
 * @param o11 option 11.
 * @param o12 option 12, e.g. "E3" module width.
 * @param o13 option 13, e.g. "H9" module height.
 * @param o14 option 14, e.g. "R10" rows.
 * @param o15 option 15, e.g. "C4" columns.
 * @param o16 option 16, e.g. "T1" truncation.
 * @param o17 option 17, e.g. "L1" show the data under the symbol.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int pdf417(const char* x, const char* y, const char* width, const char* height,
                      const char* rotation, const char* o6, const char* o7, const char* o8,
                      const char* o9, const char* o10, const char* o11, const char* o12,
                      const char* o13, const char* o14, const char* o15, const char* o16,
                      const char* o17, const char* content);
/** @} */

/** @defgroup rfid RFID
 * @ingroup commands
 * @brief Tag detection, reading and writing.
 *
 * Each command carries its own CR LF, so two line ends follow it. The result
 * is sendcommand()'s (0 with no connection). The data of a read comes back
 * with rfidGetReadData().
 * @{
 */
/** Detects a tag: "RFIDDETECT".
 * @return 1 written, 0 not. */
PALOMA_API int rfidDetect(void);
/** Reads a tag: "RFID READ,a1,a2,a3,a4,a5,""" (1023 characters with its
 * CR LF).
 * @param a1 field 1.
 * @param a2 field 2.
 * @param a3 field 3.
 * @param a4 field 4.
 * @param a5 field 5.
 * @return 1 written, 0 not. */
PALOMA_API int rfidRead(const char* a1, const char* a2, const char* a3, const char* a4,
                        const char* a5);
/** Writes a tag: "RFID WRITE,a1,a2,a3,a4,a5,"data"", then blocks 500 ms
 * whenever the command was formatted, written or not.
 * @param a1 field 1.
 * @param a2 field 2.
 * @param a3 field 3.
 * @param a4 field 4.
 * @param a5 field 5.
 * @param data the data to write.
 * @return 1 written, 0 not. */
PALOMA_API int rfidWrite(const char* a1, const char* a2, const char* a3, const char* a4,
                         const char* a5, const char* data);
/** @} */

/** @defgroup wlan Wireless-LAN settings
 * @ingroup commands
 * @brief The printer's WLAN commands (1023 characters).
 *
 * Refused (0) when neither a connection nor any transport flag is active;
 * otherwise 1 only when written.
 * @{
 */
/** Addresses by DHCP: "WLAN DHCP". @return 1 written, 0 not. */
PALOMA_API int WiFi_DHCP(void);                               /* "WLAN DHCP" */
/** The printer's TCP port: "WLAN PORT n". @param port the port. @return 1 written, 0 not. */
PALOMA_API int WiFi_Port(int port);                           /* "WLAN PORT n" */
/** The network name: "WLAN SSID "ssid"". @param ssid the name. @return 1 written, 0 not. */
PALOMA_API int WiFi_SSID(const char* ssid);                   /* "WLAN SSID "ssid"" */
/** A fixed address: "WLAN IP "ip", "mask", "gateway"" (a blank after each
 * comma).
 * @param ip the address.
 * @param mask the network mask.
 * @param gateway the gateway.
 * @return 1 written, 0 not. */
PALOMA_API int WiFi_StaticIP(const char* ip, const char* mask, const char* gateway);
/** A WEP key: "WLAN WEP n,"key"". @param index key number. @param key the key.
 * @return 1 written, 0 not. */
PALOMA_API int WiFi_WEP(int index, const char* key);          /* "WLAN WEP n,"key"" */
/** A WPA key: "WLAN WPA "key"". @param key the key. @return 1 written, 0 not. */
PALOMA_API int WiFi_WPA(const char* key);                     /* "WLAN WPA "key"" */
/** Factory WLAN settings: "WLAN DEFAULT", then the restart bytes as
 * restart() sends them.
 * @return 1 when both were written, else 0. */
PALOMA_API int WiFi_Default(void);
/** @} */

/* PALOMA_SECTION commands */
/** @defgroup fonttext Host-font text
 * @brief Text in a font installed on the host, sent as a bitmap.
 *
 * The text is drawn in a font installed on the host (found by face name; a
 * name that matches no face gets the system's substitute) into a one-bit
 * bitmap and sent as "BITMAP X,Y,W,H,1," without line end, the bitmap's
 * rows (text 0 bits, background 1 bits, leftmost dot in the most
 * significant bit) and CR LF, all three in one write to the transport.
 *
 * The arguments they share:
 * - x, y: the text's reference point (top-left corner of the unrotated text
 *   cell) in dots.
 * - fontheight: pixels, positive = cell height, negative = character height.
 * - rotation: degrees counter-clockwise about the reference point; 0, 90, 180
 *   and 270 send the whole turned text, any other angle sends a square of the
 *   text height placed above and left of the reference point.
 * - fontstyle: bit 0 italic, 2 or more bold.
 * - fontunderline: low 8 bits, non-zero underlines.
 * - szFaceName: at most 31 bytes.
 *
 * Rows above and whole bytes left of the label origin are not sent; a text
 * lying wholly there sends nothing and returns 0, and so does a text whose
 * bitmap exceeds 2400 x 12000 dots. 1 when every byte was accepted. Drawing
 * takes milliseconds; the writes block as in @ref writing.
 * @{
 */

/** Draws 8-bit text in the process's character set (the C locale: UTF-8
 * when the text is valid UTF-8, else ISO-8859-1).
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell height (positive) or character height (negative) in
 *        pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name, at most 31 bytes.
 * @param content the text.
 * @return 1 sent; 0 for an empty content or face name, or when not sent. */
PALOMA_API int windowsfont(int x, int y, int fontheight, int rotation, int fontstyle,
                           int fontunderline, const char* szFaceName, const char* content);
/** Draws UTF-16 content narrowed byte per unit, as those characters.
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content units U+0000..U+00FF, at most 255.
 * @return 1 sent; 0 for other content, or when not sent. */
PALOMA_API int windowsfontW(int x, int y, int fontheight, int rotation, int fontstyle,
                            int fontunderline, const char* szFaceName,
                            const paloma_wchar* content);
/** Draws UTF-16 content as Unicode, with font fallback for characters the
 * face lacks. An empty content or face name is drawn and sent (for rotation
 * 0 a header of width 0, then CR LF).
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content the text.
 * @return 1 sent, 0 not. */
PALOMA_API int windowsfontM(int x, int y, int fontheight, int rotation, int fontstyle,
                            int fontunderline, const char* szFaceName,
                            const paloma_wchar* content);
/** The same as windowsfontM().
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content the text.
 * @return 1 sent, 0 not. */
PALOMA_API int windowsfontUnicode(int x, int y, int fontheight, int rotation, int fontstyle,
                                  int fontunderline, const char* szFaceName,
                                  const paloma_wchar* content);
/** As windowsfontM(), drawing at most `length` code units of the content.
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content the text.
 * @param length 0 to 1023 units.
 * @return 1 sent; 0 for another length, or when not sent. */
PALOMA_API int windowsfontUnicodeLengh(int x, int y, int fontheight, int rotation, int fontstyle,
                                       int fontunderline, const char* szFaceName,
                                       const paloma_wchar* content, int length);
/** @} */
/* PALOMA_SECTION fonttext */
/** @defgroup information Printer information
 * @brief Model, code page, files, memory, mileage, settings, restart.
 *
 * Each query writes one fixed request and returns the printer's reply as it
 * came (less what the reader drops), in a library buffer that the next query
 * overwrites; the caller does not release it.
 * - Serial (comportprinter*): on the connection's port; a 500 ms pause, one
 *   read, the bytes before the STX; no reply gives "".
 * - Network (ethernetprinter*): a 200-byte request block on the connection's
 *   socket; the first block received (a receive waits at most 1000 ms).
 *   Those marked [-1] answer "-1" when a network receive failed (also an
 *   earlier one) and clear that error by reporting it; codepage and peel
 *   never answer "-1".
 * - USB (usbprinter*): finds the printer and opens a handle of its own (no
 *   open connection needed); reads up to the first CR (dpi: a CR-ended line,
 *   serial: one packet, complete status: the STX..ETX frame). Those marked
 *   [-1] answer "-1" when nothing came; codepage and peel answer "".
 *   With no printer attached they answer so at once: no request is written
 *   and no read waits for its time-out.
 *
 * Complete status: the frame without STX and ETX.
 * @{
 */
/** Serial: the code page. @return the reply, library-owned. */
PALOMA_API const char* comportprintercodepage(void);
/** Serial: the complete status frame. @return the reply, library-owned. */
PALOMA_API const char* comportprintercompletestatus(void);
/** Serial: the resolution. @return the reply, library-owned. */
PALOMA_API const char* comportprinterdpi(void);
/** Serial: the file list. @return the reply, library-owned. */
PALOMA_API const char* comportprinterfile(void);
/** Serial: the free memory. @return the reply, library-owned. */
PALOMA_API const char* comportprinterfreememory(void);
/** Serial: the mileage. @return the reply, library-owned. */
PALOMA_API const char* comportprintermileage(void);
/** Serial: the model name. @return the reply, library-owned. */
PALOMA_API const char* comportprintername(void);
/** Serial: the peel sensor. @return the reply, library-owned. */
PALOMA_API const char* comportprinterpeel(void);
/** Serial: the label count. @return the reply, library-owned. */
PALOMA_API const char* comportprinterquantity(void);
/** Serial: the serial number. @return the reply, library-owned. */
PALOMA_API const char* comportprinterserial(void);
/** Network: the code page. @return the reply, library-owned. */
PALOMA_API const char* ethernetprintercodepage(void);
/** Network: the complete status frame. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprintercompletestatus(void); /* [-1] */
/** Network: the resolution. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprinterdpi(void);            /* [-1] */
/** Network: the file list. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprinterfile(void);           /* [-1] */
/** Network: the free memory. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprinterfreememory(void);     /* [-1] */
/** Network: the mileage. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprintermileage(void);        /* [-1] */
/** Network: the model name. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprintername(void);           /* [-1] */
/** Network: the peel sensor. @return the reply, library-owned. */
PALOMA_API const char* ethernetprinterpeel(void);
/** Network: the label count. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprinterquantity(void);       /* [-1] */
/** Network: the serial number. @return the reply or "-1", library-owned. */
PALOMA_API const char* ethernetprinterserial(void);         /* [-1] */
/** USB: the code page. @return the reply or "", library-owned. */
PALOMA_API const char* usbprintercodepage(void);
/** USB: the complete status frame. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprintercompletestatus(void);      /* [-1] */
/** USB: the file list. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprinterfile(void);                /* [-1] */
/** USB: the free memory. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprinterfreememory(void);          /* [-1] */
/** USB: the mileage. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprintermileage(void);             /* [-1] */
/** USB: the model name. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprintername(void);                /* [-1] */
/** USB: the peel sensor. @return the reply or "", library-owned. */
PALOMA_API const char* usbprinterpeel(void);
/** USB: the label count. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprinterquantity(void);            /* [-1] */
/** USB: the serial number. @return the reply or "-1", library-owned. */
PALOMA_API const char* usbprinterserial(void);              /* [-1] */
/** A printer setting over the network: OUT GETSETTING$("a","b","c") CR LF
 * OUT CHR$(02) CR LF, as a 1024-byte block on the connection's socket.
 * @param a application, e.g. "SYSTEM".
 * @param b section, e.g. "INFORMATION".
 * @param c key, e.g. "DPI".
 * @return the first block received, library-owned; "-1" while a network
 *         receive error stands (not cleared here), for a null argument, or
 *         for a request of 1024 bytes or more (nothing sent). */
PALOMA_API const char* ethernetprintersetting(const char* a, const char* b, const char* c);
/** The same setting request on the open USB connection.
 * @param a application.
 * @param b section.
 * @param c key.
 * @return the reply without CR and LF, up to the STX, library-owned; "" when
 *         nothing came, for a null argument or a request of 1024 bytes or more
 *         (nothing written). */
PALOMA_API const char* usbprintersetting(const char* a, const char* b, const char* c);
/** Restarts the printer on the serial port: ESC ! R and LF. No reply is read.
 * @return 1 when every byte was accepted, 0 when not. */
PALOMA_API int comportprinterrestart(void);
/** Restarts the printer on the network: ESC ! R and LF in a 200-byte block.
 * No reply is read.
 * @return 1 when every byte was accepted, 0 when not. */
PALOMA_API int ethernetprinterrestart(void);
/** Restarts the USB printer: ESC ! R and CR. No reply is read.
 * @return 1 when every byte was accepted, 0 when not, -1 no printer, -2 the
 *         device did not open. */
PALOMA_API int usbprinterrestart(void);
/** As usbprintername(), as a string the caller owns.
 * @return on success all 65,536 bytes of the reply buffer (the reply, then
 *         NUL bytes), on failure the 2-byte text "-1"; release it with
 *         paloma_bstr_free(). */
PALOMA_API paloma_bstr usbprinternamevb6(void);
/** As usbprinterserial(), as a string the caller owns.
 * @return as usbprinternamevb6(); release it with paloma_bstr_free(). */
PALOMA_API paloma_bstr usbprinterserialvb6(void);
/** The data of the last RFID read: an empty request and the end-marker
 * request, read with the string read of the first active transport among
 * USB, serial and network (see usb_getstring(); blocks as it does).
 * @return the data, library-owned; "" on any other connection, without
 *         writing; "-1" from a failed network read. */
PALOMA_API const char* rfidGetReadData(void);
/** As rfidGetReadData(), but every active transport among USB, serial and
 * network is read in that order and the last reply is kept.
 * @return the reply's bytes as a string the caller releases with
 *         paloma_bstr_free(). */
PALOMA_API paloma_bstr rfidGetReadDatavb6(void);
#endif /* PALOMA_NO_LEGACY_API */
/** Releases a string returned by a `vb6` function.
 * @param s the string; null is ignored. */
PALOMA_API void paloma_bstr_free(paloma_bstr s);
/** The byte length of a string returned by a `vb6` function.
 * @param s the string.
 * @return its length in bytes, without the NUL; 0 for null. */
PALOMA_API unsigned int paloma_bstr_bytelen(paloma_bstr s);
#ifndef PALOMA_NO_LEGACY_API
/** @} */

/** @defgroup serial Serial port
 * @brief Opening a COM port and its line settings.
 *
 * Line settings are texts matched whole and case-sensitively: baud "2400",
 * "4800", "9600", "19200", "38400", "57600", "115200"; parity "N", "O", "E";
 * data bits "8", "7"; stop bits "1", "2". A text outside these leaves its
 * field as it was (a port running at a rate outside the list, 600 or 460800
 * baud say, keeps that rate) and the other texts still apply. The default
 * settings are 9600 baud, 8 data bits, no parity, one stop bit. Setting them
 * changes nothing else of the line: flow control stays as the port had it.
 * @{
 */
/** Opens a serial port as the connection, by its file name unchanged, and
 * sets the default settings; marks the connection open and serial; the port
 * or file port the connection held before is closed. Only an existing serial
 * terminal opens: any other name (a regular file, a missing path, a device
 * that is no terminal) opens nothing and is neither created nor changed. The
 * serial branches of openport() and openportW() open only terminals as well.
 * @param port the port's file name (e.g. /dev/ttyS0).
 * @return "1" opened, "0" the port did not open (the connection is left as
 *         it was; the last error says why); constant texts. */
PALOMA_API const char* opencomport(const char* port);
/** Applies the four texts (and DSR sensitivity) to the connection's port.
 * @param baud baud rate.
 * @param parity "N", "O" or "E".
 * @param databits "8" or "7".
 * @param stopbits "1" or "2".
 * @return 1 done, 0 when the port's settings cannot be read or written. */
PALOMA_API int SetRS232(const char* baud, const char* parity, const char* databits,
                        const char* stopbits);
/** The same on a port it opens and closes itself (an existing serial
 * terminal only, as opencomport()); the connection is left alone.
 * @param port the port's file name.
 * @param baud baud rate.
 * @param parity "N", "O" or "E".
 * @param databits "8" or "7".
 * @param stopbits "1" or "2".
 * @return 1 done, 0 when the port does not open or its settings cannot be
 *         set. */
PALOMA_API int SetRS232_port(const char* port, const char* baud, const char* parity,
                             const char* databits, const char* stopbits);
/** @} */

/** @defgroup network Network
 * @brief The TCP connection.
 * @{
 */
/** Connects to a printer over TCP. Send and receive time-outs are 1000 ms;
 * blocks for the connect (a printer that does not answer is given up after
 * 5 seconds), then pauses 50 ms. A
 * connection held before is closed on success and kept, usable, on failure.
 * @param address an IPv4 address in dotted text, taken as inet_addr takes
 *        it: "a.b.c.d", or fewer parts with the last one filling the
 *        remaining bytes ("127.1" is 127.0.0.1), each part decimal, octal
 *        (leading 0) or hexadecimal (0x). No host names; an empty text, a part
 *        out of range or 255.255.255.255 gives 0 without opening anything.
 * @param port the TCP port (its low 16 bits).
 * @return 1 connected, 0 not. */
PALOMA_API int openethernet(const char* address, int port);
/** Closes the network connection: waits, closes the socket and clears the
 * network mode (the connection stays marked open).
 * @param delay milliseconds to wait first (blocks that long).
 * @return 1, always. */
PALOMA_API int closeethernetport(int delay);
/** Diagnostic: sends the text as it is and shows each reply (caption "Error
 * Message") until the printer closes ("Hi", and the console line
 * "Connection Closed.": standard output unless a message handler takes it,
 * see #PALOMA_ICON_CONSOLE), a receive fails ("-1", then "end"), or 5 seconds pass
 * ("end"). Blocks up to about 5 seconds.
 * @param text the bytes to send.
 * @return 1, or 0 for a null text. */
PALOMA_API int Ethernetsend(const char* text);
/** @} */

/** @defgroup status Status
 * @brief The printer's one-byte status.
 *
 * The printer answers ESC "!?" with one status byte. Known bytes read as two
 * uppercase hex digits: "00" "01" "02" "03" "04" "05" "08" "09" "0A" "0B" "0C"
 * "0D" "10" "20" "80". Any other byte: "-2" on the serial port, "other error"
 * on the network and USB. The texts are library-owned. The guide lists what
 * each code means and what to do about it.
 * @{
 */
/** The current connection's status.
 * @return "-1" nothing open, "" on a spooler, LPT or USB-device connection,
 *         else the serial or network status. */
PALOMA_API const char* printerstatus(void);
/** The status on the serial port: a 500 ms pause, then what has arrived.
 * @return the code; no answer reads as "-2". */
PALOMA_API const char* comportprinterstatus(void);
/** The serial status byte as a number.
 * @return the byte as a signed value (0x80 -128, 0xFF -1); -1 no answer, 0
 *         a failed read. */
PALOMA_API int comportqueryprinter(void);
/** The same on a port opened with openport() and closed again (50 ms pause
 * after opening).
 * @param port the port name.
 * @return as comportqueryprinter(); 0 for a null port. */
PALOMA_API int comportqueryprinter_port(const char* port);
/** The status over the network (a receive waits about a second).
 * @return the code; "-1" after a receive error, a closed connection or a
 *         silent printer, and for as long as that error stays recorded (until
 *         openethernet(), or an information query that reports it). */
PALOMA_API const char* ethernetprinterstatus(void);
/** The USB status, on a handle of its own. A silent printer blocks about
 * 2.2 s.
 * @return the code; "-1" no printer, or one that does not open; a silent
 *         printer reads "00". */
PALOMA_API const char* usbprinterstatus(void);
/** The USB status byte, synchronous.
 * @return the byte as a signed value; -1 no printer; 0 nothing read. */
PALOMA_API int usbportqueryprinter(void);
/** @} */

/** @defgroup stringreads String reads
 * @brief A command whose text reply ends with ENDLINE.
 *
 * Send the command, a line end and OUT "ENDLINE", pause `pause_ms`, then read
 * until the printer's "ENDLINE" CR LF arrives. The text before the marker
 * (and whatever followed it, up to a NUL) comes back in a new 1024-byte block
 * that stays valid (the library keeps it; the caller does not release it);
 * longer texts are cut at 1023 bytes. Each read gives up after 5 seconds of
 * reading, when the reply fills 65,536 bytes without the marker, or when the
 * connection fails or closes; the result is then "-1". So a call blocks
 * `pause_ms` and at most 5 seconds more.
 * @{
 */
/** A string read on the serial port.
 * @param command the command whose reply is wanted.
 * @param pause_ms milliseconds to pause before reading.
 * @return the text, or "-1". */
PALOMA_API const char* comport_getstring(const char* command, int pause_ms);
/** A string read on the network; also "-1" while a network error is
 * recorded.
 * @param command the command whose reply is wanted.
 * @param pause_ms milliseconds to pause before reading.
 * @return the text, or "-1". */
PALOMA_API const char* ethernet_getstring(const char* command, int pause_ms);
/** A string read on USB.
 * @param command the command whose reply is wanted.
 * @param pause_ms milliseconds to pause before reading.
 * @return the text, or "-1". */
PALOMA_API const char* usb_getstring(const char* command, int pause_ms);
/** @} */
/* PALOMA_SECTION query */
/** @defgroup files Files and images
 * @brief Downloads and raw files.
 *
 * A file streams over the current connection: its first MiB is read before
 * anything is sent (so a file that cannot be read sends nothing), and the
 * rest is moved by the system straight to the socket or device where it can
 * (Linux: sendfile(2)), otherwise read and written 1 MiB at a time; the
 * whole file is never held in memory. A file that turns out shorter than its
 * size while it is sent fails the call without its line end; the bytes
 * already sent stay sent. A download is the header
 * `DOWNLOAD "<name>",<size>,` (the memory download:
 * `DOWNLOAD <memory>,"<name>",<size>,`), exactly `<size>` bytes of the file,
 * and CR LF (network: CR LF NUL). They return 1 only when every
 * piece was accepted; 0 when no connection is open (nothing is opened), the
 * file cannot be read (a message says why: a path that does not open,
 * a directory among them, shows "Could not open file"), the header would
 * exceed 99 characters, no transport is active, or a write failed. Files of
 * 2 GiB or more: 0. Sending blocks as its writes do (see @ref writing).
 *
 * Note that `sendfile` has a plain C name that also exists in the C library;
 * do not include `<sys/sendfile.h>` beside this header unless
 * PALOMA_NO_LEGACY_API is defined (then paloma_send_file() on a handle sends
 * a file). Calls to it reach the SDK's function under its own symbol, and the
 * C library's sendfile(2) stays the C library's for everyone else.
 * @{
 */
/** Downloads a BMP image to the printer under a name (PUTBMP draws it).
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return 1 sent, 0 not. */
PALOMA_API int downloadbmp(const char* path, const char* name);
/** Downloads a PCX image to the printer under a name (PUTPCX draws it).
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return 1 sent, 0 not. */
PALOMA_API int downloadpcx(const char* path, const char* name);
/** Downloads a file into a named memory of the printer.
 * @param memory the memory: "F" flash, "E" expansion memory.
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return 1 sent, 0 not. */
PALOMA_API int downloadmemory(const char* memory, const char* path, const char* name);
/** Sends a file's bytes unchanged, then CR LF (network: CR LF NUL); no
 * header.
 * @param path the file on the host.
 * @return 1 sent, 0 not. */
PALOMA_API int sendfile(const char* path);
/** Replaces "testfile.txt" in the current directory with the text, as
 * UTF-16-LE without byte-order mark.
 * @param text the text.
 * @return 0, always. */
PALOMA_API int savetotext(const paloma_wchar* text);
/** Replaces "testfile.txt" in the current directory with the 8-bit text's
 * bytes.
 * @param text the text.
 * @return 0, always. */
PALOMA_API int savetotext_array(const char* text);
/** @} */
/* PALOMA_SECTION files */
/** @defgroup slots Printer slots
 * @brief Five printers open at once.
 *
 * Five numbered slots (1 to 5) hold printers open beside the single
 * connection. Slot 1's spooler and USB state are the single connection's:
 * openport()/closeport() open and close them too. Every slot's network
 * connection is its own. Opening a slot's spooler or USB transport first
 * closes what the slot's handle held; opening its network connection closes
 * the old socket once the new one is connected. A slot function blocks as its
 * single-connection twin does.
 * @{
 */

/** Opens a CUPS printer in a slot and starts a job.
 * @param n the slot, 1 to 5.
 * @param name the spooler printer.
 * @return 1 opened, 0 not. */
PALOMA_API int openportmult(int n, const char* name);
/** Opens the n-th matching USB printer (enumeration order) in slot n.
 * A slot number outside 1 to 5 shows "Can't using USB_Mult port" ("Error
 * Message"), ends slot 1's spooler job if one is open (what was sent to it
 * prints and its printer is closed), clears isOpen and returns 0.
 * @param n the slot, 1 to 5.
 * @return 1 opened, 0 not. */
PALOMA_API int openusbportmult(int n);
/** Connects a slot to a printer over TCP (as openethernet()).
 * @param n the slot, 1 to 5.
 * @param address an IPv4 address text, as openethernet() takes it.
 * @param port the TCP port (low 16 bits).
 * @return 1 connected, 0 not. */
PALOMA_API int openethernetmult(int n, const char* address, int port);
/** Closes slot n's USB device, else its spooler job; for other slots, or one
 * with neither open, closes the single connection's parallel port or USB
 * device.
 * @param n the slot.
 * @return 1, always. */
PALOMA_API int closeportmult(int n);
/** Waits, then closes a slot's socket.
 * @param n the slot.
 * @param delayMs milliseconds to wait first (blocks that long).
 * @return 1 for slots 1 to 5, else 0. */
PALOMA_API int closeethernetportmult(int n, unsigned int delayMs);

/** Sends a text then CR LF to slot n's USB device, spooler job or socket (a
 * socket gets CR LF NUL on slots 1, 3, 4, 5 and CR LF on slot 2).
 * @param n the slot.
 * @param text the command line.
 * @return 1 written, 0 not. */
PALOMA_API int sendcommandmult(int n, const char* text);
/** setup() to a slot; refused (0) unless the slot holds an open USB device or
 * spooler job.
 * @param n the slot.
 * @param width label width in mm.
 * @param height label height in mm.
 * @param speed print speed.
 * @param density darkness.
 * @param sensor "0" gap, "1" black line.
 * @param gap gap or line height in mm.
 * @param offset its offset in mm.
 * @return 1 written, 0 not. */
PALOMA_API int setupmult(int n, const char* width, const char* height, const char* speed,
                         const char* density, const char* sensor, const char* gap,
                         const char* offset);
/** clearbuffer() to a slot's USB device or spooler job.
 * @param n the slot. @return 1 written, 0 not. */
PALOMA_API int clearbuffermult(int n);
/** formfeed() to a slot's USB device or spooler job.
 * @param n the slot. @return 1 written, 0 not. */
PALOMA_API int formfeedmult(int n);
/** nobackfeed() to a slot's USB device or spooler job.
 * @param n the slot. @return 1 written, 0 not. */
PALOMA_API int nobackfeedmult(int n);
/** printlabel() to a slot's USB device or spooler job.
 * @param n the slot.
 * @param sets how many label sets.
 * @param copies copies of each set.
 * @return 1 written, 0 not. */
PALOMA_API int printlabelmult(int n, const char* sets, const char* copies);
/** barcode() to a slot's USB device or spooler job.
 * @param n the slot.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type the symbology.
 * @param height bar height in dots.
 * @param readable human-readable line: "0" to "3".
 * @param rotation degrees clockwise.
 * @param narrow narrow bar width in dots.
 * @param wide wide bar width in dots.
 * @param content the data.
 * @return 1 written, 0 not. */
PALOMA_API int barcodemult(int n, const char* x, const char* y, const char* type,
                           const char* height, const char* readable, const char* rotation,
                           const char* narrow, const char* wide, const char* content);
/** printerfont() ("TEXT") to slot n on any open transport, the network
 * included.
 * @param n the slot.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param font the font.
 * @param rotation degrees clockwise.
 * @param xmul horizontal multiplier.
 * @param ymul vertical multiplier.
 * @param content the text.
 * @return 1 written, 0 not. */
PALOMA_API int printerfontmult(int n, const char* x, const char* y, const char* font,
                               const char* rotation, const char* xmul, const char* ymul,
                               const char* content);
/** sendfile() to a slot's USB device or spooler job; also needs the single
 * connection open.
 * @param n the slot.
 * @param path the file on the host.
 * @return 1 sent, 0 not. */
PALOMA_API int sendfilemult(int n, const char* path);
/** downloadbmp() to a slot's USB device or spooler job.
 * @param n the slot.
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return 1 sent, 0 not. */
PALOMA_API int downloadbmpmult(int n, const char* path, const char* name);
/** downloadpcx() to a slot's USB device or spooler job.
 * @param n the slot.
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return 1 sent, 0 not. */
PALOMA_API int downloadpcxmult(int n, const char* path, const char* name);
/** downloadmemory() to a slot's USB device or spooler job; also needs the
 * single connection open.
 * @param n the slot.
 * @param memory the printer's memory.
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return 1 sent, 0 not. */
PALOMA_API int downloadmemorymult(int n, const char* memory, const char* path,
                                  const char* name);
/** windowsfont() as a BITMAP command to slot n's USB device or spooler job.
 * @param n the slot.
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content the text.
 * @return 1 sent, 0 not. */
PALOMA_API int windowsfontmult(int n, int x, int y, int fontheight, int rotation, int fontstyle,
                               int fontunderline, const char* szFaceName, const char* content);
/** windowsfontM() to slot n's USB device or spooler job.
 * @param n the slot.
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content the text.
 * @return 1 sent, 0 not. */
PALOMA_API int windowsfontMmult(int n, int x, int y, int fontheight, int rotation,
                                int fontstyle, int fontunderline, const char* szFaceName,
                                const paloma_wchar* content);
/** windowsfontUnicode() to slot n's USB device or spooler job.
 * @param n the slot.
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell or character height in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name.
 * @param content the text.
 * @return 1 sent, 0 not. */
PALOMA_API int windowsfontUnicodemult(int n, int x, int y, int fontheight, int rotation,
                                      int fontstyle, int fontunderline, const char* szFaceName,
                                      const paloma_wchar* content);
/** usbprinterstatus() of the printer in slot n, without any I/O when the
 * slot has no USB printer open.
 * @param n the slot.
 * @return the code; "error" for n outside 1..5; "-1" when the slot has no
 *         USB printer open. Library-owned. */
PALOMA_API const char* usbprinterstatusmult(int n);
/** ethernetprinterstatus() of the printer in slot n, without any I/O when
 * the slot has no network connection.
 * @param n the slot.
 * @return the code; "error" for n outside 1..5; "-1" when the slot has no
 *         network connection. Library-owned. */
PALOMA_API const char* ethernetprinterstatusmult(int n);
/** usbprintersetting() on the printer in slot n.
 * @param n the slot.
 * @param a application.
 * @param b section.
 * @param c key.
 * @return the value; "error" for n outside 1..5; "" when the slot has no
 *         USB printer open. Library-owned. */
PALOMA_API const char* usbprintersettingmult(int n, const char* a, const char* b, const char* c);
/** ethernetprintersetting() on the printer in slot n.
 * @param n the slot.
 * @param a application.
 * @param b section.
 * @param c key.
 * @return the value; "error" for n outside 1..5; "-1" when the slot has no
 *         network connection. Library-owned. */
PALOMA_API const char* ethernetprintersettingmult(int n, const char* a, const char* b,
                                                  const char* c);
/** @} */
/* PALOMA_SECTION slots */
#endif /* PALOMA_NO_LEGACY_API */
/** @defgroup pictures Pictures
 * @brief Any picture (PNG, JPEG, GIF, BMP, PNM, or pixels in memory) scaled
 * to the printer's dots, made one-bit and sent as one "BITMAP" command.
 *
 * The picture is decoded (the first frame of a GIF), its alpha laid over
 * white, scaled by area averaging (each dot the mean of the pixel area it
 * covers), turned clockwise by the rotation, inverted when asked, and made
 * one-bit by a threshold, ordered dithering (8 x 8 Bayer) or error diffusion
 * (Floyd-Steinberg). Gray is handled in linear light: a dithered mid-gray
 * gives back as much light as the mid-gray of the picture, so it prints
 * neither darker nor lighter. The command is
 * "BITMAP x,y,width in bytes,height,mode," then the rows (a 0 bit is a black
 * dot, the leftmost dot in the most significant bit; the bits after a row's
 * last dot are white) and CR LF, in one write, as the host-font text sends
 * its bitmap. The same bits are sent on every platform.
 *
 * Sizes: `width` and `height` are the printed size in dots (after the
 * turn). One of them 0 keeps the picture's aspect; both 0 print one dot a
 * pixel. The printed picture is at most 2400 x 12000 dots. Pictures of at
 * most 65535 pixels a side and 64 megapixels are read: a larger header is
 * refused before any pixel memory is taken. TIFF, WebP and PDF are
 * recognised and refused with a reason (save them as PNG).
 *
 * The functions below write to the single connection or a slot and return
 * 1 when every byte was accepted, 0 otherwise, with the reason in
 * paloma_last_error(): the file could not be read (a directory, a FIFO, a
 * missing file), an unknown format, damaged or cut-short data, a zero size,
 * larger than the label's dots, a refused option. Nothing is sent when the
 * picture is refused. They block while the picture is decoded and written.
 * @{
 */
/** paloma_image_options::dither: dots darker than the threshold are black. */
#define PALOMA_DITHER_THRESHOLD 0
/** paloma_image_options::dither: an 8 x 8 Bayer matrix of thresholds. */
#define PALOMA_DITHER_ORDERED 1
/** paloma_image_options::dither: Floyd-Steinberg error diffusion (the default). */
#define PALOMA_DITHER_DIFFUSION 2
/** Pixel format: one byte of gray a pixel. */
#define PALOMA_PIXELS_GRAY8 1
/** Pixel format: gray, then alpha (0 transparent). */
#define PALOMA_PIXELS_GRAY_ALPHA8 2
/** Pixel format: red, green, blue, a byte each (sRGB). */
#define PALOMA_PIXELS_RGB8 3
/** Pixel format: red, green, blue, alpha (not premultiplied). */
#define PALOMA_PIXELS_RGBA8 4
/** How a picture is made one-bit and drawn; fill it with
 * paloma_image_options_init() and change what differs. */
typedef struct paloma_image_options {
  int dither;    /**< PALOMA_DITHER_...; default PALOMA_DITHER_DIFFUSION */
  int threshold; /**< for PALOMA_DITHER_THRESHOLD: a gray level 0..255 of the picture; darker
                      is black; default 128 (0 prints nothing) */
  int rotation;  /**< 0, 90, 180 or 270 degrees clockwise; default 0 */
  int invert;    /**< non-zero: black for white; default 0 */
  int mode;      /**< the BITMAP mode: 0 overwrite (white dots clear the label), 1 OR (only
                      the black dots are drawn), 2 XOR; default 1 */
} paloma_image_options;
/** Fills `options` with the defaults: diffusion, threshold 128, rotation 0,
 * no inversion, mode 1. Null is ignored.
 * @param options the caller's struct. */
PALOMA_API void paloma_image_options_init(paloma_image_options* options);
/** Prints a picture file on the current connection.
 * @param x left edge on the label, dots (0 or more).
 * @param y top edge on the label, dots (0 or more).
 * @param path the file: PNG, JPEG, GIF, BMP or PNM (a regular file).
 * @param width printed width in dots; 0 follows the height (see above).
 * @param height printed height in dots; 0 follows the width.
 * @param options null for the defaults.
 * @return 1 sent; 0 refused (nothing sent) or a write failed. */
PALOMA_API int paloma_sendimage(int x, int y, const char* path, int width, int height,
                                const paloma_image_options* options);
/** paloma_sendimage() for an encoded picture in memory.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param data the encoded bytes (the caller keeps them).
 * @param size their count.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return 1 sent; 0 refused or a write failed. */
PALOMA_API int paloma_sendimage_memory(int x, int y, const void* data, size_t size, int width,
                                       int height, const paloma_image_options* options);
/** paloma_sendimage() for pixels in memory.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param pixels the first row; rows follow `stride` bytes apart, top first.
 * @param pixel_width pixels a row.
 * @param pixel_height rows.
 * @param stride bytes from one row to the next (at least a row's bytes).
 * @param format PALOMA_PIXELS_GRAY8, _GRAY_ALPHA8, _RGB8 or _RGBA8.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return 1 sent; 0 refused or a write failed. */
PALOMA_API int paloma_sendimage_pixels(int x, int y, const void* pixels, int pixel_width,
                                       int pixel_height, size_t stride, int format, int width,
                                       int height, const paloma_image_options* options);
/** The most bytes a picture's command takes: the header, 300 bytes by 12000
 * rows, and CR LF. */
#define PALOMA_IMAGE_COMMAND_MAX 3600080
/** Makes a picture's command without sending it, for a caller that sends it
 * in its own job (a file, another transport). The bytes are those
 * paloma_sendimage_memory() sends. Touches no connection.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param data the encoded picture.
 * @param size its bytes.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @param buffer the caller's buffer for the command.
 * @param capacity its size; PALOMA_IMAGE_COMMAND_MAX always suffices.
 * @param length set to the command's length (also when the buffer is too
 *        small, then nothing is copied); may be null.
 * @return 1 made; 0 refused or the buffer is too small (the last error says
 *         which). */
PALOMA_API int paloma_image_command(int x, int y, const void* data, size_t size, int width,
                                    int height, const paloma_image_options* options,
                                    unsigned char* buffer, size_t capacity, size_t* length);
/** paloma_sendimage() to printer slot n (USB, spooler or network, in that
 * order).
 * @param n the slot, 1..5.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param path the picture file.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return 1 sent; 0 for a bad slot, refused, or a write failed. */
PALOMA_API int paloma_sendimagemult(int n, int x, int y, const char* path, int width, int height,
                                    const paloma_image_options* options);
/** paloma_sendimage_memory() to printer slot n.
 * @param n the slot, 1..5.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param data the encoded bytes.
 * @param size their count.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return 1 sent; 0 otherwise. */
PALOMA_API int paloma_sendimage_memorymult(int n, int x, int y, const void* data, size_t size,
                                           int width, int height,
                                           const paloma_image_options* options);
/** paloma_sendimage_pixels() to printer slot n.
 * @param n the slot, 1..5.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param pixels the first row.
 * @param pixel_width pixels a row.
 * @param pixel_height rows.
 * @param stride bytes from one row to the next.
 * @param format PALOMA_PIXELS_...
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return 1 sent; 0 otherwise. */
PALOMA_API int paloma_sendimage_pixelsmult(int n, int x, int y, const void* pixels,
                                           int pixel_width, int pixel_height, size_t stride,
                                           int format, int width, int height,
                                           const paloma_image_options* options);
/** @} */
/* PALOMA_SECTION pictures */
/** @defgroup discovery Discovery
 * @brief Finding printers on the local network by UDP broadcast.
 * @{
 */
#ifndef PALOMA_NO_LEGACY_API
/** Sends one 32-byte UDP probe to 255.255.255.255:22368 from local port
 * 22368 and waits up to 3 seconds for any answer longer than 32 bytes.
 * @return "123456" when one came, "-1" when nobody answered in time, "0"
 *         when the socket could not be set up (with a message: "sock ERROR
 *         binding in the server socket2", and "Error in creating socket" when
 *         no socket was made). Constant texts. */
PALOMA_API const char* broadcast(void);
#endif
/** One answer to the discovery probe: the sender's IPv4 address (dotted
 * text) and UDP port, and the answer's first bytes. */
typedef struct paloma_printer_found {
  char address[16];           /**< the sender's IPv4 address, dotted, NUL-terminated */
  unsigned short port;        /**< the sender's UDP port */
  int length;                 /**< bytes in answer, at most 512 */
  unsigned char answer[512];  /**< the answer's first bytes */
} paloma_printer_found;
/** Finds printers: sends the probe as broadcast() does, then collects every
 * answer longer than the probe until wait_ms has passed, one entry per sender
 * (a sender that answers twice is counted once). The wait ends early when
 * `max` senders were found. Shows no message. Blocks at most wait_ms.
 * @param wait_ms how long to collect answers, in milliseconds (a negative
 *        value is 0).
 * @param found the caller's array of at least `max` entries; the caller owns
 *        it.
 * @param max at most this many senders are kept.
 * @return the count; -1 with the last error set when the socket cannot be set
 *         up, the probe cannot be sent, or found is null with max above 0 (or
 *         max is negative). */
PALOMA_API int paloma_discover(int wait_ms, paloma_printer_found* found, int max);
/** @} */
/* PALOMA_SECTION discovery */
/** @defgroup handles Printer handles
 * @brief Many printers at once: one handle per printer, its own state and lock.
 *
 * A handle (#paloma_printer) is one connection to one printer, opened from a
 * URI with paloma_open() and ended with paloma_close(). Each handle keeps its
 * own transport, line end, reply buffer and bounds, and its own lock:
 *  - calls on different handles run in parallel, from any threads;
 *  - calls on one handle are serialised by that handle's lock (two threads
 *    may share a handle; their calls run one after another, each whole);
 *  - the process-wide lock of the functions without the paloma_ prefix (the
 *    single connection and the five slots) never blocks a handle call, and a
 *    slow handle never blocks the legacy functions;
 *  - paloma_close() must not race another call on the same handle: the
 *    handle is gone when it returns.
 *
 * Every function returns a #paloma_result: #PALOMA_OK (0) or a negative code;
 * on failure it also records the reason as the calling thread's last error
 * (paloma_last_error(), paloma_last_error_code()). Memory is the caller's:
 * results are written into buffers the caller passes, and nothing a handle
 * call returns needs releasing (texts of paloma_result_text() and
 * paloma_status_text() are constants).
 *
 * Bounds, per handle (defaults in brackets): the reply bound, how long a
 * query waits for the printer's answer as it arrives [2000 ms]; the stall
 * bound, how long a send may go on without the printer taking a byte, and
 * how long paloma_close() waits for the printer to take what was sent
 * [10000 ms]; the connect bound, how long a TCP connect may take [3000 ms].
 * @{
 */
/** An open printer: opaque; one per printer, each with its own state and lock. */
typedef struct paloma_printer paloma_printer;

/** What a handle call did: #PALOMA_OK, or why it failed. */
typedef enum paloma_result {
  PALOMA_OK = 0,                    /**< done */
  PALOMA_ERROR_NOT_CONNECTED = -1,  /**< the handle is NULL */
  PALOMA_ERROR_NO_REPLY = -2,       /**< the printer did not answer within the reply bound */
  PALOMA_ERROR_ARGUMENT = -3,       /**< a refused argument (NULL, empty, CR/LF, too long, bad URI) */
  PALOMA_ERROR_OS = -4,             /**< the system refused (open, read, write); see the last error */
  PALOMA_ERROR_CLOSED = -5,         /**< the printer closed the connection */
  PALOMA_ERROR_BUSY = -6,           /**< the device is held by another */
  PALOMA_ERROR_TIMEOUT = -7,        /**< the connect or stall bound passed while connecting or sending */
  PALOMA_ERROR_BUFFER_TOO_SMALL = -8, /**< the answer did not fit the caller's buffer */
  PALOMA_ERROR_UNSUPPORTED = -9     /**< the transport cannot do it (a query on a print queue or file) */
} paloma_result;

/** Opens a printer by URI.
 *
 * The forms:
 *  - `tcp://HOST[:PORT]`: a networked printer; HOST a name or IPv4 address,
 *    PORT 9100 when not given. Connects within the connect bound.
 *  - `serial:/dev/TTY[?baud=N&parity=P&bits=B&stop=S]`: a serial port; N one
 *    of 2400..115200 (the port's own speed when not given), P none, odd or
 *    even, B 7 or 8, S 1 or 2.
 *  - `usb:`: the maker's USB printer (the last one found, as openport("USB"));
 *    `usb:BUS-PORTS` (as `1-1.4`, or the library's own `b001p1.4`) the one at
 *    that place on the buses; `usb:SERIAL` the one whose USB device reports
 *    that serial number. Each of the maker's printers is asked for its
 *    number (at most about a second each; one that cannot be asked counts
 *    as having none). An exact match is taken, else one that differs only in
 *    the letters' case; no match, or more than one, is #PALOMA_ERROR_OS, and
 *    the last error names the serial number and lists those seen (or says
 *    that no USB printer of the maker is attached), or the bus places of the
 *    printers that share it. In SERIAL, a `%` and two hex digits stand for a
 *    byte (a blank is `%20`, `%` is `%25`); a text that starts with digits
 *    and a `-`, or as `b001p`, is a bus place, so a serial number that
 *    starts so is written with its first character escaped (`usb:%31-2` for
 *    the number `1-2`). Plain `usb:` and a bus place ask no device for its
 *    number.
 *  - `queue:NAME`: a printer (raw queue) of the local print spooler;
 *    `queue://SERVER[:PORT]/NAME`: one on a print server. One spooler document
 *    is started at open and ended at close.
 *  - `file:PATH`: a printer file or a capture file (created or emptied).
 *  - `/dev/...`: a device path: terminals (`/dev/ttyS0`, `/dev/ttyUSB0`, `/dev/pts/N`) are
 *    serial ports at their own settings, anything else a printer file.
 *
 * Status and information queries work over TCP, serial and USB; on a queue or
 * file they give #PALOMA_ERROR_UNSUPPORTED.
 * @param uri the printer.
 * @param out receives the new handle; NULL on failure.
 * @return #PALOMA_OK; #PALOMA_ERROR_ARGUMENT (bad URI, null pointer);
 *         #PALOMA_ERROR_OS, #PALOMA_ERROR_BUSY, #PALOMA_ERROR_TIMEOUT (the
 *         connect bound passed) when the printer cannot be opened. */
PALOMA_API paloma_result paloma_open(const char* uri, paloma_printer** out);
/** Ends the connection and releases the handle.
 *
 * Over TCP, the sending side is shut down and the call waits, at most the
 * stall bound, until the printer has taken every byte sent; there is no fixed
 * pause. A print queue's document is ended (and printed). Serial ports and
 * files are closed at once.
 * @param p the handle, or NULL (nothing to do).
 * @return #PALOMA_OK; #PALOMA_ERROR_TIMEOUT when the printer had not taken
 *         everything within the stall bound (the handle is released all the
 *         same). */
PALOMA_API paloma_result paloma_close(paloma_printer* p);
/** Sets how long a query waits for the printer's answer.
 * @param p the handle.
 * @param ms 1 to 600000 milliseconds.
 * @return #PALOMA_OK, #PALOMA_ERROR_ARGUMENT, #PALOMA_ERROR_NOT_CONNECTED. */
PALOMA_API paloma_result paloma_set_reply_timeout(paloma_printer* p, int ms);
/** Sets the TCP connect bound.
 * @param p a handle: the bound of its next connect (paloma_reconnect());
 *        NULL: the default for handles opened from now on, in this process.
 * @param ms 1 to 600000 milliseconds.
 * @return #PALOMA_OK or #PALOMA_ERROR_ARGUMENT. */
PALOMA_API paloma_result paloma_set_connect_timeout(paloma_printer* p, int ms);
/** Sets how long a send may go on without the printer taking a byte (and
 * how long paloma_close() waits for it to take the rest).
 * @param p the handle.
 * @param ms 1 to 600000 milliseconds.
 * @return #PALOMA_OK, #PALOMA_ERROR_ARGUMENT, #PALOMA_ERROR_NOT_CONNECTED. */
PALOMA_API paloma_result paloma_set_stall_timeout(paloma_printer* p, int ms);
/** Connects again to the handle's URI (after the printer closed the
 * connection, say), with the handle's bounds; the old connection is closed
 * first as paloma_close() does.
 * @param p the handle.
 * @return as paloma_open(); on failure the handle stays, unconnected, and
 *         every call but paloma_reconnect() and paloma_close() gives
 *         #PALOMA_ERROR_NOT_CONNECTED. */
PALOMA_API paloma_result paloma_reconnect(paloma_printer* p);
/** Sends bytes as they are.
 * @param p the handle.
 * @param data the bytes (may be NULL when size is 0).
 * @param size how many.
 * @return #PALOMA_OK when the printer took every byte; #PALOMA_ERROR_TIMEOUT
 *         when it took none for the stall bound; #PALOMA_ERROR_CLOSED,
 *         #PALOMA_ERROR_OS otherwise. Part of the bytes may have gone out on
 *         failure. */
PALOMA_API paloma_result paloma_write(paloma_printer* p, const void* data, size_t size);
/** Sends a command line: the text, then CR LF.
 * @param p the handle.
 * @param command the text; CR or LF in it is refused (it would end the
 *        command early).
 * @return as paloma_write(); #PALOMA_ERROR_ARGUMENT for NULL or CR/LF. */
PALOMA_API paloma_result paloma_send_command(paloma_printer* p, const char* command);
/** Asks the printer for its status byte (ESC "!?") and waits for it as it
 * arrives, at most the reply bound; no fixed pause.
 * @param p the handle.
 * @param byte receives the byte: 0 ready, else a sum of conditions
 *        (paloma_status_conditions()).
 * @return #PALOMA_OK; #PALOMA_ERROR_NO_REPLY; #PALOMA_ERROR_CLOSED;
 *         #PALOMA_ERROR_UNSUPPORTED on a queue or file; #PALOMA_ERROR_OS. */
PALOMA_API paloma_result paloma_status(paloma_printer* p, uint8_t* byte);
/** The conditions of a status byte, bit by bit, in bit order: 0x01 "head
 * open", 0x02 "paper jam", 0x04 "paper empty", 0x08 "ribbon empty", 0x10
 * "paused", 0x20 "printing", 0x40 "unknown condition", 0x80 "other error".
 * @param byte the status byte.
 * @param names receives up to `max` constant texts (may be NULL when max is 0).
 * @param max the room in names.
 * @return how many conditions the byte has (0 for ready), which may be more
 *         than max. */
PALOMA_API size_t paloma_status_conditions(uint8_t byte, const char** names, size_t max);
/** One row of the status table, for tools that list it.
 * @param index 0 to 7.
 * @param bit receives the row's bit (may be NULL).
 * @return the condition's name; NULL for an index past the table. */
PALOMA_API const char* paloma_status_condition(size_t index, uint8_t* bit);
/** The conditions of a status byte as one constant text.
 * @param byte the status byte.
 * @return "ready" for 0, else the names joined with ", ", as "paper jam,
 *         paper empty" for 0x06. */
PALOMA_API const char* paloma_status_text(uint8_t byte);
/** Asks the printer for one piece of information and waits for the answer as
 * it arrives, at most the reply bound. The answer is written without its
 * framing (STX, ETX, line ends, blanks at either end).
 *
 * Keys: "name" (model), "serial" (serial number), "codepage", "dpi",
 * "files" (the file list), "free_memory", "mileage", "peel" (the peel
 * sensor), "quantity" (the label counter), "complete_status" (the framed
 * status characters), and "setting:APP/SECTION/KEY" for a setting (as
 * "setting:SYSTEM/INFORMATION/DPI"; no CR, LF or quote in the parts).
 * @param p the handle.
 * @param key the key.
 * @param buf receives the answer, NUL-terminated.
 * @param size the room in buf, NUL included.
 * @return #PALOMA_OK; #PALOMA_ERROR_BUFFER_TOO_SMALL (buf holds the answer's
 *         start, NUL-terminated, when size > 0); #PALOMA_ERROR_ARGUMENT (an
 *         unknown key); otherwise as paloma_status(). */
PALOMA_API paloma_result paloma_info(paloma_printer* p, const char* key, char* buf, size_t size);
/** A result code in words.
 * @param r the code.
 * @return a constant text ("no reply", ...); "unknown result" for a code
 *         that is none of #paloma_result. */
PALOMA_API const char* paloma_result_text(paloma_result r);
/** @} */
/* PALOMA_SECTION handles */
/** @defgroup handlebuilders Label commands on a handle
 * @brief The label commands, and host-font text, on a printer handle.
 *
 * Each is the function of the same name without the prefix, on a handle:
 * the same command lines from the same formatter (the same bytes on the
 * wire), each line followed by CR LF, all lines of one call in one write.
 * A refused argument (a CR or LF in a field, a command too long for its
 * capacity, ...) gives #PALOMA_ERROR_ARGUMENT and sends nothing; otherwise
 * the result is as paloma_write()'s. No fixed pause follows any of them.
 * @{
 */
/** As setup(), on a printer handle.
 * @param p the printer handle.
 * @param width label width in mm.
 * @param height label height in mm.
 * @param speed print speed.
 * @param density darkness, 0 to 15.
 * @param sensor "0" gap sensor (labels with gaps between them), "1" black line sensor (a black
 *   mark on the back of the liner).
 * @param gap the gap's (or black line's) height in mm.
 * @param offset the gap's (or line's) offset in mm.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_setup(paloma_printer* p, const char* width, const char* height,
                                      const char* speed, const char* density, const char* sensor,
                                      const char* gap, const char* offset);
/** As clearbuffer(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_clearbuffer(paloma_printer* p);
/** As formfeed(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_formfeed(paloma_printer* p);
/** As nobackfeed(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_nobackfeed(paloma_printer* p);
/** As printlabel(), on a printer handle.
 * @param p the printer handle.
 * @param sets how many label sets.
 * @param copies copies of each set.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_printlabel(paloma_printer* p, const char* sets, const char* copies);
/** As restart(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_restart(paloma_printer* p);
/** As printerfont(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge of the text before rotation, in dots.
 * @param y top edge of the text before rotation, in dots.
 * @param font "1" to "8" built-in bitmap fonts, "0" or a font file name a scalable font.
 * @param rotation 0, 90, 180 or 270 degrees clockwise about (x, y).
 * @param xmul horizontal multiplier (bitmap fonts 1 to 10; scalable: points).
 * @param ymul vertical multiplier.
 * @param content the text, or `@` and a variable name.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_printerfont(paloma_printer* p, const char* x, const char* y,
                                            const char* font, const char* rotation,
                                            const char* xmul, const char* ymul,
                                            const char* content);
/** As barcode(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type the symbology: "128", "39", "EAN13", "UPCA", "CODA", ...
 * @param height bar height in dots.
 * @param readable the human-readable line: "0" none, "1" left, "2" centred, "3" right.
 * @param rotation 0, 90, 180 or 270 degrees clockwise.
 * @param narrow narrow bar width in dots (the module of one-width types).
 * @param wide wide bar width in dots (types with two widths).
 * @param content the data, or `@` and a variable name.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_barcode(paloma_printer* p, const char* x, const char* y,
                                        const char* type, const char* height, const char* readable,
                                        const char* rotation, const char* narrow, const char* wide,
                                        const char* content);
/** As barcodecomplete(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type the symbology.
 * @param height bar height in dots.
 * @param readable human-readable line: "0" to "3".
 * @param rotation degrees clockwise.
 * @param narrow narrow bar width in dots.
 * @param wide wide bar width in dots.
 * @param extra the extra field, written bare.
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_barcodecomplete(paloma_printer* p, const char* x, const char* y,
                                                const char* type, const char* height,
                                                const char* readable, const char* rotation,
                                                const char* narrow, const char* wide,
                                                const char* extra, const char* content);
/** As rss(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param type "RSS14", "RSSLIM", "RSSEXP", "UCC128CCA", ...
 * @param rotation degrees clockwise.
 * @param moduleWidth module width in dots.
 * @param separatorHeight separator height in dots.
 * @param extra segment width or linear height; written only when not empty.
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_rss(paloma_printer* p, const char* x, const char* y,
                                    const char* type, const char* rotation,
                                    const char* moduleWidth, const char* separatorHeight,
                                    const char* extra, const char* content);
/** As qrcode(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param ecc error correction level: "L", "M", "Q" or "H".
 * @param cell cell width in dots.
 * @param mode "A" automatic encoding, "M" manual.
 * @param rotation degrees clockwise.
 * @param model optional: "M1" or "M2".
 * @param mask optional: "S0" to "S8".
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_qrcode(paloma_printer* p, const char* x, const char* y,
                                       const char* ecc, const char* cell, const char* mode,
                                       const char* rotation, const char* model, const char* mask,
                                       const char* content);
/** As dmatrix(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param width width of the area in dots.
 * @param height height of the area in dots.
 * @param moduleSize optional: module size in dots.
 * @param rows optional: symbol rows.
 * @param columns optional: symbol columns.
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_dmatrix(paloma_printer* p, const char* x, const char* y,
                                        const char* width, const char* height,
                                        const char* moduleSize, const char* rows,
                                        const char* columns, const char* content);
/** As aztec(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param rotation degrees clockwise.
 * @param moduleSize optional: module size in dots.
 * @param errorControl optional: error control.
 * @param flags optional: flags.
 * @param menu optional: menu symbol.
 * @param symbols optional: multi-symbol count.
 * @param reverse optional: "1" white on black.
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_aztec(paloma_printer* p, const char* x, const char* y,
                                      const char* rotation, const char* moduleSize,
                                      const char* errorControl, const char* flags,
                                      const char* menu, const char* symbols, const char* reverse,
                                      const char* content);
/** As maxicode(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param mode "2" to "5".
 * @param cls class of service (modes 2 and 3).
 * @param country country code (modes 2 and 3).
 * @param postal postal code (modes 2 and 3).
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_maxicode(paloma_printer* p, const char* x, const char* y,
                                         const char* mode, const char* cls, const char* country,
                                         const char* postal, const char* content);
/** As pdf417(), on a printer handle.
 * @param p the printer handle.
 * @param x left edge in dots.
 * @param y top edge in dots.
 * @param width width of the area in dots.
 * @param height height of the area in dots.
 * @param rotation degrees clockwise.
 * @param o6 option 6 (field 6).
 * @param o7 option 7, e.g. "P1" error level.
 * @param o8 option 8.
 * @param o9 option 9.
 * @param o10 option 10.
 * @param o11 option 11.
 * @param o12 option 12, e.g. "E3" module width.
 * @param o13 option 13, e.g. "H9" module height.
 * @param o14 option 14, e.g. "R10" rows.
 * @param o15 option 15, e.g. "C4" columns.
 * @param o16 option 16, e.g. "T1" truncation.
 * @param o17 option 17, e.g. "L1" show the data under the symbol.
 * @param content the data.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_pdf417(paloma_printer* p, const char* x, const char* y,
                                       const char* width, const char* height, const char* rotation,
                                       const char* o6, const char* o7, const char* o8,
                                       const char* o9, const char* o10, const char* o11,
                                       const char* o12, const char* o13, const char* o14,
                                       const char* o15, const char* o16, const char* o17,
                                       const char* content);
/** As rfidDetect(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_rfiddetect(paloma_printer* p);
/** As rfidRead(), on a printer handle.
 * @param p the printer handle.
 * @param a1 field 1.
 * @param a2 field 2.
 * @param a3 field 3.
 * @param a4 field 4.
 * @param a5 field 5.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_rfidread(paloma_printer* p, const char* a1, const char* a2,
                                         const char* a3, const char* a4, const char* a5);
/** As rfidWrite(), on a printer handle.
 * @param p the printer handle.
 * @param a1 field 1.
 * @param a2 field 2.
 * @param a3 field 3.
 * @param a4 field 4.
 * @param a5 field 5.
 * @param data the data to write.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_rfidwrite(paloma_printer* p, const char* a1, const char* a2,
                                          const char* a3, const char* a4, const char* a5,
                                          const char* data);
/** As WiFi_DHCP(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_dhcp(paloma_printer* p);
/** As WiFi_Port(), on a printer handle.
 * @param p the printer handle.
 * @param port the port.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_port(paloma_printer* p, int port);
/** As WiFi_SSID(), on a printer handle.
 * @param p the printer handle.
 * @param ssid the name.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_ssid(paloma_printer* p, const char* ssid);
/** As WiFi_StaticIP(), on a printer handle.
 * @param p the printer handle.
 * @param ip the address.
 * @param mask the network mask.
 * @param gateway the gateway.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_staticip(paloma_printer* p, const char* ip, const char* mask,
                                              const char* gateway);
/** As WiFi_WEP(), on a printer handle.
 * @param p the printer handle.
 * @param index key number.
 * @param key the key.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_wep(paloma_printer* p, int index, const char* key);
/** As WiFi_WPA(), on a printer handle.
 * @param p the printer handle.
 * @param key the key.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_wpa(paloma_printer* p, const char* key);
/** As WiFi_Default(), on a printer handle.
 * @param p the printer handle.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_wifi_default(paloma_printer* p);
/** As windowsfont(), on a printer handle.
 * @param p the printer handle.
 * @param x reference point, dots from the left.
 * @param y reference point, dots from the top.
 * @param fontheight cell height (positive) or character height (negative) in pixels.
 * @param rotation degrees counter-clockwise.
 * @param fontstyle bit 0 italic, 2 or more bold.
 * @param fontunderline non-zero low 8 bits underline.
 * @param szFaceName the face name, at most 31 bytes.
 * @param content the text.
 * @return #PALOMA_OK when the printer took every byte; see the group. */
PALOMA_API paloma_result paloma_windowsfont(paloma_printer* p, int x, int y, int fontheight,
                                            int rotation, int fontstyle, int fontunderline,
                                            const char* szFaceName, const char* content);
/** Sends a file's bytes unchanged, then CR LF, on a printer handle (as
 * sendfile(); the file streams, never whole in memory).
 * @param p the printer handle.
 * @param path the file on the host.
 * @return #PALOMA_OK; #PALOMA_ERROR_OS when the file cannot be read (the
 *         last error says why); otherwise as paloma_write(). */
PALOMA_API paloma_result paloma_send_file(paloma_printer* p, const char* path);
/** Stores a file on the printer under a name: "DOWNLOAD [memory,]"name",size,",
 * the file's bytes, then CR LF (as downloadbmp(), downloadpcx() and
 * downloadmemory()).
 * @param p the printer handle.
 * @param memory the memory ("F" flash, "E" expansion memory), or NULL for the
 *        printer's default.
 * @param path the file on the host.
 * @param name the name on the printer.
 * @return as paloma_send_file(); #PALOMA_ERROR_ARGUMENT for a missing name or
 *         a header over 99 characters. */
PALOMA_API paloma_result paloma_download(paloma_printer* p, const char* memory, const char* path,
                                         const char* name);
/** @} */
/* PALOMA_SECTION handlebuilders */
/** @defgroup pictures_handles Pictures on a printer handle
 * @brief The picture functions of @ref pictures on a #paloma_printer.
 *
 * The picture is converted first, with no lock held, then written with
 * paloma_write() in one piece (the handle's lock, its stall bound). A
 * refused picture sends nothing.
 * @{
 */
/** Prints a picture file (PNG, JPEG, GIF, BMP, PNM) on the handle.
 * @param p the handle.
 * @param x left edge on the label, dots.
 * @param y top edge on the label, dots.
 * @param path the file (a regular file).
 * @param width printed width in dots; 0 follows the height.
 * @param height printed height in dots; 0 follows the width.
 * @param options null for the defaults (paloma_image_options_init()).
 * @return #PALOMA_OK; #PALOMA_ERROR_ARGUMENT for a picture or option refused
 *         (unknown format, damaged, zero size, larger than the label's dots);
 *         #PALOMA_ERROR_OS when the file cannot be read (a directory, a FIFO,
 *         missing) or memory ran out; #PALOMA_ERROR_NOT_CONNECTED for NULL;
 *         otherwise as paloma_write(). */
PALOMA_API paloma_result paloma_image_file(paloma_printer* p, int x, int y, const char* path,
                                           int width, int height,
                                           const paloma_image_options* options);
/** paloma_image_file() for an encoded picture in memory.
 * @param p the handle.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param data the encoded bytes.
 * @param size their count.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return as paloma_image_file(). */
PALOMA_API paloma_result paloma_image_memory(paloma_printer* p, int x, int y, const void* data,
                                             size_t size, int width, int height,
                                             const paloma_image_options* options);
/** paloma_image_file() for pixels in memory.
 * @param p the handle.
 * @param x left edge, dots.
 * @param y top edge, dots.
 * @param pixels the first row; rows follow `stride` bytes apart, top first.
 * @param pixel_width pixels a row.
 * @param pixel_height rows.
 * @param stride bytes from one row to the next.
 * @param format PALOMA_PIXELS_GRAY8, _GRAY_ALPHA8, _RGB8 or _RGBA8.
 * @param width printed width in dots, or 0.
 * @param height printed height in dots, or 0.
 * @param options null for the defaults.
 * @return as paloma_image_file(). */
PALOMA_API paloma_result paloma_image_pixels(paloma_printer* p, int x, int y, const void* pixels,
                                             int pixel_width, int pixel_height, size_t stride,
                                             int format, int width, int height,
                                             const paloma_image_options* options);
/** @} */
/* PALOMA_SECTION pictures-handles */

#ifdef __cplusplus
} /* extern "C" */
#endif

#if defined(__cplusplus) && !defined(PALOMA_NO_LEGACY_API)

/** @defgroup cxx C++ linkage
 * @brief Functions exported with C++ (type-decorated) symbols.
 *
 * These have no plain C names; call them from C++.
 * @{
 */
/* ---- C++ linkage ----------------------------------------------------------*/
/** One-shot USB write: text, space, CR LF, CR LF.
 * @param text at most 4092 bytes.
 * @return 0 written, -1 no printer, -2 the device did not open or refused the
 *         bytes; a longer text gives -2 without writing. */
PALOMA_API int usbportwrite(const char* text);
/** A constant UTF-16 text of one character.
 * @return the constant text, library-owned. */
PALOMA_API const paloma_wchar* muta1();

/** Raw serial write of a text, no line end, on the connection's port.
 * @param text the bytes.
 * @return 1 when all bytes were written, 0 otherwise. */
PALOMA_API int ComportSendData(const char* text);
/** USB resolution query.
 * @return the reply line up to its CR, or "-1" when nothing came;
 *         library-owned. */
PALOMA_API const char* usbprinterdpi();
/** Restores the default serial settings on the connection's port.
 * @return 1 done, 0 when the settings cannot be read or written. */
PALOMA_API int comportdefault();
/** Reads a USB reply packet into the library's buffer.
 * @param device the device handle (the pointer carries the handle value).
 * @param unused ignored.
 * @return true: call again. */
PALOMA_API bool UsbReadDataToBuffer(void* device, bool unused);
/** Reads a USB reply packet.
 * @param device the device handle.
 * @param unused ignored.
 * @return true: call again. */
PALOMA_API bool UsbReadData(void* device, bool unused);
/** Reads a USB string reply.
 * @param device the device handle.
 * @return true when a string reply (up to "ENDLINE" CR LF) was taken. */
PALOMA_API bool UsbRead_judge(void* device);
/** Reads a USB status reply.
 * @param device the device handle.
 * @param unused ignored.
 * @return true: call again. */
PALOMA_API bool UsbReadStatus(void* device, bool unused);
/* PALOMA_SECTION cxx-query */
/** One packet of a slot's setting reply.
 * @param device the device handle.
 * @param ignored ignored.
 * @return true: call again. */
PALOMA_API bool UsbReadData_mult(void* device, bool ignored);
/** @} */
/* PALOMA_SECTION cxx-slots */
#endif

#endif /* PALOMA_H */
