"""The faults scripts/mutants.py puts into the tree, one at a time.

Each entry: Fault(id, path, find, replace, tests, equivalent). `find` must
occur exactly once in `path`; keep it to the logic itself (a comparison, a
constant, a table entry) so that edits around it do not make it stale.
`tests` is the ctest -R pattern of the subsystem's own suites. `equivalent`
is None, or the reason the fault cannot change behaviour (left out of the
score).
"""
from collections import namedtuple

Fault = namedtuple("Fault", "id path find replace tests equivalent")
Fault.__new__.__defaults__ = (None,)

# The suites of each subsystem (ctest names are Suite.Case).
CONNECTION = (r"^(WritePath|LibraryInfo|OpenPort|ClosePort|ComparePort|ReturnDriver|UsbPortWrite"
              r"|UsbSearch|ServerPort|NetworkTest|SerialTest|ConnectionEndToEnd|NetworkConnect)\.")
COMMANDS = r"^(TextBarcode|BuilderFuzz|RfidWlan|Symbols|PageJob)\."
FONTTEXT = r"^(FontText|FontTextReal)\."
QUERY = (r"^(StatusTest|ReadersTest|RevQueryTest|InfoRequestTest|InfoReplyTest|InfoVb6Test"
         r"|InfoNetworkErrorTest|NetworkTest|SerialTest|LoopbackReplies|PtyReplies|InfoLoopback)\.")
FILES = r"^(Files|FileLimits|DownloadHeader|LargeFiles|FilesLoopback)\."
SLOTS = r"^(Slots|SlotQueries|SlotsLoopback)\."
DISCOVERY = r"^(Broadcast|BroadcastNetns|Discover|DiscoverNetns)\."
POSIX = r"^(Posix|NetworkConnect)"
USB = r"^(Usb|Posix)"  # the emulated printers of tests/integration/usb, and the USB helpers
VPRINTER = r"^(StreamParser|Printer|Labels|Options|Discovery|JsonLog|WebPreview|VPrinter)"

C = "src/connection/"
CMD = "src/commands/"
Q = "src/query/"
F = "src/files/"
S = "src/slots/"
P = "src/platform/posix/"
V = "tools/vprinter/src/"

