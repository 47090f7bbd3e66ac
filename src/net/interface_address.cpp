#include "net/interface_address.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "storage/eeprom_map.h"

namespace {

// Asks the kernel for one IPv4 value of "eth%d" (SIOCGIFADDR or SIOCGIFNETMASK); out stays
// 0.0.0.0 when it has none. The result is close()'s.
int query_kernel(int index, unsigned long request, unsigned char* out) {
  std::memset(out, 0, 4);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request_record;
  std::memset(&request_record, 0, sizeof request_record);
  std::snprintf(request_record.ifr_name, sizeof request_record.ifr_name, "eth%d", index);
  request_record.ifr_addr.sa_family = AF_INET;
  if (fd >= 0 && ioctl(fd, request, &request_record) == 0) {
    // The answer is a sockaddr_in; its address bytes are already first octet first.
    sockaddr_in answer;
    std::memcpy(&answer, &request_record.ifr_addr, sizeof answer);
    std::memcpy(out, &answer.sin_addr, 4);
  }
  return close(fd);
}

}  // namespace

int get_if_addr_live(int index, unsigned char* out) {
  return query_kernel(index, SIOCGIFADDR, out);
}

int get_if_netmask_live(int index, unsigned char* out) {
  return query_kernel(index, SIOCGIFNETMASK, out);
}

int get_if_addr(int index, unsigned char* out) {
  std::memset(out, 0, 4);
  if (get_eeIpMode(index) != 0) return get_eeIpAddress(index, out);
  return get_if_addr_live(index, out);
}

int get_if_netmask(int index, unsigned char* out) {
  std::memset(out, 0, 4);
  if (get_eeIpMode(index) != 0) return get_eeNetmask(index, out);
  return get_if_netmask_live(index, out);
}
