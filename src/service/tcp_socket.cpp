#include "service/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// The interface requests the device's kernel knows by these numbers.
constexpr unsigned long kGetIfAddr = 0x8915;
constexpr unsigned long kGetIfFlags = 0x8913;
static_assert(kGetIfAddr == SIOCGIFADDR && kGetIfFlags == SIOCGIFFLAGS);

bool is_eth_index(int eth_index) { return eth_index >= 0 && eth_index <= 3; }

sockaddr_in ipv4(uint32_t addr, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = addr;
  sin.sin_port = htons(port);
  return sin;
}

// Issues one interface request for "eth<index>" on skt; false when the kernel refuses it.
bool ask_eth(int skt, int eth_index, unsigned long request, ifreq* ifr) {
  std::memset(ifr, 0, sizeof *ifr);
  std::snprintf(ifr->ifr_name, sizeof ifr->ifr_name, "eth%d", eth_index);
  return ioctl(skt, request, ifr) == 0;
}

}  // namespace

int tcp_server_make_skt(int eth_index, uint16_t port, int backlog) {
  const int skt = socket(AF_INET, SOCK_STREAM, 0);
  if (skt < 0) {
    perror("tcp_server_make_skt: create failed");
    return -1;
  }
  // A restarted daemon must get its port back while old connections linger in TIME_WAIT.
  const int on = 1;
  setsockopt(skt, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  const sockaddr_in local = ipv4(get_eth_addr(skt, eth_index), port);
  if (bind(skt, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
    perror("tcp server bind error");
    close(skt);
    return -1;
  }
  if (listen(skt, backlog) < 0) {
    perror("tcp server listen error");
    close(skt);
    return -1;
  }
  return skt;
}

int tcp_server_accept(int listen_skt, uint32_t* peer_addr, uint16_t* peer_port, int mode) {
  if (listen_skt < 0) return -1;

  sockaddr_in peer{};
  socklen_t peer_len = sizeof peer;
  int result = -1;
  if (mode == 0) {
    result = accept(listen_skt, reinterpret_cast<sockaddr*>(&peer), &peer_len);
    if (result < 0) {
      perror("tcp server accept error");
      return -1;
    }
    // The control session sends with blocking calls; without a time-out a client that
    // stops reading would hold the daemon in send() for ever.
    tcp_set_send_timeout(result, kControlSendTimeoutSec);
  } else {
    if (listen_skt >= FD_SETSIZE) return -1;  // select() cannot watch it
    fd_set readable;
    fd_set exceptional;
    FD_ZERO(&readable);
    FD_ZERO(&exceptional);
    FD_SET(listen_skt, &readable);
    FD_SET(listen_skt, &exceptional);
    timeval no_wait{};
    if (select(listen_skt + 1, &readable, nullptr, &exceptional, &no_wait) > 0) {
      if (FD_ISSET(listen_skt, &exceptional)) {
        result = -2;
        puts("accept: get a exception");
      }
      if (FD_ISSET(listen_skt, &readable)) {
        result = accept(listen_skt, reinterpret_cast<sockaddr*>(&peer), &peer_len);
        if (result < 0) {
          perror("tcp server accept error");
          return -1;
        }
      }
    }
  }

  // Descriptor 0 is not reported: the daemon keeps standard input open, so accept never
  // hands out 0 there.
  if (result > 0) {
    puts("tcp server accept ok");
    if (peer_addr) *peer_addr = peer.sin_addr.s_addr;
    if (peer_port) *peer_port = peer.sin_port;
  }
  return result;
}

int tcp_client_make_skt(int eth_index, uint32_t peer_addr, uint16_t peer_port) {
  const int skt = socket(AF_INET, SOCK_STREAM, 0);
  if (skt < 0) {
    perror("tcp client create error");
    return -1;
  }
  fcntl(skt, F_SETFL, O_NONBLOCK);

  const uint32_t local_addr = get_eth_addr(skt, eth_index);
  if (local_addr != 0) {
    const sockaddr_in local = ipv4(local_addr, 0);
    if (bind(skt, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
      perror("tcp client bind error");
      close(skt);
      return -1;
    }
  }

  // Non-blocking: the usual outcome is EINPROGRESS, reported and handed back to the caller
  // with the descriptor, who finishes or abandons the connection.
  const sockaddr_in peer = ipv4(peer_addr, peer_port);
  if (connect(skt, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
    perror("tcp client connect error");
  }
  return skt;
}

int tcp_set_send_timeout(int skt, int seconds) {
  timeval limit{};
  limit.tv_sec = seconds;
  return setsockopt(skt, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0 ? 0 : -1;
}

int chk_send(int skt, const void* bytes, int length) {
  if (skt < 0 || length < 0) return -1;
  return static_cast<int>(send(skt, bytes, static_cast<std::size_t>(length), 0));
}

int chk_recv(int skt, void* buffer, std::size_t length) {
  if (skt < 0) return -1;
  return static_cast<int>(recv(skt, buffer, length, 0));
}

uint32_t get_eth_addr(int skt, int eth_index) {
  if (!is_eth_index(eth_index)) return 0;
  ifreq ifr;
  if (!ask_eth(skt, eth_index, kGetIfAddr, &ifr)) return 0;
  sockaddr_in addr;
  std::memcpy(&addr, &ifr.ifr_addr, sizeof addr);
  return addr.sin_addr.s_addr;
}

int socket_eth_index(int skt) {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (getsockname(skt, reinterpret_cast<sockaddr*>(&local), &len) < 0) return -1;
  // Only eth0 is tried: the commands on the connection's own interface serve eth0 alone.
  for (int i = 0; i <= 0; ++i) {
    const uint32_t eth = get_eth_addr(skt, i);
    if (eth != 0 && eth == local.sin_addr.s_addr) return i + 1;
  }
  return -1;
}

uint32_t socket_local_addr(int skt) {
  if (skt < 0) return 0;
  sockaddr_in local{};
  socklen_t len = sizeof local;
  getsockname(skt, reinterpret_cast<sockaddr*>(&local), &len);
  return local.sin_addr.s_addr;
}

int eth_is_up(int skt, int eth_index) {
  if (!is_eth_index(eth_index)) return 1;
  ifreq ifr;
  if (!ask_eth(skt, eth_index, kGetIfFlags, &ifr)) return 0;
  return (ifr.ifr_flags & IFF_UP) != 0 ? 1 : 0;
}
