// IPv4 TCP socket routines of the control service: listening and client sockets tied to the
// Ethernet interfaces eth0..eth3 by index, accept, guarded send and receive, and the interface
// lookups. Hides the socket calls, the interface ioctls and their diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>

// Interface index: 0..3 name "eth0".."eth3"; any other index (callers use -1) means none.
constexpr int kNoInterface = -1;
// The accepted control connection may not block the daemon for ever in a send to a client
// that stopped reading: a blocking accept gives the new connection this send time-out.
constexpr int kControlSendTimeoutSec = 10;

// Listening socket bound to the address of interface `eth_index` (every local address for an
// index outside 0..3 or an interface without address), SO_REUSEADDR set. Descriptor or -1.
int tcp_server_make_skt(int eth_index, uint16_t port, int backlog);

// mode 0 blocks in accept (and the new connection gets the send time-out above); any other
// mode only polls. Result: the new descriptor; -1 when there is no connection or accept
// failed; -2 in polling mode when the socket shows an exceptional condition and nothing
// could be accepted. For a descriptor > 0 the peer's address and port (network byte order)
// go into whichever of peer_addr and peer_port is not null.
int tcp_server_accept(int listen_skt, uint32_t* peer_addr, uint16_t* peer_port, int mode);

// Non-blocking stream socket, bound to the address of interface `eth_index` when it has one,
// connecting to peer_addr (network byte order):peer_port. The descriptor comes back while the
// connection is still under way; the caller finishes or abandons it. -1 on failure.
int tcp_client_make_skt(int eth_index, uint32_t peer_addr, uint16_t peer_port);

// Sets the send time-out (SO_SNDTIMEO) of a connected socket: a send that cannot hand over
// its bytes within `seconds` fails. 0, or -1 on failure.
int tcp_set_send_timeout(int skt, int seconds);

// -1 for a negative descriptor or length; else send()'s result. The send keeps no flags: the
// daemon ignores SIGPIPE, so a peer that has gone away only makes the send fail.
int chk_send(int skt, const void* bytes, int length);
// -1 for a negative descriptor; else recv()'s result.
int chk_recv(int skt, void* buffer, std::size_t length);

// IPv4 address (network byte order) of interface `eth_index`, asked through `skt`;
// 0 for an index outside 0..3 or an interface that has no address.
uint32_t get_eth_addr(int skt, int eth_index);
// 1 when the connection's local address is eth0's address, -1 otherwise (only eth0 is tried).
int socket_eth_index(int skt);
// Local IPv4 address (network byte order) of the socket; 0 for a negative descriptor.
uint32_t socket_local_addr(int skt);
// 1 when the interface is up, 0 when it is down or cannot be asked; 1 for an index outside
// 0..3.
int eth_is_up(int skt, int eth_index);
