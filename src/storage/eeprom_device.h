// The EEPROM store: 8192 bytes behind /dev/i2c-0 at bus address 0x50, shared with other
// processes under the lock file /tmp/eeprom.lock. Every routine takes the lock, opens the
// device, transfers, closes and releases; no descriptor or lock outlives a call.
#pragma once

constexpr unsigned kEepromSize = 8192;
constexpr unsigned kEepromBlockReadMax = 2048;  // the block read's staging buffer
constexpr int kEepromBusAddress = 0x50;

// Waits, polling every 500 microseconds, until this process has created the lock file.
// Not re-entrant: a process that holds the lock and asks again waits forever.
int eeprom_lock();
int eeprom_unlock();

// Block routines, the ones the field map uses. A block is accepted only when it ends before
// the last byte (offset + length at most 8191); otherwise -1 without touching the device.
// A read of at most kEepromBlockReadMax bytes is the caller's obligation. 0 or -1.
// A short read succeeds with the missing bytes zero; on failure buffer is left untouched.
int i2c_read_block(unsigned offset, unsigned char* buffer, unsigned length);
// One 3-byte transfer and a 10 ms pause per byte; stops at the first failed byte.
int i2c_write_block(unsigned offset, const unsigned char* buffer, unsigned length);

// Maintenance routines, one byte at a time; they reach byte 8191. -1 for an offset of 8192
// or more, else 0. A device that cannot be opened or selected ends the process with
// exit(-1) (the lock released first); so does a failed write in the writers.
int i2c_read_byte(unsigned offset, unsigned char* value);
int i2c_write_byte(unsigned offset, unsigned char value);
// Sets every byte to 0xFF, printing a dot per byte.
int i2c_clear();
