// The Linux backend's serial lines: termios terminals.
#include "platform/posix/posix_internal.h"

#include <sys/ioctl.h>

#include <mutex>

namespace paloma {

using namespace posix_internal;

namespace {

struct BaudEntry {
  std::uint32_t rate;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
    {230400, B230400},
};

}  // namespace

namespace posix_internal {

void makeRaw(termios* t) {
  t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                       IXON | IXOFF | IXANY);
  t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag |= CREAD | CLOCAL;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

}  // namespace posix_internal

// ---- serial ------------------------------------------------------------------

bool PosixOs::serialGetState(Handle h, SerialSettings* out) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r || !out) return false;
  termios t{};
  if (tcgetattr(r->fd, &t) != 0) return false;
  SerialSettings s;
  speed_t sp = cfgetospeed(&t);
  s.baudRate = 0;
  for (const BaudEntry& b : kBauds)
    if (b.speed == sp) s.baudRate = b.rate;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
  }
  s.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
  s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  s.parityCheck = (t.c_iflag & INPCK) != 0;
  std::lock_guard<std::mutex> g(r->lock);
  s.dsrSensitivity = r->dsrSensitivity;
  *out = s;
  return true;
}

bool PosixOs::serialSetState(Handle h, const SerialSettings& s) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  termios t{};
  if (tcgetattr(r->fd, &t) != 0) return false;
  const BaudEntry* baud = nullptr;
  for (const BaudEntry& b : kBauds)
    if (b.rate == s.baudRate) baud = &b;
  if (!baud || s.byteSize < 5 || s.byteSize > 8 || s.parity > 2 ||
      (s.stopBits != 0 && s.stopBits != 2))
    return false;
  makeRaw(&t);
  cfsetispeed(&t, baud->speed);
  cfsetospeed(&t, baud->speed);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[s.byteSize - 5];
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
  if (s.parity == 1) t.c_cflag |= PARENB | PARODD;
  if (s.parity == 2) t.c_cflag |= PARENB;
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  if (s.parityCheck) t.c_iflag |= INPCK;
  else t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  if (tcsetattr(r->fd, TCSANOW, &t) != 0) return false;
  // DSR sensitivity (ignore bytes while DSR is low) has no termios
  // equivalent: it is recorded and reported back, the line is left alone.
  std::lock_guard<std::mutex> g(r->lock);
  r->dsrSensitivity = s.dsrSensitivity;
  return true;
}

bool PosixOs::serialSetTimeouts(Handle h, const SerialTimeouts& t) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  r->timeouts = t;
  r->timeoutsSet = true;
  return true;
}

// Events are not waited for here; the mask is recorded only.
bool PosixOs::serialSetMask(Handle h, unsigned mask) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  std::lock_guard<std::mutex> g(r->lock);
  r->eventMask = mask;
  return true;
}

bool PosixOs::serialPurge(Handle h, unsigned flags) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  bool tx = flags & (kPurgeTxAbort | kPurgeTxClear);
  bool rx = flags & (kPurgeRxAbort | kPurgeRxClear);
  if (!tx && !rx) return true;
  return tcflush(r->fd, tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : TCIFLUSH) == 0;
}

bool PosixOs::serialEscape(Handle h, SerialLine line) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) return false;
  int bits = line == SerialLine::SetDtr ? TIOCM_DTR : TIOCM_RTS;
  return ioctl(r->fd, TIOCMBIS, &bits) == 0;
}

}  // namespace paloma
