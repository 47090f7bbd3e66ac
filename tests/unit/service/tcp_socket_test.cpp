#include "service/tcp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

using namespace testing::internal;  // CaptureStdout and friends

uint16_t local_port(int skt) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  getsockname(skt, reinterpret_cast<sockaddr*>(&sin), &len);
  return ntohs(sin.sin_port);
}

bool wait_for(int skt, short events) {
  pollfd p{skt, events, 0};
  return poll(&p, 1, 5000) == 1;
}

// A loopback listener with one client connecting to it, not yet accepted.
struct Pair {
  int server = tcp_server_make_skt(kNoInterface, 0, 1);
  int client = tcp_client_make_skt(kNoInterface, htonl(INADDR_LOOPBACK), local_port(server));
  ~Pair() { close(server), close(client); }
};

TEST(TcpSocket, LoopbackServerAcceptsPollingAndSendsGuarded) {
  Pair pair;
  CaptureStdout();
  CaptureStderr();
  const int idle = tcp_server_make_skt(kNoInterface, 0, 1);
  EXPECT_EQ(tcp_server_accept(idle, nullptr, nullptr, 1), -1);  // nothing pending: silent
  EXPECT_EQ(tcp_server_make_skt(kNoInterface, local_port(pair.server), 1), -1);  // port in use
  EXPECT_EQ(GetCapturedStderr().rfind("tcp server bind error: ", 0), 0u);
  EXPECT_EQ(GetCapturedStdout(), "");

  ASSERT_TRUE(wait_for(pair.client, POLLOUT) && wait_for(pair.server, POLLIN));
  uint32_t addr = 0;
  uint16_t port = 0;
  CaptureStdout();
  const int conn = tcp_server_accept(pair.server, &addr, &port, 1);
  EXPECT_EQ(GetCapturedStdout(), "tcp server accept ok\n");
  EXPECT_EQ(addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ntohs(port), local_port(pair.client));

  char buf[8] = {};
  EXPECT_EQ(chk_send(pair.client, "ab", -1), -1);
  EXPECT_EQ(chk_send(pair.client, "hello", 5), 5);
  ASSERT_TRUE(wait_for(conn, POLLIN));
  EXPECT_EQ(chk_recv(conn, buf, sizeof buf), 5);  // nothing of the refused send arrived
  EXPECT_EQ(socket_eth_index(conn), -1);           // loopback is not eth0
  EXPECT_EQ(get_eth_addr(conn, 4) | get_eth_addr(conn, -1), 0u);
  EXPECT_EQ(eth_is_up(conn, 7), 1);

  // A lone urgent byte is an exceptional condition with nothing readable.
  ASSERT_EQ(send(pair.client, "!", 1, MSG_OOB), 1);
  ASSERT_TRUE(wait_for(conn, POLLPRI));
  CaptureStdout();
  EXPECT_EQ(tcp_server_accept(conn, nullptr, nullptr, 1), -2);
  EXPECT_EQ(GetCapturedStdout(), "accept: get a exception\n");

  close(idle), close(conn);
}

// In a network namespace of its own (the PC's eth0 is never asked): a veth pair eth0/eth1
// with addresses, and eth2, down and without address. The child reports through a pipe.
TEST(TcpSocket, InterfaceLookupsInOwnNamespace) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    if (std::system("ip link set lo up && ip link add eth0 type veth peer name eth1 &&"
                    " ip link add eth2 type veth peer name peer2 &&"
                    " ip addr add 10.77.0.1/24 dev eth0 && ip addr add 10.77.1.1/24 dev eth1 &&"
                    " ip link set eth0 up && ip link set eth1 up") != 0)
      _exit(78);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const int server = tcp_server_make_skt(0, 0, 1);
    const int client = tcp_client_make_skt(1, get_eth_addr(s, 0), local_port(server));
    uint32_t peer = 0;
    const int conn = tcp_server_accept(server, &peer, nullptr, 0);
    const uint32_t r[] = {get_eth_addr(s, 0), get_eth_addr(s, 1), get_eth_addr(s, 2),
                          uint32_t(eth_is_up(s, 0)), uint32_t(eth_is_up(s, 2)),
                          uint32_t(eth_is_up(s, 3)), socket_local_addr(server), peer,
                          uint32_t(socket_eth_index(conn)), uint32_t(socket_eth_index(client))};
    _exit(write(fds[1], r, sizeof r) == sizeof r ? 0 : 79);
  }
  close(fds[1]);
  std::vector<uint32_t> r(10);
  const bool got = read(fds[0], r.data(), 40) == 40;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace";
  ASSERT_TRUE(got) << "child status " << status;
  const uint32_t eth0 = inet_addr("10.77.0.1"), eth1 = inet_addr("10.77.1.1");
  // addresses of eth0..eth2; eth0 up, eth2 down, eth3 missing; server bound to eth0; client
  // bound to eth1; the accepted side is on eth0, the client's side is not.
  EXPECT_EQ(r, (std::vector<uint32_t>{eth0, eth1, 0, 1, 0, 0, eth0, eth1, 1, uint32_t(-1)}));
}

}  // namespace
