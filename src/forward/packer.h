// Packing of one direction of a port: cuts a stream of bytes into packets at a delimiter, at
// a line idle for the timer, or at a size. Pure logic: the caller passes the time in and
// takes the packets out, so the rules can be checked and fuzzed without a line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "forward/port_settings.h"

inline constexpr std::size_t kPackMax = 1452;  // the most bytes of one packet

struct PackRule {
  bool on;              // flag bit 0
  int delimiter_count;  // 0..2
  unsigned char delimiter[2];
  int idle_ms;            // 0: a packet leaves as soon as the bytes at hand are taken
  std::size_t max_bytes;  // 1..kPackMax
};

// The rule of a delimiter block. Timer bit 15 clear: milliseconds; set: the low 15 bits in
// character times of the line (start bit, data bits, parity, stop bits at its rate), rounded
// up to whole milliseconds. Maximum 0 means kPackMax; any other is held to 1..kPackMax.
PackRule make_pack_rule(const Packing& packing, const SerialSettings& line);

class Packer {
 public:
  void set_rule(const PackRule& rule) { rule_ = rule; }
  const PackRule& rule() const { return rule_; }
  // Takes bytes that arrived at now_ms until a packet is complete (its delimiter or its size
  // reached); the count taken. Once complete(), it takes nothing until clear().
  std::size_t take(const unsigned char* bytes, std::size_t count, int64_t now_ms);
  // Marks the bytes held complete when the line has been idle for the timer; true then.
  bool check_idle(int64_t now_ms);
  // When the bytes held become due by the timer; -1 when none are held.
  int64_t due_at() const { return size_ == 0 ? -1 : last_ms_ + rule_.idle_ms; }
  bool complete() const { return complete_; }
  const unsigned char* data() const { return bytes_; }
  std::size_t size() const { return size_; }
  void clear() {
    size_ = 0;
    complete_ = false;
  }

 private:
  PackRule rule_{};
  unsigned char bytes_[kPackMax];
  std::size_t size_ = 0;
  bool complete_ = false;
  int64_t last_ms_ = 0;
};
