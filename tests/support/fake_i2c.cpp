#include "support/fake_i2c.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/i2c_port.h"

FakeI2c* FakeI2c::active_ = nullptr;

FakeI2c::FakeI2c() {
  if (active_) std::abort();  // two fakes would share the one port
  active_ = this;
  chip.fill(0xFF);
  static const I2cPort port = {do_open, do_select, do_write, do_read, do_close};
  set_i2c_port(&port);
  set_i2c_pause(do_pause);
}

FakeI2c::~FakeI2c() {
  set_i2c_port(nullptr);
  set_i2c_pause(nullptr);
  active_ = nullptr;
}

int FakeI2c::record(const std::string& call, const unsigned char* bytes, size_t n, bool fails,
                    int error) {
  transfers += (transfers.empty() ? "" : " ") + call + (n ? ":" : "");
  for (size_t i = 0; i < n; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    transfers += hex;
  }
  if (!fails) return 0;
  transfers += '!';
  errno = error;
  return -1;
}

int FakeI2c::do_open(const char*, int flags) {
  const char* call = (flags & O_SYNC) == O_SYNC ? "open+sync" : "open";
  return active_->record(call, nullptr, 0, active_->fail_open, ENOENT) < 0 ? -1 : 42;
}

int FakeI2c::do_select(int, int bus_address) {
  const unsigned char address = static_cast<unsigned char>(bus_address);
  return active_->record("select", &address, 1, active_->fail_select || address != 0x50, EBUSY);
}

ssize_t FakeI2c::do_write(int, const void* buf, size_t n) {
  FakeI2c& f = *active_;
  const unsigned char* bytes = static_cast<const unsigned char*>(buf);
  if (f.record("write", bytes, n, f.transfer_index_++ == f.fail_transfer, EIO)) return -1;
  if (n >= 2) f.counter_ = ((bytes[0] << 8) | bytes[1]) % kSize;
  for (size_t i = 2; i < n; ++i, f.counter_ = (f.counter_ + 1) % kSize)
    f.chip[f.counter_] = bytes[i];
  return static_cast<ssize_t>(n);
}

ssize_t FakeI2c::do_read(int, void* buf, size_t n) {
  FakeI2c& f = *active_;
  if (f.transfer_index_++ == f.fail_transfer) {
    f.record("read", nullptr, 0, true, EIO);
    return -1;
  }
  if (f.short_read >= 0 && n > static_cast<size_t>(f.short_read)) n = f.short_read;
  unsigned char* out = static_cast<unsigned char*>(buf);
  for (size_t i = 0; i < n; ++i, f.counter_ = (f.counter_ + 1) % kSize) out[i] = f.chip[f.counter_];
  f.record("read", out, n, false);
  return static_cast<ssize_t>(n);
}

int FakeI2c::do_close(int) { return active_->record("close", nullptr, 0, false); }

void FakeI2c::do_pause(unsigned microseconds) {
  active_->record("pause:" + std::to_string(microseconds), nullptr, 0, false);
}
