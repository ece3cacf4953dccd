// The Linux backend's serial lines: termios terminals.
#include "platform/posix/posix_internal.h"

#include <errno.h>
#include <sys/ioctl.h>

#include <mutex>

namespace paloma {

using namespace posix_internal;

namespace {

struct BaudEntry {
  std::uint32_t rate;
  speed_t speed;
};
// Every standard termios speed, so that a line at any of them reads back as
// its rate and is written back unchanged.
constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

const BaudEntry* baudForRate(std::uint32_t rate) {
  for (const BaudEntry& b : kBauds)
    if (b.rate == rate) return &b;
  return nullptr;
}

}  // namespace

namespace posix {

SerialSettings serialSettingsFromTermios(const termios& t) {
  SerialSettings s;
  const speed_t sp = cfgetospeed(&t);
  s.baudRate = 0;
  for (const BaudEntry& b : kBauds)
    if (b.speed == sp) s.baudRate = b.rate;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
  }
  const bool odd = (t.c_cflag & PARODD) != 0;
  s.parity = (t.c_cflag & PARENB) ? (odd ? 1 : 2) : 0;
  // Stick parity: the parity bit is always 1 (PARODD) or always 0.
  if ((t.c_cflag & PARENB) && (t.c_cflag & CMSPAR)) s.parity = odd ? 3 : 4;
  s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  s.parityCheck = (t.c_iflag & INPCK) != 0;
  s.dsrSensitivity = false;
  return s;
}

bool applySerialSettings(const SerialSettings& s, termios* t) {
  if (s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || (s.stopBits != 0 && s.stopBits != 2))
    return false;
  termios next = *t;
  if (const BaudEntry* baud = baudForRate(s.baudRate)) {
    if (cfsetispeed(&next, baud->speed) != 0 || cfsetospeed(&next, baud->speed) != 0)
      return false;
  } else if (s.baudRate != serialSettingsFromTermios(*t).baudRate) {
    return false;  // a rate no speed bits name, and not the line's own
  }
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  next.c_cflag = (next.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[s.byteSize - 5];
  next.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSTOPB);
  switch (s.parity) {
    case 1: next.c_cflag |= PARENB | PARODD; break;
    case 2: next.c_cflag |= PARENB; break;
    case 3: next.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: next.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.stopBits == 2) next.c_cflag |= CSTOPB;
  if (s.parityCheck) next.c_iflag |= INPCK;
  else next.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  *t = next;
  return true;
}

}  // namespace posix

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
  if (!r || !out) {
    errno = r ? EFAULT : ENOTTY;  // no serial port behind the handle
    return false;
  }
  termios t{};
  if (tcgetattr(r->fd, &t) != 0) return false;
  SerialSettings s = posix::serialSettingsFromTermios(t);
  std::lock_guard<std::mutex> g(r->lock);
  s.dsrSensitivity = r->dsrSensitivity;
  *out = s;
  return true;
}

bool PosixOs::serialSetState(Handle h, const SerialSettings& s) {
  auto r = findKind(h, {Resource::Terminal});
  if (!r) {
    errno = ENOTTY;  // no serial port behind the handle
    return false;
  }
  termios t{};
  if (tcgetattr(r->fd, &t) != 0) return false;
  // Only the line settings change: raw mode was set when the terminal was
  // opened, and flow control stays as the line had it.
  if (!posix::applySerialSettings(s, &t)) return false;
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
