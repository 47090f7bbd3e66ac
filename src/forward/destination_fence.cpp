#include "forward/destination_fence.h"

#include <ifaddrs.h>
#include <sys/socket.h>

#include "platform/root.h"

namespace {

bool g_fence_open = false;

bool is_local_interface_address(in_addr_t address) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next)
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET)
      found = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == address;
  ::freeifaddrs(list);
  return found;
}

}  // namespace

void open_destination_fence() { g_fence_open = true; }

bool destination_allowed(in_addr_t address) {
  if (g_fence_open || !has_root()) return true;
  // Asked anew each time: the namespace's interfaces may come and go while we run.
  if ((ntohl(address) >> 24) == 127) return true;
  return is_local_interface_address(address);
}
