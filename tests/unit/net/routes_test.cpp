// Gateways, summaries and the control service's sockets in a network namespace of the test's own
// (never the PC's eth0: eth0/eth1 with addresses, eth2 down), the saved route file, resolv.conf.
#include "net/routes.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "net/interface_address.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "service/tcp_socket.h"
#include "storage/eeprom_map.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

std::string dotted(const unsigned char* a) {
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, a, text, sizeof text);
}

// A default route's line as this machine's kernel prints it: addresses in memory order.
std::string route(const char* name, const char* gateway, const char* flags) {
  char gw[9];
  std::snprintf(gw, sizeof gw, "%08X", inet_addr(gateway));
  return std::string(name) + "\t00000000\t" + gw + "\t" + flags + "\t0\t0\t0\t00000000\t0\t0\t0\n";
}

const char kLinks[] =
    "PATH=$PATH:/usr/sbin:/sbin; ip link set lo up && ip link add eth2 type veth peer name p &&"
    " ip link add eth0 type veth peer name eth1 && ip link set eth0 up && ip link set eth1 up &&"
    " ip addr add 192.168.1.10/24 dev eth0 && ip addr add 192.168.2.10/24 dev eth1 &&"
    " ip route add default via 192.168.1.1 dev eth0 && ip route add default dev eth1 metric 7 &&"
    " ip route add 10.200.0.0/16 dev lo";

uint16_t local_port(int skt) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  return getsockname(skt, reinterpret_cast<sockaddr*>(&sin), &len), ntohs(sin.sin_port);
}

