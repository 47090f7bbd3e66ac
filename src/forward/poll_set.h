// The descriptors of one turn of the forwarder's loop: each unit adds what it waits for,
// with a tag that brings the result back to it, and the earliest time it must wake.
#pragma once

#include <poll.h>

#include <cstdint>

enum class PollRole : unsigned char { kWakeTimer, kIniWatch, kSerial, kListen, kPeer, kDest, kUdp };

struct PollTag {
  PollRole role;
  unsigned char port;  // 0-based
  unsigned short slot;
};

inline constexpr int kMaxPolled = 64;

struct PollSet {
  pollfd fds[kMaxPolled];
  PollTag tags[kMaxPolled];
  int count = 0;
  int64_t wake_at_ms = -1;  // -1: no deadline

  // false when the set is full: the descriptor is left out of this turn.
  bool add(int fd, short events, PollTag tag) {
    if (fd < 0 || count >= kMaxPolled) return false;
    fds[count] = pollfd{fd, events, 0};
    tags[count] = tag;
    ++count;
    return true;
  }
  void wake_by(int64_t at_ms) {
    if (wake_at_ms < 0 || at_ms < wake_at_ms) wake_at_ms = at_ms;
  }
};

// Milliseconds of the monotonic clock.
int64_t now_ms();
