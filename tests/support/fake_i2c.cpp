#include "support/fake_i2c.h"

#include <cerrno>
#include <cstdlib>

#include "platform/i2c_port.h"

namespace {
constexpr int kFakeFd = 42;
constexpr unsigned kSize = 8192;
const char* const kKindNames[] = {"open", "select", "write", "read", "close"};
}  // namespace

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

int FakeI2c::count(Kind kind) const {
  int n = 0;
  for (const Transfer& t : transfers) n += t.kind == kind;
  return n;
}

std::string FakeI2c::trace() const {
  std::string text;
  for (const Transfer& t : transfers) {
    if (!text.empty()) text += ' ';
    text += kKindNames[static_cast<int>(t.kind)];
  }
  return text;
}

bool FakeI2c::fails_now() { return transfer_index_++ == fail_transfer; }

int FakeI2c::do_open(const char* path, int flags) {
  FakeI2c& f = *active_;
  f.transfers.push_back({Kind::open, {}});
  f.last_path = path;
  f.last_flags = flags;
  f.selected_ = false;
  if (f.fail_open) {
    errno = ENOENT;
    return -1;
  }
  return kFakeFd;
}

int FakeI2c::do_select(int fd, int bus_address) {
  FakeI2c& f = *active_;
  f.transfers.push_back({Kind::select, {static_cast<unsigned char>(bus_address)}});
  if (fd != kFakeFd || f.fail_select || bus_address != 0x50) {
    errno = EBUSY;
    return -1;
  }
  f.selected_ = true;
  return 0;
}

ssize_t FakeI2c::do_write(int fd, const void* buf, size_t n) {
  FakeI2c& f = *active_;
  const unsigned char* bytes = static_cast<const unsigned char*>(buf);
  f.transfers.push_back({Kind::write, {bytes, bytes + n}});
  if (fd != kFakeFd || !f.selected_ || f.fails_now()) {
    errno = EIO;
    return -1;
  }
  if (n >= 2) {
    f.counter_ = ((bytes[0] << 8) | bytes[1]) % kSize;
    for (size_t i = 2; i < n; ++i) {
      f.chip[f.counter_] = bytes[i];
      f.counter_ = (f.counter_ + 1) % kSize;
    }
  }
  return static_cast<ssize_t>(n);
}

ssize_t FakeI2c::do_read(int fd, void* buf, size_t n) {
  FakeI2c& f = *active_;
  if (fd != kFakeFd || !f.selected_ || f.fails_now()) {
    f.transfers.push_back({Kind::read, {}});
    errno = EIO;
    return -1;
  }
  if (f.short_read >= 0 && n > static_cast<size_t>(f.short_read)) n = f.short_read;
  unsigned char* out = static_cast<unsigned char*>(buf);
  for (size_t i = 0; i < n; ++i) {
    out[i] = f.chip[f.counter_];
    f.counter_ = (f.counter_ + 1) % kSize;
  }
  f.transfers.push_back({Kind::read, {out, out + n}});
  return static_cast<ssize_t>(n);
}

int FakeI2c::do_close(int fd) {
  FakeI2c& f = *active_;
  f.transfers.push_back({Kind::close, {}});
  f.selected_ = false;
  if (fd != kFakeFd) {
    errno = EBADF;
    return -1;
  }
  return 0;
}

void FakeI2c::do_pause(unsigned microseconds) { active_->paused_us += microseconds; }
