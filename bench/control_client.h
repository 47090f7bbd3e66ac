// The client side of the control protocol that the round-trip benchmarks and the footprint
// run need, on the client's TCP transport: connect on loopback, log in, send one buffer and
// wait for its whole reply. Also a plain TCP echo server, the round trip's floor, in a
// child process.
#pragma once

#include <sys/types.h>

#include <cstdint>

// Connects to 127.0.0.1:port through the client's transport, retrying for up to wait_ms
// milliseconds while nothing listens yet. A descriptor with TCP_NODELAY set, or -1. The
// exchanges below wait 10 s at most for a reply.
int tcp_connect(uint16_t port, int wait_ms);
// tcp_connect, then takes the daemon's 2-byte greeting. A descriptor, or -1.
int control_connect(uint16_t port, int wait_ms);
// The password that the default export stores, which a fresh simulator therefore expects.
inline constexpr char kDefaultLoginText[] = "quillet";
// Logs in with the password alone. 1 on "S".
int control_login(int fd, const char* password = kDefaultLoginText);
// Sends `length` bytes and receives exactly reply_length bytes. reply_length, or -1.
int round_trip(int fd, const unsigned char* request, int length, unsigned char* reply,
               int reply_length);
// Sends `length` bytes and collects what arrives until 200 ms pass without more: the length
// of a reply not known in advance, or -1.
int learn_reply(int fd, const unsigned char* request, int length, unsigned char* reply,
                int capacity);

// A child process that serves TCP echo on 127.0.0.1 (one client at a time, each received
// buffer sent back whole). *port receives its port; the result is its PID, or -1.
pid_t start_echo_server(uint16_t* port);
// Ends a child this program started and waits for it.
void stop_child(pid_t pid);
