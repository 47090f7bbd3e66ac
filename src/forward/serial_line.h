// The serial side of a port: opening the line, and turning its settings into a raw-mode
// termios and an RS-485 state. Owns the meaning of the line keys (rates, character size,
// parity, stop bits, flow control with its XON/XOFF characters, the interface type).
#pragma once

#include <linux/serial.h>
#include <termios.h>

#include "forward/port_settings.h"

// The termios speed of a rate; a rate the line does not know becomes the fastest known one
// below it (300 at the least), and *exact says whether it was known.
speed_t line_speed(int baud_rate, bool* exact);
// The rate the line runs at for a rate asked: the one line_speed picks, as a number.
int line_rate(int baud_rate);

// Raw mode from the settings on top of what the line had (base): no echo, no line editing,
// no translation; CREAD and CLOCAL; size, parity (mark and space through CMSPAR), stop bits;
// RTS/CTS, or XON/XOFF both ways with com_ixon and com_ixoff as the start and stop
// characters. Reads return what is there at once (VMIN 1, VTIME 0, with a nonblocking fd).
termios line_termios(const SerialSettings& s, const termios& base);

// RS-485 on a port whose interface is RS-485 (RTS high while sending, low after); off else.
serial_rs485 line_rs485(const SerialSettings& s);

// Opens the line nonblocking, without becoming its controlling terminal. fd or -1 (errno).
int open_serial_line(const char* path);

// Applies termios and RS-485 to an open line. 0 when termios took; -1 (errno) when not.
// *rs485_errno gets 0 or the errno of TIOCSRS485 (ENOTTY on a pseudo-terminal or a plain
// UART, ENOSYS under an emulator): the caller says so once and goes on forwarding.
int apply_serial_settings(int fd, const SerialSettings& s, int* rs485_errno);
