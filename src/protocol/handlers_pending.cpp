// Stand-ins for the command handlers that are not written yet: each refuses its frame with
// the error reply and reports no change, so every code of the table is answered. This file
// goes away when the real handlers land.
#include "protocol/command_handlers.h"
#include "protocol/frame_codec.h"

namespace {
unsigned refuse(int code, unsigned char* pos, int* size) {
  put_error_reply(pos, size, code);
  return 0;
}
}  // namespace

#define STATION_PENDING(name, code)                                         \
  unsigned name(const unsigned char*, int, unsigned char* pos, int* size) { \
    return refuse(code, pos, size);                                         \
  }
#define STATION_PENDING_IF(name, code)                                           \
  unsigned name(const unsigned char*, int, int, unsigned char* pos, int* size) { \
    return refuse(code, pos, size);                                              \
  }

STATION_PENDING(cmd_set_baudrate, 1)
STATION_PENDING(cmd_set_datasize, 2)
STATION_PENDING(cmd_set_parity, 3)
STATION_PENDING(cmd_set_stopsize, 4)
STATION_PENDING(cmd_set_control, 5)
STATION_PENDING(cmd_tcp_delimiter, 76)
STATION_PENDING(cmd_uart_delimiter, 77)
STATION_PENDING(cmd_echo78, 78)
STATION_PENDING(cmd_option79, 79)
STATION_PENDING(cmd_tcp_mode, 85)
STATION_PENDING_IF(cmd_net_address, 88)
STATION_PENDING_IF(set_namepassword, 89)
STATION_PENDING(cmd_uart_mode, 90)
STATION_PENDING(cmd_value91, 91)
STATION_PENDING(cmd_link_mode, 92)
STATION_PENDING(cmd_value93, 93)
STATION_PENDING(cmd_select_port, 94)
STATION_PENDING(cmd_get_all, 96)
STATION_PENDING(cmd_option99, 99)
