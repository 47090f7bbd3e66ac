// The five transfers through which the EEPROM routines reach the chip: open the node, select
// the slave, write, read, close. On the device they are the kernel's i2c-dev interface. When
// the node is a regular 8192-byte file, the same calls emulate the chip over that file (a
// 2-byte write sets the address pointer, a 3-byte write stores one byte, a read returns bytes
// from the pointer on). Tests put a port of their own in place with set_i2c_port().
#pragma once

#include <sys/types.h>

struct I2cPort {
  int (*open)(const char* path, int flags);           // a descriptor, or -1 with errno
  int (*select_slave)(int fd, int bus_address);       // ioctl I2C_SLAVE: 0 or -1
  ssize_t (*write)(int fd, const void* buf, size_t n);
  ssize_t (*read)(int fd, void* buf, size_t n);
  int (*close)(int fd);
};

// The port in force: the default one unless a test substituted its own.
const I2cPort& i2c_port();
// Substitutes a port; nullptr restores the default.
void set_i2c_port(const I2cPort* port);

// Pauses between transfers (usleep on the device). Tests and fuzzers may make it instant.
void i2c_pause(unsigned microseconds);
void set_i2c_pause(void (*pause)(unsigned microseconds));  // nullptr restores usleep
