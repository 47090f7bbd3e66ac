// The control service's sockets in a network namespace of the test's own (never the PC's eth0):
// a veth pair eth0/eth1 with addresses, and eth2, down and without address.
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

#include "support/temp_dir.h"

namespace {

uint16_t local_port(int skt) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  return getsockname(skt, reinterpret_cast<sockaddr*>(&sin), &len), ntohs(sin.sin_port);
}

TEST(TcpSocket, InterfaceLookupsAndEachFaultOfPeerOrDescriptorInOwnNamespace) {
  const ChildRun child = in_child([] {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    if (std::system("ip link set lo up && ip link add eth0 type veth peer name eth1 &&"
                    " ip link add eth2 type veth peer name peer2 &&"
                    " ip addr add 10.77.0.1/24 dev eth0 && ip addr add 10.77.1.1/24 dev eth1 &&"
                    " ip link set eth0 up && ip link set eth1 up"))
      _exit(78);
    const int s = socket(AF_INET, SOCK_STREAM, 0), server = tcp_server_make_skt(0, 0, 1);
    std::string out = std::to_string(tcp_server_accept(server, nullptr, nullptr, 1)) + "\n";
    const int client = tcp_client_make_skt(1, get_eth_addr(s, 0), local_port(server));
    uint32_t peer = 0;
    uint16_t peer_port = 0;
    const int conn = tcp_server_accept(server, &peer, &peer_port, 0);
    for (uint32_t a : {get_eth_addr(s, 0), get_eth_addr(s, 1), get_eth_addr(s, 2),
                       get_eth_addr(s, 4) | get_eth_addr(s, -1), socket_local_addr(server), peer})
      out += std::string(inet_ntoa(in_addr{a})) + " ";
    timeval limit{};
    socklen_t size = sizeof limit;
    getsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &limit, &size);
    char buffer[1];
    for (int i : {eth_is_up(s, 0), eth_is_up(s, 2), eth_is_up(s, 3), eth_is_up(s, 7),
                  socket_eth_index(conn), socket_eth_index(client),
                  ntohs(peer_port) - local_port(client), static_cast<int>(limit.tv_sec),
                  chk_send(client, "ab", -1) + chk_send(-1, "ab", 2) + chk_recv(-1, buffer, 1)})
      out += std::to_string(i) + " ";
    // A port in use: the refused socket is closed, and one line says why.
    const auto open_files = [] {
      return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    testing::internal::CaptureStderr();
    const auto before = open_files();
    out += "\n" + std::to_string(tcp_server_make_skt(0, local_port(server), 1));
    out += " " + std::to_string(open_files() - before);
    out += " " + testing::internal::GetCapturedStderr();
    // A lone urgent byte is an exceptional condition with nothing to accept.
    send(client, "!", 1, MSG_OOB);
    pollfd urgent{conn, POLLPRI, 0};
    out += std::to_string(poll(&urgent, 1, 5000)) + " ";
    out += std::to_string(tcp_server_accept(conn, nullptr, nullptr, 1));
    return out;
  });
  if (child.status == 77) GTEST_SKIP() << "no network namespace";
  // The words printed first; eth0..eth2's addresses, none for eth4; server on eth0, client on
  // eth1; eth0 up, eth2 down, eth3 missing, eth7 not asked; the accepted side on eth0.
  EXPECT_EQ(child.out,
            "tcp server accept ok\naccept: get a exception\n-1\n"
            "10.77.0.1 10.77.1.1 0.0.0.0 0.0.0.0 10.77.0.1 10.77.1.1 1 0 0 1 1 -1 0 " +
                std::to_string(kControlSendTimeoutSec) +
                " -3 \n-1 0 tcp server bind error: " + std::strerror(EADDRINUSE) + "\n1 -2");
}

}  // namespace
