#include "forward/serial_line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct Rate {
  int baud;
  speed_t speed;
};

// The rates the daemon accepts, slowest first.
constexpr Rate kRates[] = {{300, B300},       {600, B600},       {1200, B1200},
                           {2400, B2400},     {4800, B4800},     {9600, B9600},
                           {19200, B19200},   {38400, B38400},   {57600, B57600},
                           {115200, B115200}, {230400, B230400}, {460800, B460800},
                           {500000, B500000}, {576000, B576000}, {921600, B921600}};

// XON (DC1) and XOFF (DC3), for a character key that is missing or not one byte.
constexpr int kXon = 0x11;
constexpr int kXoff = 0x13;

cc_t flow_char(int value, int fallback) {
  return static_cast<cc_t>(value > 0 && value <= 0xFF ? value : fallback);
}

tcflag_t size_flag(int data_bits) {
  switch (data_bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

tcflag_t parity_flags(int parity) {
  switch (parity) {
    case kParityOdd: return PARENB | PARODD;
    case kParityEven: return PARENB;
    case kParityMark: return PARENB | CMSPAR | PARODD;
    case kParitySpace: return PARENB | CMSPAR;
    default: return 0;
  }
}

}  // namespace

speed_t line_speed(int baud_rate, bool* exact) {
  speed_t speed = kRates[0].speed;
  *exact = false;
  for (const Rate& r : kRates) {
    if (r.baud > baud_rate) break;
    speed = r.speed;
    *exact = r.baud == baud_rate;
  }
  return speed;
}

int line_rate(int baud_rate) {
  int rate = kRates[0].baud;
  for (const Rate& r : kRates) {
    if (r.baud > baud_rate) break;
    rate = r.baud;
  }
  return rate;
}

termios line_termios(const SerialSettings& s, const termios& base) {
  termios t = base;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL | size_flag(s.data_bits) | parity_flags(s.parity);
  // With parity on, a byte that arrives with a parity error is dropped rather than passed
  // on as if it were good data.
  if (s.parity != kParityNone) t.c_iflag |= INPCK | IGNPAR;
  if (s.two_stop) t.c_cflag |= CSTOPB;
  if (s.flow == kFlowRtsCts) t.c_cflag |= CRTSCTS;
  if (s.flow == kFlowXonXoff) t.c_iflag |= IXON | IXOFF;
  t.c_cc[VSTART] = flow_char(s.ixon, kXon);
  t.c_cc[VSTOP] = flow_char(s.ixoff, kXoff);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  bool exact;
  const speed_t speed = line_speed(s.baud_rate, &exact);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return t;
}

serial_rs485 line_rs485(const SerialSettings& s) {
  serial_rs485 r;
  std::memset(&r, 0, sizeof r);
  if (s.uart_mode == kRs485) r.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  return r;
}

int open_serial_line(const char* path) {
  return ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int apply_serial_settings(int fd, const SerialSettings& s, int* rs485_errno) {
  serial_rs485 r = line_rs485(s);
  *rs485_errno = ::ioctl(fd, TIOCSRS485, &r) == 0 ? 0 : errno;
  termios base;
  if (::tcgetattr(fd, &base) != 0) return -1;
  const termios t = line_termios(s, base);
  return ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : -1;
}
