// The network side of one port, by its link mode: a TCP server with its clients, a TCP
// client with its one or two destinations, or a UDP socket with its ranges of destinations.
// It owns those sockets and the bytes waiting for each of them; the port hands it serial
// data and a queue for data bound to the line.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>

#include "forward/byte_queue.h"
#include "forward/poll_set.h"
#include "forward/port_settings.h"
#include "forward/telnet_session.h"

inline constexpr int kMaxPeers = 16;          // clients of a TCP server at once, at most
inline constexpr int kMaxUdpTargets = 8 * 256;
inline constexpr std::size_t kPeerQueueSize = 16384;
inline constexpr std::size_t kLineRead = 4096;  // one read of the serial line, at most
inline constexpr std::size_t kDownBacklog = 4096;  // kept for a destination while it is down

struct Peer {
  int fd = -1;
  in_addr_t address = 0;
  std::unique_ptr<ByteQueue> out;
  std::unique_ptr<TelnetSession> telnet;  // Virtual_COM and Reverse_Telnet
  int64_t heard_ms = -1;   // when it last wrote (com_reply_all 0 serves only recent writers)
  int64_t active_ms = 0;   // when bytes last went either way (connect_time_out)
};

struct Destination {
  sockaddr_in address{};
  bool enabled = false;
  int fd = -1;
  bool connected = false;
  int64_t next_attempt_ms = 0;
  int backoff_ms = 1000;
  std::unique_ptr<ByteQueue> out;
  std::unique_ptr<TelnetSession> telnet;
};

// An RFC 2217 request of one connection, for the port to apply and answer.
struct LineRequest {
  ComRequest request;
  PollRole role;  // kPeer or kDest
  unsigned short slot;
};
inline constexpr int kMaxLineRequests = 32;

struct NetSide {
  int port = 0;  // 1 or 2, for messages
  int mode = -1;  // LinkMode; -1: nothing built
  LinkSettings settings{};
  // TCP server
  int listen_fd = -1;
  int max_peers = 1;
  bool filter = false;
  in_addr_t admitted = 0;
  Peer peers[kMaxPeers];
  // TCP client
  Destination dest[2];
  // UDP
  int udp_fd = -1;
  std::unique_ptr<sockaddr_in[]> targets;
  int target_count = 0;
  // Requests of the line taken this turn (net_handle), applied by the port.
  LineRequest requests[kMaxLineRequests];
  int request_count = 0;
};

// Builds the link the settings describe. What cannot be had (a port taken, a destination
// refused) is logged and left out; the rest runs.
void net_start(NetSide* net, int port, const LinkSettings& settings);
// Closes every socket of the link.
void net_stop(NetSide* net);
// A TCP server's local port changed: a new listener, the clients stay.
void net_move_listener(NetSide* net, const LinkSettings& settings);

// Packing and timing keys changed (com_reply_all, tranaction_timeout, connect_time_out, ...):
// taken as they are, the connections stay.
void net_take_transfer_keys(NetSide* net, const LinkSettings& settings);

// What the link waits for this turn. to_line_room: bytes the line's queue can still take
// (below a read's worth the link reads nothing from the network).
void net_add_polls(NetSide* net, PollSet* set, std::size_t to_line_room);
// Handles the result of one descriptor of the link.
void net_handle(NetSide* net, const pollfd& result, const PollTag& tag, ByteQueue* to_line);
// Reconnections that are due.
void net_tick(NetSide* net, int64_t now);

// Serial data for the network: to every client, every destination, every UDP target.
void net_send(NetSide* net, const unsigned char* bytes, std::size_t count);
// True while some receiver cannot take another serial read: the line is then not read.
bool net_backlogged(const NetSide& net);
// The serial bytes the link takes in one go: a queue's worth while it is a plain TCP link
// whose receivers have nothing queued (what a send leaves then fits each queue), else one
// read's worth (kLineRead).
std::size_t net_take_size(const NetSide& net);
// True while the link has a peer the line serves: a client of the TCP server, an enabled
// destination of the TCP client (its data waits while it is down), always for UDP.
bool net_has_peer(const NetSide& net);
// True while a client of the TCP server or a destination of the TCP client is connected.
bool net_connected(const NetSide& net);
// Answers a request taken by net_handle with the value the line applied.
void net_answer(NetSide* net, const LineRequest& request, uint32_t value);
