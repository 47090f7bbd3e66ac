#include "support/socket_faults.h"

#include <sys/socket.h>

#include <cerrno>
#include <csignal>

#include "service/tcp_socket.h"

namespace {

volatile std::sig_atomic_t g_on = 0;
unsigned g_state = 1;
SocketFaultCounts g_counts;

unsigned next_draw() {  // xorshift32: the same seed gives the same faults
  g_state ^= g_state << 13;
  g_state ^= g_state >> 17;
  g_state ^= g_state << 5;
  return g_state;
}

// 0: whole, 1: short, 2: reset. A one-byte transfer cannot be cut, so it goes whole.
int draw(size_t length, size_t* cut) {
  if (!g_on) return 0;
  const unsigned kind = next_draw() % 3;
  if (kind == 1 && length < 2) return 0;
  if (kind == 1) *cut = 1 + next_draw() % (length - 1);
  return static_cast<int>(kind);
}

ssize_t faulty_send(int skt, const void* bytes, size_t length, int flags) {
  size_t cut = length;
  switch (draw(length, &cut)) {
    case 1:
      ++g_counts.short_sends;
      return ::send(skt, bytes, cut, flags);
    case 2:
      ++g_counts.resets;
      errno = ECONNRESET;
      return -1;
  }
  ++g_counts.whole;
  return ::send(skt, bytes, length, flags);
}

ssize_t faulty_recv(int skt, void* buffer, size_t length, int flags) {
  size_t cut = length;
  switch (draw(length, &cut)) {
    case 1:
      ++g_counts.short_receives;
      return ::recv(skt, buffer, cut, flags);
    case 2:
      ++g_counts.resets;
      errno = ECONNRESET;
      return -1;
  }
  ++g_counts.whole;
  return ::recv(skt, buffer, length, flags);
}

const SocketIo kFaultyIo = {faulty_send, faulty_recv};

}  // namespace

void socket_faults_on(unsigned seed) {
  g_state = seed ? seed : 1;
  g_counts = {};
  g_on = 1;
  set_socket_io(&kFaultyIo);
}

void socket_faults_off() { g_on = 0; }

const SocketFaultCounts& socket_fault_counts() { return g_counts; }
