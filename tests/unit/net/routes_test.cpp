#include "net/routes.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
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
std::string kernel_hex(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  const uint32_t value = std::endian::native == std::endian::big ? (a << 24 | b << 16 | c << 8 | d)
                                                                 : (d << 24 | c << 16 | b << 8 | a);
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

class Routes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
    set_eeIpMode(0, 0);  // DHCP: the kernel's values
    set_eeIpMode(1, 0);
    set_eeIpMode(2, 0);
  }
  void TearDown() override { set_root(nullptr); }
  std::string at(const std::string& path) const { return dir.path() + path; }
  void resolv(const std::string& text) const {
    // The prepared root links etc/resolv.conf to the PC's own: replace the link, never
    // write through it.
    std::filesystem::remove(at("/etc/resolv.conf"));
    write_file(at("/etc/resolv.conf"), text);
  }
  std::string name_server(int n) const {
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    get_name_server(n, out);
    return dotted(out);
  }

  // Runs body in a child inside a network namespace of its own; its report, or "" when no
  // namespace could be made.
  static std::string in_own_network(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    const pid_t pid = fork();
    if (pid == 0) {
      if (unshare(CLONE_NEWNET) != 0) _exit(77);
      const std::string report = body();
      _exit(write(fds[1], report.data(), report.size()) == ssize_t(report.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? report : "";
  }

  TempDir dir;
  FakeI2c chip;
};

// Sets up the namespace's links and routes; a failed step shows in the report.
std::string ip(const std::string& args) {
  const std::string command = "PATH=$PATH:/usr/sbin:/sbin ip " + args + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? "" : "FAILED ip " + args + "\n";
}

TEST_F(Routes, GatewaysAndSummariesFromTheKernelsRouteTable) {
  const std::string report = in_own_network([this] {
    std::string out;
    unsigned char a[4];
    auto gateway = [&](int i) {
      get_if_gateway(i, a);
      return dotted(a);
    };
    auto summary = [](int i) {
      char text[kNetSummaryMax];
      get_net_summary(text, i);
      return std::string(text);
    };

    // No eth0 or eth1 here yet: the saved lines are searched as they are.
    const auto route = [](const char* name, const std::string& dest, const std::string& gw,
                          const char* flags, const std::string& mask) {
      return std::string(name) + "\t" + dest + "\t" + gw + "\t" + flags + "\t0\t0\t0\t" + mask +
             "\t0\t0\t0\n";
    };
    const std::string any = "00000000";
    write_file(at("/tmp/route"),
               route("eth0", any, kernel_hex(10, 0, 0, 1), "0003", any) +
                   route("eth0", kernel_hex(10, 0, 0, 0), any, "0001", kernel_hex(255, 0, 0, 0)) +
                   route("eth0:1", any, kernel_hex(10, 0, 0, 2), "0003", any) +
                   route("eth0", any, any, "0001", any) +
                   route("eth1", any, kernel_hex(10, 9, 0, 1), "0003", any));
    out += "saved " + gateway(0) + " " + gateway(1) + "\n";

    for (const char* step :
         {"link set lo up", "link add eth0 type veth peer name eth1",
          "addr add 192.168.1.10/24 dev eth0", "addr add 192.168.2.10/24 dev eth1",
          "link set eth0 up", "link set eth1 up", "route add default via 192.168.1.1 dev eth0",
          "route add default dev eth1 metric 7", "route add 10.200.0.0/16 dev lo"})
      out += ip(step);
    out += "kernel " + gateway(0) + " " + gateway(1) + "\n";
    std::istringstream file(read_file(at("/tmp/route")));
    out += "route file";
    for (std::string line; std::getline(file, line);) out += " " + line.substr(0, line.find('\t'));
    out += "\n" + summary(0) + "\n";
    get_if_addr(2, a);
    out += "eth2 " + dotted(a) + "\n";

    const unsigned char ip1[4] = {192, 168, 1, 10}, mask[4] = {255, 255, 255, 0},
                        gw1[4] = {192, 168, 1, 1};
    set_eeIpMode(1, 2);
    set_eeIpAddress(1, ip1);
    set_eeNetmask(1, mask);
    set_eeGateway(1, gw1);
    out += summary(1) + "\n";
    get_if_addr_live(1, a);
    out += "live " + dotted(a);
    get_if_netmask_live(1, a);
    out += " " + dotted(a) + "\n";

    out += ip("addr flush dev eth0");  // the kernel forgets eth0's routes; the file does not
    out += summary(0) + "\n";
    return out;
  });
  if (report.empty()) GTEST_SKIP() << "no network namespace could be made";
  EXPECT_EQ(report,
            "saved 10.0.0.2 10.9.0.1\n"
            "kernel 192.168.1.1 0.0.0.0\n"
            "route file eth0 eth0 eth1 eth1\n"
            "DHCP on, IP 192.168.1.10, Netmask 255.255.255.0, Gateway 192.168.1.1\n"
            "eth2 0.0.0.0\n"
            "DHCP off, IP 192.168.1.10, Netmask 255.255.255.0, Gateway 192.168.1.1\n"
            "live 192.168.2.10 255.255.255.0\n"
            "DHCP on, IP 0.0.0.0, Netmask 0.0.0.0, Gateway 192.168.1.1\n");
}

TEST_F(Routes, NameServersFromResolvConf) {
  resolv("search lan\nnameserver 192.168.1.1\n\nnameserver 10.0.0.2\nnameserver 7.8\n");
  EXPECT_EQ(name_server(0), "192.168.1.1");
  EXPECT_EQ(name_server(1), "10.0.0.2");     // the blank line counts for nothing
  EXPECT_EQ(name_server(2), "7.8.170.170");  // octets without a part keep their value
  for (int n : {3, 5, -1}) EXPECT_EQ(name_server(n), "170.170.170.170") << n;

  const std::string ten_lines = "#\n#\n#\n#\n#\n#\n#\n#\n#\n#\n";
  resolv(ten_lines + "nameserver 1.2.3.4\n");
  EXPECT_EQ(name_server(0), "1.2.3.4");  // the 11th line is still read
  resolv(ten_lines + "#\nnameserver 1.2.3.4\n");
  EXPECT_EQ(name_server(0), "170.170.170.170");  // the 12th never is

  std::filesystem::remove(at("/etc/resolv.conf"));
  EXPECT_EQ(name_server(0), "170.170.170.170");

  // Static mode of interface 0: the stored list, whatever resolv.conf holds.
  resolv(
      "nameserver 1.1.1.1\nnameserver 2.2.2.2\nnameserver 3.3.3.3\nnameserver 4.4.4.4\n"
      "nameserver 5.5.5.5\n");
  const unsigned char stored[4] = {192, 168, 9, 9};
  set_eeNameServer(1, stored);
  set_eeIpMode(0, 1);
  EXPECT_EQ(name_server(1), "192.168.9.9");
  EXPECT_EQ(name_server(4), "170.170.170.170");  // no stored entry 4
}

}  // namespace
