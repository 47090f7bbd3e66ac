// A stand-in for the I2C transfer port: an 8192-byte chip in memory that records every call
// made through the port and can be told to fail. Constructing one puts it and an instant
// pause in force; destroying it restores the default port and pause. One at a time. The
// dispatcher's fuzzer keeps its EEPROM in one too, so this stays free of the test framework.
#pragma once

#include <sys/types.h>

#include <array>
#include <string>

class FakeI2c {
 public:
  FakeI2c();
  ~FakeI2c();
  FakeI2c(const FakeI2c&) = delete;
  FakeI2c& operator=(const FakeI2c&) = delete;

  // The chip's contents, 0xFF like an erased part. Same transfer semantics as the device:
  // a 2-byte write sets the address counter, longer writes store from there, reads deliver
  // from the counter on; the counter wraps at 8192. Only bus address 0x50 answers.
  std::array<unsigned char, 8192> chip;
  // Every call in order, separated by blanks: "open" (with O_SYNC "open+sync"), "select:50",
  // "write:0123ab" and "read:ab" with the bytes in hex, "pause:10000", "close". A call that
  // was made to fail ends in '!'.
  std::string transfers;

  // Faults. fail_transfer counts reads and writes together from 0 since construction; that
  // transfer returns -1 with errno EIO. short_read caps every read at that many bytes.
  bool fail_open = false;    // open returns -1, errno ENOENT
  bool fail_select = false;  // slave selection returns -1, errno EBUSY
  int fail_transfer = -1;
  int short_read = -1;

 private:
  static int do_open(const char* path, int flags);
  static int do_select(int fd, int bus_address);
  static ssize_t do_write(int fd, const void* buf, size_t n);
  static ssize_t do_read(int fd, void* buf, size_t n);
  static int do_close(int fd);
  static void do_pause(unsigned microseconds);
  // Records a call with its bytes; false when the call is to fail.
  bool record(const char* call, const unsigned char* bytes, size_t n, bool fails);

  static constexpr unsigned kSize = 8192;
  static FakeI2c* active_;
  long long transfer_index_ = 0;  // a fuzzing run of hours makes billions
  unsigned counter_ = 0;
};
