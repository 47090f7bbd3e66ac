// Inside the network side: the socket helpers the three link modes share, and each mode's
// own half of the net_side operations. Only net_side*.cpp include it.
#pragma once

#include "forward/net_side.h"

#include "forward/packer.h"

// Room a receiver's queue keeps for the next serial read: a read and a packet held over,
// doubled for Telnet, whose IAC bytes are sent twice.
inline std::size_t send_reserve(const NetSide& net) {
  return (kLineRead + kPackMax) * (net.settings.tcp_mode != 0 ? 2 : 1);
}

// The text of an address, for messages.
struct AddressText {
  char text[32];
};
AddressText address_text(in_addr_t address, int port = -1);
in_addr_t address_of(const unsigned char* ip);  // 4 bytes, first octet first

void close_fd(int* fd);
// Writes what the socket takes of the queue; false when the peer is gone.
bool flush_queue(int fd, ByteQueue* queue);
// Reads what the line's queue can take; false at end of stream or on an error. A Telnet
// connection's commands are taken out: answers go to out (flushed), requests to the link.
bool read_into(NetSide* net, int fd, TelnetSession* telnet, ByteQueue* out, ByteQueue* to_line,
               PollRole role, unsigned short slot);
// Queues serial data for a connection, IAC doubled on a Telnet one (what finds no room is
// left out: the line is not read while a queue lacks send_reserve).
void queue_for(ByteQueue* out, bool telnet, const unsigned char* bytes, std::size_t count);
// Serial data to a connection: sent at once when nothing waits before it, the rest queued
// (written from the queue at POLLOUT); false when the peer is gone.
bool send_to_peer(int fd, ByteQueue* out, bool telnet, const unsigned char* bytes,
                  std::size_t count);
// A Telnet session for a new connection when the TCP mode asks for one, its greeting queued.
void start_telnet(const NetSide& net, std::unique_ptr<TelnetSession>* telnet, ByteQueue* out);
void set_keepalive(int fd);

void server_start(NetSide* net);
void server_stop(NetSide* net);
void server_open_listener(NetSide* net);
void server_add_polls(NetSide* net, PollSet* set, bool line_has_room);
void server_handle(NetSide* net, const pollfd& r, const PollTag& tag, ByteQueue* to_line);
void server_send(NetSide* net, const unsigned char* bytes, std::size_t count);
bool server_backlogged(const NetSide& net);
void server_tick(NetSide* net, int64_t now);

void client_start(NetSide* net);
void client_stop(NetSide* net);
void client_add_polls(NetSide* net, PollSet* set, bool line_has_room);
void client_handle(NetSide* net, const pollfd& r, const PollTag& tag, ByteQueue* to_line);
void client_tick(NetSide* net, int64_t now);
void client_send(NetSide* net, const unsigned char* bytes, std::size_t count);
bool client_backlogged(const NetSide& net);

void udp_start(NetSide* net);
void udp_stop(NetSide* net);
void udp_add_polls(NetSide* net, PollSet* set, bool line_has_room);
void udp_handle(NetSide* net, const pollfd& r, ByteQueue* to_line);
void udp_send(NetSide* net, const unsigned char* bytes, std::size_t count);
