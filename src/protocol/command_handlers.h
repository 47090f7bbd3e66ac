// The command handlers that the dispatcher's table calls, one per command code. Every handler
// gets one frame's data (nullptr when the frame has none), the data length d = frame length
// - 6, the answer position and the in/out size of put_reply (in: the space left; out: the
// bytes it wrote), and returns a change report: 0 for no change. Handlers work on the
// current port (act_g, current_port_record).
#pragma once

using CommandHandler = unsigned (*)(const unsigned char* data, int length, unsigned char* pos,
                                    int* size);
// Codes 88 and 89 (and the login) also get the interface number of the connection:
// 1 for eth0, -1 when unknown.
using InterfaceCommandHandler = unsigned (*)(const unsigned char* data, int length, int eth_index,
                                             unsigned char* pos, int* size);

// Serial-line commands, codes 1 to 5.
unsigned cmd_set_baudrate(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_set_datasize(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_set_parity(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_set_stopsize(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_set_control(const unsigned char* data, int length, unsigned char* pos, int* size);

// Link and transfer-mode commands, codes 76, 77, 85, 90, 92, 99.
unsigned cmd_tcp_delimiter(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_uart_delimiter(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_tcp_mode(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_uart_mode(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_link_mode(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_option99(const unsigned char* data, int length, unsigned char* pos, int* size);

// Device and system commands, codes 78, 79, 88, 89, 91, 93, 94, 96.
unsigned cmd_echo78(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_option79(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_net_address(const unsigned char* data, int length, int eth_index, unsigned char* pos,
                         int* size);
unsigned set_namepassword(const unsigned char* data, int length, int eth_index, unsigned char* pos,
                          int* size);
unsigned cmd_value91(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_value93(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_select_port(const unsigned char* data, int length, unsigned char* pos, int* size);
unsigned cmd_get_all(const unsigned char* data, int length, unsigned char* pos, int* size);
