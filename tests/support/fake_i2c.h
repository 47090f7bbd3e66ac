// A stand-in for the I2C transfer port: an 8192-byte chip in memory that records every call
// made through the port and can be told to fail. Constructing one puts it and an instant
// pause in force; destroying it restores the default port and pause. One at a time. The
// dispatcher's fuzzer keeps its EEPROM in one too, so this stays free of the test framework.
#pragma once

#include <sys/types.h>

#include <array>
#include <string>
#include <vector>

class FakeI2c {
 public:
  enum class Kind { open, select, write, read, close };
  struct Transfer {
    Kind kind;
    std::vector<unsigned char> bytes;  // written or delivered; select: the bus address
  };

  FakeI2c();
  ~FakeI2c();
  FakeI2c(const FakeI2c&) = delete;
  FakeI2c& operator=(const FakeI2c&) = delete;

  // The chip's contents, 0xFF like an erased part. Same transfer semantics as the device:
  // a 2-byte write sets the address counter, longer writes store from there, reads deliver
  // from the counter on; the counter wraps at 8192. Only bus address 0x50 answers.
  std::array<unsigned char, 8192> chip;
  std::vector<Transfer> transfers;  // every call, in order
  std::string last_path;            // what the last open asked for
  int last_flags = -1;
  unsigned long paused_us = 0;  // sum of every pause asked for

  // Faults. fail_transfer counts reads and writes together from 0 since construction; that
  // transfer returns -1 with errno EIO. short_read caps every read at that many bytes.
  bool fail_open = false;    // open returns -1, errno ENOENT
  bool fail_select = false;  // slave selection returns -1, errno EBUSY
  int fail_transfer = -1;
  int short_read = -1;

  int count(Kind kind) const;
  // The kinds of the calls in order: "open select write read close".
  std::string trace() const;

 private:
  static int do_open(const char* path, int flags);
  static int do_select(int fd, int bus_address);
  static ssize_t do_write(int fd, const void* buf, size_t n);
  static ssize_t do_read(int fd, void* buf, size_t n);
  static int do_close(int fd);
  static void do_pause(unsigned microseconds);
  bool fails_now();

  static FakeI2c* active_;
  long long transfer_index_ = 0;  // a fuzzing run of hours makes billions
  unsigned counter_ = 0;
  bool selected_ = false;
};
