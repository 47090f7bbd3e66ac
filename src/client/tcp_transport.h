// A TCP byte stream to a peer, as the management client, the benchmarks and the tests all
// need it: connect with a time-out and the socket options asked for, send everything, and
// receive with a deadline. Hides the socket, name lookup, poll and EINTR; the descriptor is
// non-blocking and belongs to the caller, who closes it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TcpOptions {
  int timeout_ms = 10000;  // for the connection to be made
  int retry_ms = 0;        // keep trying this long while nothing listens yet
  bool no_delay = true;    // TCP_NODELAY: each send leaves at once
  int receive_buffer = 0;  // SO_RCVBUF before connecting, when above 0
};

enum class TcpStatus { kOk, kTimedOut, kClosed, kIoError };

// Deadlines: the moment ms milliseconds from now; the milliseconds left until one, 0 once past.
using TcpClock = std::chrono::steady_clock;
TcpClock::time_point tcp_deadline(int ms);
int tcp_ms_left(TcpClock::time_point deadline);

// Connects to host (a dotted quad or a name) and port. A descriptor, or -1 with the system's
// reason in *why.
int tcp_open(const std::string& host, uint16_t port, const TcpOptions& options, std::string* why);
// Sends all count bytes within timeout_ms. kClosed when the peer is gone.
TcpStatus tcp_send_all(int fd, const void* bytes, std::size_t count, int timeout_ms);
// Waits up to timeout_ms for bytes and appends what one receive gives, at most at_most.
// kClosed at end of file or reset; kTimedOut when nothing came.
TcpStatus tcp_receive(int fd, std::vector<unsigned char>* into, std::size_t at_most,
                      int timeout_ms);
// Receives until `into` holds count bytes, within timeout_ms in all; fewer on any failure.
TcpStatus tcp_receive_until(int fd, std::vector<unsigned char>* into, std::size_t count,
                            int timeout_ms);
