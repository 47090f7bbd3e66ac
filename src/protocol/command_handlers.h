// The command handlers that the command table binds, one per command code. Every handler gets
// one frame's data (nullptr when the frame has none), the data length d = frame length - 6,
// the interface number of the connection (1 for eth0, -1 when unknown; codes 0, 88 and 89
// use it), the answer position and the in/out size of put_reply (in: the space left; out:
// the bytes it wrote), and returns a change report: 0 for no change. The dispatcher has
// refused a length the table does not accept before the handler runs, but for the handlers
// that check it themselves after their trace line. Handlers work on the current port
// (act_g, current_port_record).
#pragma once

using CommandHandler = unsigned (*)(const unsigned char* data, int length, int eth_index,
                                    unsigned char* pos, int* size);

#define COMMAND_HANDLER(name) \
  unsigned name(const unsigned char* data, int length, int eth_index, unsigned char* pos, int* size)

// Serial-line commands, codes 1 to 5.
COMMAND_HANDLER(cmd_set_baudrate);
COMMAND_HANDLER(cmd_set_datasize);
COMMAND_HANDLER(cmd_set_parity);
COMMAND_HANDLER(cmd_set_stopsize);
COMMAND_HANDLER(cmd_set_control);

// Link and transfer-mode commands, codes 76, 77, 85, 90, 92, 99.
COMMAND_HANDLER(cmd_tcp_delimiter);
COMMAND_HANDLER(cmd_uart_delimiter);
COMMAND_HANDLER(cmd_tcp_mode);
COMMAND_HANDLER(cmd_uart_mode);
COMMAND_HANDLER(cmd_link_mode);
COMMAND_HANDLER(cmd_option99);

// Device and system commands, codes 78, 79, 88, 89, 91, 93, 94, 96.
COMMAND_HANDLER(cmd_echo78);
COMMAND_HANDLER(cmd_option79);
COMMAND_HANDLER(cmd_net_address);
COMMAND_HANDLER(set_namepassword);
COMMAND_HANDLER(cmd_value91);
COMMAND_HANDLER(cmd_value93);
COMMAND_HANDLER(cmd_select_port);
COMMAND_HANDLER(cmd_get_all);
