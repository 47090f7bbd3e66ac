// The control service's sockets on loopback, and in a network namespace for the interface
// lookups: what each call gives when the peer or the descriptor fails. (Clients that fail the
// running daemon are the misbehaving-clients group's.)
#include "service/tcp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "client/tcp_transport.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

uint16_t local_port(int skt) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  getsockname(skt, reinterpret_cast<sockaddr*>(&sin), &len);
  return ntohs(sin.sin_port);
}

bool ready(int skt, short events) {
  pollfd p{skt, events, 0};
  return poll(&p, 1, 5000) == 1;
}

// A loopback client, retrying while the listener is not there yet.
int connected(uint16_t port, int receive_buffer = 0) {
  TcpOptions options;
  options.retry_ms = 2000;
  options.receive_buffer = receive_buffer;
  std::string why;
  return tcp_open("127.0.0.1", port, options, &why);
}

// Closes with a reset instead of an orderly end.
void reset(int s) {
  const linger now{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(s);
}

TEST(TcpSocket, EachFaultOfPeerOrDescriptorGivesItsResultAndWords) {
  signal(SIGPIPE, SIG_IGN);  // as the daemon does
  const int server = tcp_server_make_skt(kNoInterface, 0, 1);
  const uint16_t port = local_port(server);
  EXPECT_EQ(tcp_server_accept(server, nullptr, nullptr, 1), -1);  // nothing pending: silent
  const int client = connected(port);
  uint32_t addr = 0;
  uint16_t peer_port = 0;
  CaptureStdout();
  const int conn = tcp_server_accept(server, &addr, &peer_port, 0);
  EXPECT_EQ(GetCapturedStdout(), "tcp server accept ok\n");
  EXPECT_EQ(addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ntohs(peer_port), local_port(client));
  timeval limit{};
  socklen_t size = sizeof limit;
  getsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &limit, &size);
  EXPECT_EQ(limit.tv_sec, kControlSendTimeoutSec);
  char buffer[8];
  EXPECT_EQ(chk_send(client, "hello", 5), 5);
  EXPECT_EQ(chk_recv(conn, buffer, sizeof buffer), 5);
  EXPECT_EQ(socket_eth_index(conn), -1);  // loopback is not eth0
  EXPECT_EQ(get_eth_addr(conn, 4) | get_eth_addr(conn, -1), 0u);
  EXPECT_EQ(eth_is_up(conn, 7), 1);

  CaptureStderr();
  const auto open_files = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = open_files();
  EXPECT_EQ(tcp_server_make_skt(kNoInterface, port, 1), -1);
  EXPECT_EQ(open_files(), before);  // the refused socket is closed
  EXPECT_EQ(GetCapturedStderr(), "tcp server bind error: "s + std::strerror(EADDRINUSE) + "\n");
  EXPECT_EQ(chk_send(client, "ab", -1) + chk_send(-1, "ab", 2) + chk_recv(-1, buffer, 1), -3);
  // A lone urgent byte is an exceptional condition with nothing to accept.
  send(client, "!", 1, MSG_OOB);
  ASSERT_TRUE(ready(conn, POLLPRI));
  CaptureStdout();
  EXPECT_EQ(tcp_server_accept(conn, nullptr, nullptr, 1), -2);
  EXPECT_EQ(GetCapturedStdout(), "accept: get a exception\n");
  // A peer that stops reading: small buffers, and a send time-out of one second.
  const int stalled = connected(port, 4096), stuck = tcp_server_accept(server, nullptr, nullptr, 1);
  const int small = 4096;
  setsockopt(stuck, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ASSERT_EQ(tcp_set_send_timeout(stuck, 1), 0);
  const std::vector<char> block(65536, 'x');
  int sent = 0;
  for (int i = 0; i < 100 && sent >= 0; ++i) sent = chk_send(stuck, block.data(), 65536);
  EXPECT_EQ(sent, -1);
  EXPECT_EQ(errno, EAGAIN);
  // A peer that resets, then a closed descriptor.
  reset(client);
  ASSERT_TRUE(ready(conn, POLLIN));
  EXPECT_EQ(chk_recv(conn, buffer, sizeof buffer), -1);
  EXPECT_EQ(chk_send(conn, "x", 1), -1);
  close(conn);
  EXPECT_EQ(chk_recv(conn, buffer, 1), -1);
  for (int s : {server, stalled, stuck}) close(s);
}

// In a network namespace of its own (the PC's eth0 is never asked): a veth pair eth0/eth1
// with addresses, and eth2, down and without address.
TEST(TcpSocket, InterfaceLookupsInOwnNamespace) {
  const ChildRun child = in_child([] {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    if (std::system("ip link set lo up && ip link add eth0 type veth peer name eth1 &&"
                    " ip link add eth2 type veth peer name peer2 &&"
                    " ip addr add 10.77.0.1/24 dev eth0 && ip addr add 10.77.1.1/24 dev eth1 &&"
                    " ip link set eth0 up && ip link set eth1 up"))
      _exit(78);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const int server = tcp_server_make_skt(0, 0, 1);
    const int client = tcp_client_make_skt(1, get_eth_addr(s, 0), local_port(server));
    uint32_t peer = 0;
    const int conn = tcp_server_accept(server, &peer, nullptr, 0);
    std::string out;
    for (uint32_t a : {get_eth_addr(s, 0), get_eth_addr(s, 1), get_eth_addr(s, 2),
                       socket_local_addr(server), peer})
      out += std::string(inet_ntoa(in_addr{a})) + " ";
    for (int i : {eth_is_up(s, 0), eth_is_up(s, 2), eth_is_up(s, 3), socket_eth_index(conn),
                  socket_eth_index(client)})
      out += std::to_string(i) + " ";
    return out;
  });
  if (child.status == 77) GTEST_SKIP() << "no network namespace";
  // eth0..eth2's addresses; the server bound to eth0, the client to eth1; eth0 up, eth2 down,
  // eth3 missing; the accepted side is on eth0, the client's side is not.
  EXPECT_EQ(child.out,
            "tcp server accept ok\n10.77.0.1 10.77.1.1 0.0.0.0 10.77.0.1 10.77.1.1 1 0 0 1 -1 ");
}

}  // namespace
