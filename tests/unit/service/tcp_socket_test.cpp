// The control service's sockets on loopback, and in a network namespace for the interface
// lookups. (Clients that fail the running daemon are the misbehaving-clients group's.)
#include "service/tcp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "client/tcp_transport.h"
#include "support/temp_dir.h"

namespace {

using namespace testing::internal;

uint16_t local_port(int skt) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  getsockname(skt, reinterpret_cast<sockaddr*>(&sin), &len);
  return ntohs(sin.sin_port);
}

TEST(TcpSocket, EachFaultOfPeerOrDescriptorGivesItsResultAndWords) {
  const int server = tcp_server_make_skt(kNoInterface, 0, 1);
  const uint16_t port = local_port(server);
  EXPECT_EQ(tcp_server_accept(server, nullptr, nullptr, 1), -1);  // nothing pending: silent
  TcpOptions options;
  options.retry_ms = 2000;
  std::string why;
  const int client = tcp_open("127.0.0.1", port, options, &why);
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
  EXPECT_EQ(chk_send(client, "ab", -1) + chk_send(-1, "ab", 2) + chk_recv(-1, buffer, 1), -3);
  EXPECT_EQ(socket_eth_index(conn), -1);  // loopback is not eth0
  EXPECT_EQ(get_eth_addr(conn, 4) | get_eth_addr(conn, -1), 0u);
  EXPECT_EQ(eth_is_up(conn, 7), 1);
  // A port in use: the refused socket is closed, and one line says why.
  const auto open_files = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = open_files();
  CaptureStderr();
  EXPECT_EQ(tcp_server_make_skt(kNoInterface, port, 1), -1);
  EXPECT_EQ(GetCapturedStderr(),
            "tcp server bind error: " + std::string(std::strerror(EADDRINUSE)) + "\n");
  EXPECT_EQ(open_files(), before);
  // A lone urgent byte is an exceptional condition with nothing to accept.
  send(client, "!", 1, MSG_OOB);
  pollfd urgent{conn, POLLPRI, 0};
  ASSERT_EQ(poll(&urgent, 1, 5000), 1);
  CaptureStdout();
  EXPECT_EQ(tcp_server_accept(conn, nullptr, nullptr, 1), -2);
  EXPECT_EQ(GetCapturedStdout(), "accept: get a exception\n");
  for (int s : {server, client, conn}) close(s);
}

// In a network namespace of its own: a veth pair eth0/eth1 with addresses, and eth2, down.
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