TEST(Routes, GatewaysSummariesSocketsAndNameServersFromTheKernelTheSavedLinesAndResolvConf) {
  TempDir dir;
  FakeI2c chip;
  ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
  for (int i = 0; i < 3; ++i) set_eeIpMode(i, 0);  // DHCP: the kernel's values
  const std::string route_file = dir.file("tmp/route");
  const ChildRun child = in_child([&] {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    std::string out;
    unsigned char a[4];
    char text[kNetSummaryMax];
    const auto gateways = [&](const char* what) {
      out += what;
      for (int i = 0; i < 2; ++i) out += " " + (get_if_gateway(i, a), dotted(a));
      out += "\n";
    };
    // No eth0 or eth1 here yet: the saved lines are searched as they are.
    write_file(route_file, route("eth0", "10.0.0.1", "0003") + route("eth0:1", "10.0.0.2", "0003") +
                               route("eth0", "0.0.0.0", "0001") +
                               route("eth1", "10.9.0.1", "0003"));
    gateways("saved");
    if (std::system(kLinks)) out += "ip FAILED\n";
    gateways("kernel");
    const int s = socket(AF_INET, SOCK_STREAM, 0), server = tcp_server_make_skt(0, 0, 1);
    out += std::to_string(tcp_server_accept(server, nullptr, nullptr, 1)) + "\n";
    const int client = tcp_client_make_skt(1, get_eth_addr(s, 0), local_port(server));
    uint32_t peer = 0;
    uint16_t peer_port = 0;
    const int conn = tcp_server_accept(server, &peer, &peer_port, 0);
    for (uint32_t x : {get_eth_addr(s, 0), get_eth_addr(s, 1), get_eth_addr(s, 2),
                       get_eth_addr(s, 4) | get_eth_addr(s, -1), socket_local_addr(server), peer})
      out += std::string(inet_ntoa(in_addr{x})) + " ";
    timeval limit{};
    socklen_t size = sizeof limit;
    getsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &limit, &size);
    for (int i : {eth_is_up(s, 0), eth_is_up(s, 2), eth_is_up(s, 3), eth_is_up(s, 7),
                  socket_eth_index(conn), socket_eth_index(client),
                  ntohs(peer_port) - local_port(client), static_cast<int>(limit.tv_sec),
                  chk_send(client, "ab", -1) + chk_send(-1, "ab", 2) + chk_recv(-1, text, 1)})
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
    out += std::to_string(tcp_server_accept(conn, nullptr, nullptr, 1)) + "\n";
    out += (get_net_summary(text, 0), std::string(text)) + "\n";
    const unsigned char ip1[4] = {192, 168, 1, 10}, mask[4] = {255, 255, 255, 0},
                        gw1[4] = {192, 168, 1, 1};
    set_eeIpMode(1, 2);
    set_eeIpAddress(1, ip1);
    set_eeNetmask(1, mask);
    set_eeGateway(1, gw1);
    out += (get_net_summary(text, 1), std::string(text)) + "\n";
    out += "live " + (get_if_addr_live(1, a), dotted(a));
    out += " " + (get_if_netmask_live(1, a), dotted(a)) + "\n";
    // The kernel forgets eth0's routes with its address; the route file does not.
    std::system("PATH=$PATH:/usr/sbin:/sbin ip addr flush dev eth0");
    return out + (get_net_summary(text, 0), std::string(text)) + "\n";
  });
  if (child.status != 77) {
    // Words printed first; eth0..eth2's addresses, none for eth4; server on eth0, client on
    // eth1; eth0 up, eth2 down, eth3 missing, eth7 not asked; the accepted side on eth0.
    EXPECT_EQ(
        child.out,
        "tcp server accept ok\naccept: get a exception\n"
        "saved 10.0.0.2 10.9.0.1\n"
        "kernel 192.168.1.1 0.0.0.0\n-1\n"
        "192.168.1.10 192.168.2.10 0.0.0.0 0.0.0.0 192.168.1.10 192.168.2.10 1 0 0 1 1 -1 0 " +
            std::to_string(kControlSendTimeoutSec) +
            " -3 \n-1 0 tcp server bind error: " + std::strerror(EADDRINUSE) +
            "\n1 -2\n"
            "DHCP on, IP 192.168.1.10, Netmask 255.255.255.0, Gateway 192.168.1.1\n"
            "DHCP off, IP 192.168.1.10, Netmask 255.255.255.0, Gateway 192.168.1.1\n"
            "live 192.168.2.10 255.255.255.0\n"
            "DHCP on, IP 0.0.0.0, Netmask 0.0.0.0, Gateway 192.168.1.1\n");
  }
  const std::string ten = "#\n#\n#\n#\n#\n#\n#\n#\n#\n#\n", one = "nameserver 1.1.1.1\n";
  const char* none = "170.170.170.170";  // out untouched
  // resolv.conf, n, the server (parts not given stay)
  // clang-format off
  const std::tuple<std::string, int, const char*> cases[] = {
      {"search lan\nnameserver 192.168.1.1\n\nnameserver 10.0.0.2\n", 1, "10.0.0.2"},
      {one + "nameserver 7.8\n", 1, "7.8.170.170"}, {one, 5, none}, {one, -1, none},
      {ten + "nameserver 1.2.3.4\n", 0, "1.2.3.4"}, {ten + "#\nnameserver 1.2.3.4\n", 0, none}};
  // clang-format on
  // The link to the PC's own resolv.conf is replaced, never written through.
  std::filesystem::remove(dir.file("etc/resolv.conf"));
  unsigned char out[4];
  for (const auto& [resolv, n, server] : cases) {
    write_file(dir.file("etc/resolv.conf"), resolv);
    std::fill_n(out, 4, 0xAA);
    get_name_server(n, out);
    EXPECT_EQ(dotted(out), server) << resolv << n;
  }
  // Static mode of interface 0: the stored list, whatever resolv.conf holds.
  const unsigned char stored[4] = {192, 168, 9, 9};
  set_eeNameServer(1, stored);
  set_eeIpMode(0, 1);
  get_name_server(1, out);
  EXPECT_EQ(dotted(out), "192.168.9.9");
  set_root(nullptr);
  if (child.status == 77) GTEST_SKIP() << "no network namespace";
}

}  // namespace
