// The I2C transfer port in memory: an 8192-byte chip that records every call and can be told
// to fail. Constructing one puts it and an instant pause in force, destroying it restores the
// defaults; one at a time. Free of the test framework: the dispatcher's fuzzer uses it too.
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

  // 0xFF like an erased part. As on the device: a 2-byte write sets the address counter, a
  // longer one stores from there, reads deliver from it; it wraps at 8192; only 0x50 answers.
  std::array<unsigned char, 8192> chip;
  // The calls, blank-separated: "open" ("open+sync" with O_SYNC), "select:50", "write:0123ab",
  // "read:ab" (bytes in hex), "pause:10000", "close"; a call made to fail ends in '!'.
  std::string transfers;
  bool fail_open = false;    // open gives -1, errno ENOENT
  bool fail_select = false;  // slave selection gives -1, errno EBUSY
  int fail_transfer = -1;    // the K-th read or write since construction (from 0): -1, EIO
  int short_read = -1;       // every read delivers at most this many bytes

 private:
  static int do_open(const char* path, int flags);
  static int do_select(int fd, int bus_address);
  static ssize_t do_write(int fd, const void* buf, size_t n);
  static ssize_t do_read(int fd, void* buf, size_t n);
  static int do_close(int fd);
  static void do_pause(unsigned microseconds);
  // Records a call with its bytes: 0, or -1 with errno `error` when the call is to fail.
  int record(const std::string& call, const unsigned char* bytes, size_t n, bool fails,
              int error = 0);

  static constexpr unsigned kSize = 8192;
  static FakeI2c* active_;
  long long transfer_index_ = 0;  // a fuzzing run of hours makes billions
  unsigned counter_ = 0;
};
