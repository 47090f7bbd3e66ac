#include "net/routes.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "net/interface_address.h"
#include "platform/root.h"
#include "platform/shell.h"
#include "storage/eeprom_map.h"

namespace {

constexpr const char kRouteFile[] = "/tmp/route";
constexpr const char kRouteTemp[] = "/tmp/route.tmp";
constexpr const char kKernelRoutes[] = "/proc/net/route";  // the kernel's: never rooted
constexpr const char kResolvConf[] = "/etc/resolv.conf";
constexpr int kLineRead = 1023;      // fgets size: at most 1022 characters per read
constexpr int kResolvLinesMax = 11;  // a name server further down is never found

// The kernel prints each address column as its 32-bit value (%08X of the address as it sits
// in memory), so the digits follow the machine's byte order: first octet first on the
// big-endian device, last octet first on a little-endian PC. Reading the column as that
// number and laying it out in the machine's order gives the octets on both.
void kernel_hex_to_octets(const char* column, unsigned char* out) {
  const std::size_t length = std::strlen(column);
  unsigned char printed[4];
  for (std::size_t j = 0; j < 4; ++j) {
    char pair[3] = {};
    if (length > 2 * j) {  // a short column reads as 0 beyond its end
      pair[0] = column[2 * j];
      pair[1] = column[2 * j + 1];
    }
    printed[j] = static_cast<unsigned char>(std::strtol(pair, nullptr, 16));
  }
  const uint32_t value = get_be32(printed);
  if constexpr (std::endian::native == std::endian::big)
    put_be32(value, out);
  else
    put_le32(value, out);
}

// Lowest 8 bits of the part's leading decimal digits; no digits give 0.
unsigned char decimal_octet(const char* part) {
  unsigned value = 0;
  for (; *part >= '0' && *part <= '9'; ++part) value = (value * 10 + (*part - '0')) & 0xFF;
  return static_cast<unsigned char>(value);
}

// Dotted decimal into out, first part first, at most 4 parts; empty parts are skipped as
// strtok skips them, and octets without a part keep their value.
void dotted_to_octets(const char* word, unsigned char* out) {
  char copy[16];
  std::snprintf(copy, sizeof copy, "%s", word);
  char* rest = nullptr;
  int j = 0;
  for (char* part = strtok_r(copy, ".", &rest); part && j < 4; part = strtok_r(nullptr, ".", &rest))
    out[j++] = decimal_octet(part);
}

}  // namespace

void copy_route_lines(std::FILE* from, std::FILE* to, const char* ifname) {
  char line[kLineRead + 1];
  while (std::fgets(line, kLineRead, from)) {
    char name[9] = "";
    if (std::sscanf(line, "%8s", name) != 1) continue;
    if (std::strncmp(name, ifname, 4) != 0) continue;
    if (std::fputs(line, to) == EOF) return;
  }
}

void read_gateway_from(std::FILE* routes, const char* ifname, unsigned char* out) {
  char line[kLineRead + 1];
  while (std::fgets(line, kLineRead, routes)) {
    char name[9] = "", destination[17] = "", gateway[17] = "";
    if (std::sscanf(line, "%8s %16s %16s", name, destination, gateway) != 3) continue;
    if (std::strcmp(destination, "00000000") != 0) continue;
    if (std::strcmp(gateway, "00000000") == 0) continue;  // a route straight out of the link
    if (std::strncmp(name, ifname, 4) != 0) continue;
    kernel_hex_to_octets(gateway, out);  // the last default route wins
  }
}

int read_name_server_from(std::FILE* resolv, int n, unsigned char* out) {
  char line[kLineRead + 1];
  int seen = 0;
  for (int lines = 0; lines < kResolvLinesMax && std::fgets(line, kLineRead, resolv); ++lines) {
    char keyword[12] = "", value[16] = "";
    if (std::sscanf(line, "%11s %15s", keyword, value) < 1) continue;
    if (std::strcmp(keyword, "nameserver") != 0) continue;
    if (seen++ == n) {
      dotted_to_octets(value, out);
      return 1;
    }
  }
  return 0;
}

void refresh_route_file() {
  for (int i = 0; i < 2; ++i) {
    unsigned char address[4], netmask[4];
    get_if_addr(i, address);
    get_if_netmask(i, netmask);
    // No address or no netmask: keep what the file knows of this interface.
    if ((address[0] & netmask[0]) == 0) continue;
    char self[8];
    std::snprintf(self, sizeof self, "eth%d", i);
    const char* other = i == 0 ? "eth1" : "eth0";

    const RootedPath temp_path = rooted(kRouteTemp);
    const RootedPath route_path = rooted(kRouteFile);
    std::FILE* temp = std::fopen(temp_path.c_str(), "w");
    if (!temp) continue;
    if (std::FILE* saved = std::fopen(route_path.c_str(), "a+")) {
      std::rewind(saved);
      copy_route_lines(saved, temp, other);
      std::fclose(saved);
    }
    if (std::FILE* kernel = std::fopen(kKernelRoutes, "r")) {
      copy_route_lines(kernel, temp, self);
      std::fclose(kernel);
    }
    std::fclose(temp);
    char command[3 * kRootedPathMax + 32];
    std::snprintf(command, sizeof command, "cp -f %s %s && rm -f %s", temp_path.c_str(),
                  route_path.c_str(), temp_path.c_str());
    run_shell(command);
  }
}

int get_if_gateway(int index, unsigned char* out) {
  refresh_route_file();
  std::memset(out, 0, 4);
  char name[16];
  std::snprintf(name, sizeof name, "eth%d", index);
  if (get_eeIpMode(index) != 0) return get_eeGateway(index, out);
  std::FILE* routes = std::fopen(rooted(kRouteFile).c_str(), "a+");
  if (!routes) return -1;
  std::rewind(routes);
  read_gateway_from(routes, name, out);
  return std::fclose(routes);
}

void get_name_server(int n, unsigned char* out) {
  if (n < 0 || n > 4) return;
  if (get_eeIpMode(0) != 0) {
    get_eeNameServer(n, out);  // index 4 has no stored entry: the accessor refuses it
    return;
  }
  std::FILE* resolv = std::fopen(rooted(kResolvConf).c_str(), "r");
  if (!resolv) return;
  read_name_server_from(resolv, n, out);
  std::fclose(resolv);
}

int get_net_summary(char* text, int index) {
  unsigned char address[4] = {}, netmask[4] = {}, gateway[4] = {};
  std::memset(text, 0, 4);
  const bool dhcp = get_eeIpMode(index) == 0;
  get_if_addr(index, address);
  get_if_gateway(index, gateway);
  get_if_netmask(index, netmask);
  std::snprintf(text, kNetSummaryMax, "%sIP %d.%d.%d.%d, Netmask %d.%d.%d.%d, Gateway %d.%d.%d.%d",
                dhcp ? "DHCP on, " : "DHCP off, ", address[0], address[1], address[2], address[3],
                netmask[0], netmask[1], netmask[2], netmask[3], gateway[0], gateway[1], gateway[2],
                gateway[3]);
  return 0;
}
