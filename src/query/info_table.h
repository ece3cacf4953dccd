// The information query family: every query of every transport, its request
// bytes, the reply mode it arms, the buffer it returns and its failure rule.
//
// The serial and network requests of the "~!" queries and the peel query
// separate their two lines with LF and a blank and end with LF; the USB ones
// use LF CR in both places. The dpi, label-count and setting requests use
// CR LF everywhere. The complete status is asked for bare on the network;
// the serial number asks for the STX over serial only (network and USB stop
// at the carriage return after the number).
#pragma once

#include <string_view>

#include "query/info_queries.h"

namespace paloma {

namespace info_table_detail {
using namespace std::string_view_literals;
using T = InfoTransport;
using Q = InfoQuery;
using A = ArmMode;
using B = InfoBuffer;
using F = InfoFailure;
using R = UsbReads;

inline constexpr auto kDpiRequest =
    "OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT \"\x02\"\r\n"sv;
inline constexpr auto kQuantityRequest = "OUT @LABEL\r\nOUT \"\x02\"\r\n"sv;

inline constexpr InfoFamilyRow kInfoFamily[] = {
    // ---- serial: the connection's port, ReadSerialReply, ReplyBuffer, no failure text
    {"comportprintercodepage", T::Serial, Q::CodePage, "~!I\n OUT \"\x02\"\n"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprintercompletestatus", T::Serial, Q::CompleteStatus, "\x1b!S\n\rOUT \"\x02\"\n\r"sv, A::Frame, B::Reply, F::None, R::UntilDone},
    {"comportprinterdpi", T::Serial, Q::Dpi, kDpiRequest, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprinterfile", T::Serial, Q::File, "~!F\n OUT \"\x02\"\n"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprinterfreememory", T::Serial, Q::FreeMemory, "~!A\n OUT \"\x02\"\n"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprintermileage", T::Serial, Q::Mileage, "~!@\n OUT \"\x02\"\n"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprintername", T::Serial, Q::Name, "~!T\n OUT \"\x02\"\n"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprinterpeel", T::Serial, Q::Peel, "OUT GETSENSOR(\"PEEL\")\n OUT \"\x02\"\n"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprinterquantity", T::Serial, Q::Quantity, kQuantityRequest, A::None, B::Reply, F::None, R::UntilDone},
    {"comportprinterserial", T::Serial, Q::SerialNumber, "OUT _SERIAL$\r\nOUT \"\x02\"\r\n"sv, A::None, B::Reply, F::None, R::UntilDone},

    // ---- network: a 200-byte block on the socket, ReadNetworkReply
    {"ethernetprintercodepage", T::Network, Q::CodePage, "~!I\n OUT \"\x02\"\n"sv, A::None, B::NetworkReceive, F::None, R::UntilDone},
    {"ethernetprintercompletestatus", T::Network, Q::CompleteStatus, "\x1b!S\r\n"sv, A::Frame, B::Reply, F::MinusOneOnError, R::UntilDone},
    {"ethernetprinterdpi", T::Network, Q::Dpi, kDpiRequest, A::None, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},
    {"ethernetprinterfile", T::Network, Q::File, "~!F\n OUT \"\x02\"\n"sv, A::None, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},
    {"ethernetprinterfreememory", T::Network, Q::FreeMemory, "~!A\n OUT \"\x02\"\n"sv, A::None, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},
    {"ethernetprintermileage", T::Network, Q::Mileage, "~!@\n OUT \"\x02\"\n"sv, A::None, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},
    {"ethernetprintername", T::Network, Q::Name, "~!T\n OUT \"\x02\"\n"sv, A::None, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},
    {"ethernetprinterpeel", T::Network, Q::Peel, "OUT GETSENSOR(\"PEEL\")\n OUT \"\x02\"\n"sv, A::None, B::NetworkReceive, F::None, R::UntilDone},
    {"ethernetprinterquantity", T::Network, Q::Quantity, kQuantityRequest, A::None, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},
    {"ethernetprinterserial", T::Network, Q::SerialNumber, "OUT _SERIAL$\r\n"sv, A::LineAfter, B::NetworkReceive, F::MinusOneOnError, R::UntilDone},

    // ---- USB: a query handle of its own, the USB request write, UsbReadDataToBuffer
    {"usbprintercodepage", T::Usb, Q::CodePage, "~!I\n\rOUT \"\x02\"\n\r"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"usbprintercompletestatus", T::Usb, Q::CompleteStatus, "\x1b!S\n\rOUT \"\x02\"\n\r"sv, A::Frame, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprinterdpi", T::Usb, Q::Dpi, kDpiRequest, A::LineAfter, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprinterfile", T::Usb, Q::File, "~!F\n\rOUT \"\x02\"\n\r"sv, A::None, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprinterfreememory", T::Usb, Q::FreeMemory, "~!A\n\rOUT \"\x02\"\n\r"sv, A::None, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprintermileage", T::Usb, Q::Mileage, "~!@\n\rOUT \"\x02\"\n\r"sv, A::None, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprintername", T::Usb, Q::Name, "~!T\n\rOUT \"\x02\"\n\r"sv, A::None, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprinterpeel", T::Usb, Q::Peel, "OUT GETSENSOR(\"PEEL\")\n\rOUT \"\x02\"\n\r"sv, A::None, B::Reply, F::None, R::UntilDone},
    {"usbprinterquantity", T::Usb, Q::Quantity, kQuantityRequest, A::None, B::Reply, F::MinusOneWhenEmpty, R::UntilDone},
    {"usbprinterserial", T::Usb, Q::SerialNumber, "OUT _SERIAL$\r\n"sv, A::LineBefore, B::Reply, F::MinusOneWhenEmpty, R::OnceAfterPause},
};
}  // namespace info_table_detail

using info_table_detail::kInfoFamily;

}  // namespace paloma
