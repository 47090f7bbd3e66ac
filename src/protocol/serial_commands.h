// The serial-line commands (codes 1 to 5, declared with the other handlers in
// command_handlers.h) and the table of baud rates the device's serial ports support.
#pragma once

#include <cstdint>

constexpr int kBaudRateCount = 15;

// Position 1..15 of rate in the table of supported rates (300 ... 921600), 0 when absent.
int baud_rate_index(int32_t rate);
