// Gateways, summaries and name servers: the kernel's route table in a network namespace of
// the test's own (the PC's routes are never asked), the route file that outlives an address,
// and resolv.conf.
#include "net/routes.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "net/interface_address.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "storage/eeprom_map.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

std::string dotted(const unsigned char* a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

// An address column as this machine's kernel prints it: the 32-bit value in memory order.
std::string kernel_hex(unsigned a, unsigned b, unsigned c, unsigned d) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X",
                std::endian::native == std::endian::big ? a << 24 | b << 16 | c << 8 | d
                                                        : d << 24 | c << 16 | b << 8 | a);
  return text;
}

class Routes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(prepare_device_root(dir_.path().c_str()), 0);
    for (int i = 0; i < 3; ++i) set_eeIpMode(i, 0);  // DHCP: the kernel's values
  }
  void TearDown() override { set_root(nullptr); }
  std::string at(const std::string& path) const { return dir_.path() + path; }
  TempDir dir_;
  FakeI2c chip_;
};

TEST_F(Routes, GatewaysAndSummariesFromTheKernelsRouteTableAndTheSavedLines) {
  const ChildRun child = in_child([&] {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    std::string out;
    unsigned char a[4];
    const auto gateways = [&](const char* what) {
      out += what;
      for (int i = 0; i < 2; ++i) out += " " + (get_if_gateway(i, a), dotted(a));
      out += "\n";
    };
    const auto summary = [&](int i) {
      char text[kNetSummaryMax];
      get_net_summary(text, i);
      out += std::string(text) + "\n";
    };
    const auto route = [](const char* name, const std::string& gw, const char* flags) {
      return std::string(name) + "\t00000000\t" + gw + "\t" + flags +
             "\t0\t0\t0\t00000000\t0\t0\t0\n";
    };
    // No eth0 or eth1 here yet: the saved lines are searched as they are.
    write_file(at("/tmp/route"), route("eth0", kernel_hex(10, 0, 0, 1), "0003") +
                                     route("eth0:1", kernel_hex(10, 0, 0, 2), "0003") +
                                     route("eth0", "00000000", "0001") +
                                     route("eth1", kernel_hex(10, 9, 0, 1), "0003"));
    gateways("saved");
    for (const char* step :
         {"link set lo up", "link add eth0 type veth peer name eth1",
          "addr add 192.168.1.10/24 dev eth0", "addr add 192.168.2.10/24 dev eth1",
          "link set eth0 up", "link set eth1 up", "route add default via 192.168.1.1 dev eth0",
          "route add default dev eth1 metric 7", "route add 10.200.0.0/16 dev lo"})
      if (std::system(
              ("PATH=$PATH:/usr/sbin:/sbin ip " + std::string(step) + " >/dev/null 2>&1").c_str()))
        out += "FAILED ip " + std::string(step) + "\n";
    gateways("kernel");
    std::istringstream file(read_file(at("/tmp/route")));
    out += "route file";
    for (std::string line; std::getline(file, line);) out += " " + line.substr(0, line.find('\t'));
    out += "\n";
    summary(0);
    const unsigned char ip1[4] = {192, 168, 1, 10}, mask[4] = {255, 255, 255, 0},
                        gw1[4] = {192, 168, 1, 1};
    set_eeIpMode(1, 2);
    set_eeIpAddress(1, ip1);
    set_eeNetmask(1, mask);
    set_eeGateway(1, gw1);
    summary(1);
    get_if_addr_live(1, a);
    out += "live " + dotted(a);
    get_if_netmask_live(1, a);
    out += " " + dotted(a) + "\n";
    // The kernel forgets eth0's routes with its address; the route file does not.
    std::system("PATH=$PATH:/usr/sbin:/sbin ip addr flush dev eth0");
    summary(0);
    return out;
  });
  if (child.status == 77) GTEST_SKIP() << "no network namespace";
  EXPECT_EQ(child.out,
            "saved 10.0.0.2 10.9.0.1\n"
            "kernel 192.168.1.1 0.0.0.0\n"
            "route file eth0 eth0 eth1 eth1\n"
            "DHCP on, IP 192.168.1.10, Netmask 255.255.255.0, Gateway 192.168.1.1\n"
            "DHCP off, IP 192.168.1.10, Netmask 255.255.255.0, Gateway 192.168.1.1\n"
            "live 192.168.2.10 255.255.255.0\n"
            "DHCP on, IP 0.0.0.0, Netmask 0.0.0.0, Gateway 192.168.1.1\n");
}

TEST_F(Routes, NameServersAreTheNthOfTheFirstElevenLinesOrTheStoredOnes) {
  const std::string ten = "#\n#\n#\n#\n#\n#\n#\n#\n#\n#\n";
  const struct {
    std::string resolv;
    int n;
    const char* server;  // nullptr: none, out untouched
  } cases[] = {
      {"search lan\nnameserver 192.168.1.1\n\nnameserver 10.0.0.2\nnameserver 7.8\n", 1,
       "10.0.0.2"},
      {"nameserver 1.1.1.1\nnameserver 7.8\n", 1, "7.8.170.170"},  // parts not given stay
      {"nameserver 1.1.1.1\n", 5, nullptr},
      {"nameserver 1.1.1.1\n", -1, nullptr},
      {ten + "nameserver 1.2.3.4\n", 0, "1.2.3.4"},
      {ten + "#\nnameserver 1.2.3.4\n", 0, nullptr},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(
        at("/etc/resolv.conf"));  // a link to the PC's own: never written through
    write_file(at("/etc/resolv.conf"), c.resolv);
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    get_name_server(c.n, out);
    EXPECT_EQ(dotted(out), c.server ? c.server : "170.170.170.170") << c.resolv << c.n;
  }
  // Static mode of interface 0: the stored list, whatever resolv.conf holds.
  const unsigned char stored[4] = {192, 168, 9, 9};
  set_eeNameServer(1, stored);
  set_eeIpMode(0, 1);
  unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  get_name_server(1, out);
  EXPECT_EQ(dotted(out), "192.168.9.9");
}

}  // namespace