FAULTS = [
    # ---- connection ----------------------------------------------------------------------
    Fault("conn-buffer-capacity", C + "write_path.cc",
          "text.size() + reserve >= ConnectionState::kCommandBufferSize",
          "text.size() + reserve > ConnectionState::kCommandBufferSize", CONNECTION),
    Fault("conn-end-skipped-after-failed-body", C + "write_path.cc",
          "return writeAll(t, end.data(), end.size(), /*more=*/false, serialEvent) && ok;",
          "return ok && writeAll(t, end.data(), end.size(), /*more=*/false, serialEvent);",
          CONNECTION),
    Fault("conn-command-transport-order", C + "write_path.cc",
          "if (c.networkMode == 1) return make(TransportKind::Network);\n"
          "    if (c.serialMode == 1) return make(TransportKind::Serial);\n  } else {",
          "if (c.serialMode == 1) return make(TransportKind::Serial);\n"
          "    if (c.networkMode == 1) return make(TransportKind::Network);\n  } else {",
          CONNECTION),
    Fault("conn-short-write-not-continued", C + "write_path.cc",
          "while (done < n) {\n    std::size_t got = 0;",
          "if (done < n) {\n    std::size_t got = 0;", CONNECTION),
    Fault("conn-device-kinds-swapped", C + "write_path.cc",
          "c.lptMode == 1 ? TransportKind::LptFile : TransportKind::UsbDevice",
          "c.lptMode == 1 ? TransportKind::UsbDevice : TransportKind::LptFile", CONNECTION,
          "both device kinds take the same writeFile branch, and nothing else asks which of "
          "the two a picked target is"),
    Fault("conn-socket-leaked-on-failed-connect", C + "network.cc",
          "    os().closeSocket(s);\n", "", CONNECTION),
    Fault("conn-all-ones-address-taken", "src/platform/ipv4_text.cc",
          "if (addr.s_addr == INADDR_NONE) return false;", "", CONNECTION),
    Fault("conn-odd-parity-text", C + "serial.cc",
          'if (parity == "O") s.parity = 1;', 'if (parity == "O") s.parity = 2;', CONNECTION),
    Fault("conn-two-stop-bits-text", C + "serial.cc",
          'if (stopBits == "2") s.stopBits = 2;', 'if (stopBits == "2") s.stopBits = 1;',
          CONNECTION),
    Fault("conn-vendor-filter-offset", C + "usb_search.cc",
          "std::memcmp(path + 8, usbVendorFilter(), 8)",
          "std::memcmp(path + 9, usbVendorFilter(), 8)", CONNECTION),
    Fault("conn-usbportwrite-bound-x10", C + "usb_search.cc",
          "std::strlen(text) + 4 > kBufferSize", "std::strlen(text) + 4 > kBufferSize * 10",
          CONNECTION),
    Fault("conn-serial-close-pause-x10", C + "open_close.cc",
          "os().sleepMs(100);\n    os().closeHandle(c.handle);",
          "os().sleepMs(1000);\n    os().closeHandle(c.handle);",
          CONNECTION),
    Fault("conn-lpt4-not-a-port", C + "open_close.cc",
          'n == "LPT4"', 'n == "LPT5"', CONNECTION),

    # ---- commands ------------------------------------------------------------------------
    Fault("cmd-argument-capacity", CMD + "builder_pattern.cc",
          "total += lengths[i];\n    if (total >= capacity)",
          "total += lengths[i];\n    if (total > capacity)", COMMANDS),
    Fault("cmd-bare-content-marker", CMD + "builder_pattern.cc",
          "content[0] == '@'", "content[0] == '#'", COMMANDS),
    Fault("cmd-failure-reported-as-success", CMD + "builder_pattern.cc",
          "!= 1) allAccepted = false;", "!= 1) allAccepted = true;", COMMANDS),
    Fault("cmd-argument-table-doubled", CMD + "builder_pattern.cc",
          "std::size_t lengths[32];", "std::size_t lengths[64];", COMMANDS,
          "no builder passes more than 18 arguments, so the larger table is never reached"),
    Fault("cmd-sensor-choice", CMD + "page_job.cc",
          "sensor[0] == '1' ? \"BLINE\" : \"GAP\"", "sensor[0] == '0' ? \"BLINE\" : \"GAP\"",
          COMMANDS),
    Fault("cmd-restart-byte", CMD + "builders.h",
          "{0x1B, 0x21, 0x52, 0x0D, 0x00}", "{0x1B, 0x21, 0x51, 0x0D, 0x00}", COMMANDS),
    Fault("cmd-symbol-capacity-x10", CMD + "builders.h",
          "kSymbolCapacity = 100;", "kSymbolCapacity = 1000;", COMMANDS),
    Fault("cmd-rss-bare-comparison", CMD + "text_barcode.cc",
          'std::strcmp(type, "RSSEXP") <= 0', 'std::strcmp(type, "RSSEXP") < 0', COMMANDS),
    Fault("cmd-rfid-read-terminator", CMD + "rfid_wlan.cc",
          r'"RFID READ,%s,%s,%s,%s,%s,\"\"\r\n"', r'"RFID READ,%s,%s,%s,%s,%s,\"\"\n"',
          COMMANDS),
    Fault("cmd-pdf417-full-form", CMD + "symbols.cc",
          "if (given(9) || given(10) || given(11))", "if (given(9) || given(10))", COMMANDS),

    # ---- host-font text ------------------------------------------------------------------
    Fault("font-row-bytes-off-by-one", "src/fonttext/fonttext.cc",
          "g.widthBytes = (g.w + 7) / 8;", "g.widthBytes = (g.w + 8) / 8;", FONTTEXT),
    Fault("font-rotation-90-origin", "src/fonttext/fonttext.cc",
          "g.y0 = cx; g.X = X; g.Y = Y - cx;", "g.y0 = cx; g.X = X; g.Y = Y - cy;", FONTTEXT),
    Fault("font-bold-threshold", "src/fonttext/fonttext.cc",
          "args.style < 2 ? 400 : 700", "args.style < 1 ? 400 : 700", FONTTEXT),
    Fault("font-left-clip-rounding", "src/fonttext/fonttext.cc",
          "-((g.X - 7) / 8)", "-(g.X / 8)", FONTTEXT),
    Fault("font-top-clip-bound", "src/fonttext/fonttext.cc",
          "g.skipRows >= g.h", "g.skipRows > g.h", FONTTEXT),

    # ---- queries -------------------------------------------------------------------------
    Fault("query-status-table-entry", Q + "status.cc",
          '{0x0C, "0C"}', '{0x0C, "0E"}', QUERY),
    Fault("query-serial-unanswered-byte", Q + "status.cc",
          "serialStatusByte(0xFF)", "serialStatusByte(0x00)", QUERY),
    Fault("query-request-block-short", Q + "status.cc",
          "block, sizeof block);", "block, request.size());", QUERY),
    Fault("query-setting-keeps-lf", Q + "readers.cc",
          "if (b == kCr || b == kLf) continue;", "if (b == kCr) continue;", QUERY),
    Fault("query-timeout-retried", Q + "readers.cc",
          "(r.error == kNetWouldBlock || r.error == kNetOk)",
          "(r.error == kNetWouldBlock || r.error == kNetTimedOut)", QUERY),
    Fault("query-frame-end-ignored", Q + "readers.cc",
          "if (b == kEtx) {\n      rs().FrameMode = 0;", "if (b == kEtx) {", QUERY),
    Fault("query-append-clamp", Q + "readers.cc",
          "if (i > kBufferSize) i = kBufferSize;", "if (i >= kBufferSize) i = kBufferSize;",
          QUERY, "when i equals the buffer size the clamp assigns the value it already has"),
    Fault("query-sticky-error-cleared", Q + "reply_state.cc",
          "std::memset(r.ReplyBuffer, 0, sizeof r.ReplyBuffer);\n  r.ReplyPosition = 0;\n}",
          "std::memset(r.ReplyBuffer, 0, sizeof r.ReplyBuffer);\n  r.ReplyPosition = 0;\n"
          "  r.NetworkError = 0;\n}", QUERY),
    Fault("query-reply-bound-x10", "src/platform/deadline.h",
          "kReplyBoundMs = 5000;", "kReplyBoundMs = 50000;", QUERY),
    Fault("query-info-failure-entry", Q + "info_table.h",
          r'"\x1b!S\r\n"sv, A::Frame, B::Reply, F::MinusOneOnError',
          r'"\x1b!S\r\n"sv, A::Frame, B::Reply, F::None', QUERY),

    # ---- files ---------------------------------------------------------------------------
    Fault("files-size-limit", F + "file_loader.cc",
          "static_cast<std::uint64_t>(found) > kMaxFileSize",
          "static_cast<std::uint64_t>(found) >= kMaxFileSize", FILES),
    Fault("files-size-in-header", F + "file_loader.cc",
          "header.append(std::to_string(size))", "header.append(std::to_string(size + 1))",
          FILES),
    Fault("files-spooler-gets-kernel-copy", F + "files.h",
          "if (t.kind == TransportKind::Spooler) return std::nullopt;", "", FILES),
    Fault("files-handle-never-closed", F + "file_loader.cc",
          "if (file_ != kInvalidHandle) os().closeHandle(file_);", "", FILES),
    Fault("files-network-terminator", F + "downloads.cc",
          "t.kind == TransportKind::Network ? kCrlfNul : kCrlf",
          "t.kind == TransportKind::Network ? kCrlf : kCrlf", FILES),
    Fault("files-serial-row-swapped", F + "downloads.cc",
          "row == SerialRow::Overlapped)", "row == SerialRow::PlainWrite)", FILES),
    Fault("files-utf16-byte-order", F + "text_save.cc",
          "bytes[2 * i] = static_cast<char>(u & 0xFF);",
          "bytes[2 * i] = static_cast<char>(u >> 8);", FILES),

    # ---- slots ---------------------------------------------------------------------------
    Fault("slots-last-slot-refused", S + "slot_table.cc",
          "n >= 1 && n <= kSlotCount", "n >= 1 && n < kSlotCount", SLOTS),
    Fault("slots-two-byte-end-slot", S + "slot_table.cc",
          "&& n != 2) term = kCrlfNul;", "&& n != 3) term = kCrlfNul;", SLOTS),
    Fault("slots-usb-path-of-slot-one", S + "slot_open.cc",
          "record.slotPaths[n - 1]", "record.slotPaths[0]", SLOTS),
    Fault("slots-network-flag-kept", S + "slot_open.cc",
          "  s.socket = kInvalidSocket;\n  s.networkMode = 0;",
          "  s.socket = kInvalidSocket;", SLOTS),
    Fault("slots-file-end-cut", S + "slot_commands.cc",
          "writeAll(t, kCrlf.data(), kCrlf.size())",
          "writeAll(t, kCrlf.data(), kCrlf.size() - 1)", SLOTS),

    # ---- discovery -----------------------------------------------------------------------
    Fault("disc-answer-length", "src/discovery/broadcast.cc",
          "r.result > static_cast<long>(kDiscoveryProbeSize)",
          "r.result >= static_cast<long>(kDiscoveryProbeSize)", DISCOVERY),
    Fault("disc-socket-leaked-on-bind-failure", "src/discovery/broadcast.cc",
          "    sys.closeSocket(s);\n    return kInvalidSocket;",
          "    return kInvalidSocket;", DISCOVERY),
    Fault("disc-repeated-answer-counted", "src/discovery/discover.cc",
          "if (findSender(found, count, address, from.port) >= 0) continue;", "", DISCOVERY),
    Fault("disc-probe-echo-taken", "src/discovery/discover.cc",
          "if (r.result <= static_cast<long>(kDiscoveryProbeSize)) continue;",
          "if (r.result < static_cast<long>(kDiscoveryProbeSize)) continue;", DISCOVERY),
    Fault("disc-port", "src/discovery/broadcast.h",
          "kDiscoveryPort = 22368;", "kDiscoveryPort = 22369;", DISCOVERY),

    # ---- POSIX backend -------------------------------------------------------------------
    Fault("posix-connect-bound-x10", P + "posix_internal.h",
          "kConnectTimeoutMs = 5000;", "kConnectTimeoutMs = 50000;", POSIX),
    Fault("posix-parity-read-back", P + "posix_serial.cc",
          "(t.c_cflag & PARENB) ? (odd ? 1 : 2) : 0", "(t.c_cflag & PARENB) ? (odd ? 2 : 1) : 0",
          POSIX),
    Fault("posix-stop-bits-read-back", P + "posix_serial.cc",
          "(t.c_cflag & CSTOPB) ? 2 : 0", "(t.c_cflag & CSTOPB) ? 1 : 0", POSIX),
    Fault("posix-timeout-as-would-block", P + "posix_net.cc",
          "    case ETIMEDOUT:\n      return kNetTimedOut;",
          "    case ETIMEDOUT:\n      return kNetWouldBlock;", POSIX),
    Fault("posix-send-may-raise-sigpipe", P + "posix_net.cc",
          "int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);",
          "int flags = more ? MSG_MORE : 0;", POSIX),
    Fault("posix-lpt-device-number", P + "posix_files.cc",
          '"/dev/lp" + std::to_string(i - 1)', '"/dev/lp" + std::to_string(i)', POSIX),
    Fault("posix-com-device-number", P + "posix_files.cc",
          '"/dev/ttyS" + std::to_string(n - 1)', '"/dev/ttyS" + std::to_string(n)', POSIX),
    Fault("posix-hangup-taken-as-silence", P + "posix_files.cc",
          "if (got == 0 && hungUp(fd)) return failed(EIO);", "", POSIX),
    Fault("posix-utf8-two-byte-range", P + "posix_text.cc",
          "} else if (c < 0x800) {", "} else if (c < 0x400) {", POSIX),
    Fault("posix-bitmap-bit-order", P + "posix_text.cc",
          "r |= ((v >> b) & 1) << (7 - b);", "r |= ((v >> b) & 1) << b;",
          r"^(Posix|FontTextReal)"),

    Fault("posix-usb-any-interface-class", P + "posix_usb.cc",
          "if (d.bInterfaceClass != LIBUSB_CLASS_PRINTER) continue;", "", USB),
    Fault("posix-usb-in-packet-size", P + "posix_usb.cc",
          "inSize = ep.wMaxPacketSize > 0 ? ep.wMaxPacketSize : 64;", "inSize = 64;", USB),
    Fault("posix-usb-read-not-whole-packets", P + "posix_usb.cc",
          "length - length % packet", "length", USB),

    # ---- virtual printer -----------------------------------------------------------------
    Fault("vp-status-hex-digits", V + "printer.cc",
          "digits[b >> 4], digits[b & 15]", "digits[b & 15], digits[b >> 4]", VPRINTER),
    Fault("vp-memory-e-volatile", V + "printer.cc",
          'memory == "F" || memory == "E";', 'memory == "F";', VPRINTER),
    Fault("vp-restart-keeps-volatile", V + "printer.cc",
          "if (!flashFiles_[it->first]) {", "if (flashFiles_[it->first]) {", VPRINTER),
    Fault("vp-free-memory-ignores-files", V + "printer.cc",
          "options_.maxFileStore - storedBytes_;", "options_.maxFileStore;", VPRINTER),
    Fault("vp-bitmap-bit-order", V + "canvas.cc",
          "(src[d >> 3] >> (7 - (d & 7)))", "(src[d >> 3] >> (d & 7))", VPRINTER),
    Fault("vp-bitmap-field-count", V + "stream_parser.cc",
          "if (bitmap && commasOutside_ != 5) return false;",
          "if (bitmap && commasOutside_ != 4) return false;", VPRINTER),
    Fault("vp-first-line-end", V + "stream_parser.cc",
          "cr < lf ? cr : lf", "cr > lf ? cr : lf", VPRINTER),
    Fault("vp-connection-limit", V + "server.cc",
          "static_cast<int>(active) >= opt.maxConnections",
          "static_cast<int>(active) > opt.maxConnections", VPRINTER),
]
