// A sign of life for long EEPROM work on a terminal: while it is in force, every byte written
// (each is followed by one pause of the I2C port) counts, and once the work has taken half a
// second a line on standard error shows the bytes written so far (and of how many, when the
// work knows), redrawn ten times a second. Quiet when standard error is not a terminal; the
// programs' own output is untouched.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/i2c_port.h"

class EepromProgress {
 public:
  // what: the work's name; total: its bytes, or 0 when it does not know them.
  EepromProgress(const char* what, unsigned total) : what_(what), total_(total) {
    if (active_ || !isatty(STDERR_FILENO)) return;
    active_ = this;
    start_ = last_ = Clock::now();
    set_i2c_pause(&counting_pause);
  }
  ~EepromProgress() {
    if (active_ != this) return;
    set_i2c_pause(nullptr);
    active_ = nullptr;
    if (shown_) draw(), std::fputc('\n', stderr);
  }
  EepromProgress(const EepromProgress&) = delete;
  EepromProgress& operator=(const EepromProgress&) = delete;

 private:
  using Clock = std::chrono::steady_clock;

  static void counting_pause(unsigned microseconds) {
    usleep(microseconds);
    EepromProgress& p = *active_;
    ++p.written_;
    const Clock::time_point now = Clock::now();
    if (now - p.start_ < std::chrono::milliseconds(500) ||
        now - p.last_ < std::chrono::milliseconds(100))
      return;
    p.last_ = now;
    p.shown_ = true;
    p.draw();
  }
  void draw() const {
    if (total_)
      std::fprintf(stderr, "\r%s: %u of %u EEPROM bytes written", what_, written_, total_);
    else
      std::fprintf(stderr, "\r%s: %u EEPROM bytes written", what_, written_);
    std::fflush(stderr);
  }

  static inline EepromProgress* active_ = nullptr;
  const char* what_;
  unsigned total_;
  unsigned written_ = 0;
  bool shown_ = false;
  Clock::time_point start_, last_;
};
