// The serial-line commands (codes 1 to 5, declared with the other handlers in
// command_handlers.h) and the lookup in the table of baud rates the serial ports support.
#pragma once

#include <cstdint>

// Position 1..15 of rate in kBaudRates (300 ... 921600), 0 when absent.
int baud_rate_index(int32_t rate);
