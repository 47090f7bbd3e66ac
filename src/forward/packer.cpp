#include "forward/packer.h"

namespace {

// Bits of one character on the line: start bit, data bits, parity bit, stop bits.
int character_bits(const SerialSettings& line) {
  const int data = line.data_bits >= 5 && line.data_bits <= 8 ? line.data_bits : 8;
  return 1 + data + (line.parity != kParityNone ? 1 : 0) + (line.two_stop ? 2 : 1);
}

}  // namespace

PackRule make_pack_rule(const Packing& packing, const SerialSettings& line) {
  PackRule r{};
  r.on = (packing.flag & 1) != 0;
  r.delimiter_count = packing.chars[0] <= 2 ? packing.chars[0] : 0;
  r.delimiter[0] = packing.chars[1];
  r.delimiter[1] = packing.chars[2];
  const int timer = packing.timer & 0xFFFF;
  if (timer & 0x8000) {
    const int64_t baud = line.baud_rate > 0 ? line.baud_rate : 9600;
    const int64_t bits = static_cast<int64_t>(timer & 0x7FFF) * character_bits(line);
    r.idle_ms = static_cast<int>((bits * 1000 + baud - 1) / baud);
  } else {
    r.idle_ms = timer;
  }
  const int max = packing.max_bytes;
  if (max == 0 || max > static_cast<int>(kPackMax))
    r.max_bytes = kPackMax;
  else
    r.max_bytes = max < 1 ? 1 : static_cast<std::size_t>(max);
  return r;
}

std::size_t Packer::take(const unsigned char* bytes, std::size_t count, int64_t now_ms) {
  std::size_t taken = 0;
  while (taken < count && !complete_) {
    const unsigned char b = bytes[taken++];
    bytes_[size_++] = b;
    if (size_ >= rule_.max_bytes) {
      complete_ = true;
    } else if (rule_.delimiter_count == 1) {
      complete_ = b == rule_.delimiter[0];
    } else if (rule_.delimiter_count == 2) {
      complete_ = size_ >= 2 && bytes_[size_ - 2] == rule_.delimiter[0] && b == rule_.delimiter[1];
    }
  }
  if (taken > 0) last_ms_ = now_ms;
  return taken;
}

bool Packer::check_idle(int64_t now_ms) {
  if (size_ > 0 && !complete_ && now_ms - last_ms_ >= rule_.idle_ms) complete_ = true;
  return complete_;
}
