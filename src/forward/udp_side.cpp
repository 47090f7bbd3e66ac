// UDP of a port: one socket on com_udp_local_port; serial data goes to every address of each
// enabled entry's range on the entry's port (entry 1 always enabled, an entry beginning at
// 0.0.0.0 or with port 0 skipped, at most 256 addresses an entry); datagrams from anyone go
// to the line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "forward/destination_fence.h"
#include "forward/forward_log.h"
#include "forward/net_side_parts.h"

namespace {

constexpr uint32_t kAddressesPerEntry = 256;
constexpr std::size_t kDatagramMax = 8192;

uint32_t host_order(const unsigned char* ip) { return ntohl(address_of(ip)); }

// The entry's addresses that the fence lets through, appended to the targets.
void add_entry(NetSide* net, const UdpEntry& e, int number) {
  const uint32_t first = host_order(e.first);
  uint32_t last = host_order(e.last);
  if (!e.enable || first == 0 || e.port <= 0 || e.port > 65535) return;
  if (last < first) last = first;  // a range given backwards or without an end: one address
  if (last - first >= kAddressesPerEntry) {
    forward_log(LOG_WARNING, "COM%d: UDP entry %d spans more than %u addresses: the first %u",
                net->port, number, kAddressesPerEntry, kAddressesPerEntry);
    last = first + kAddressesPerEntry - 1;
  }
  int refused = 0;
  for (uint32_t a = first;; ++a) {
    const in_addr_t address = htonl(a);
    if (!destination_allowed(address)) {
      ++refused;
    } else if (net->target_count < kMaxUdpTargets) {
      sockaddr_in& t = net->targets[net->target_count++];
      t = sockaddr_in{};
      t.sin_family = AF_INET;
      t.sin_port = htons(static_cast<uint16_t>(e.port));
      t.sin_addr.s_addr = address;
    }
    if (a == last) break;
  }
  if (refused > 0)
    forward_log(LOG_WARNING,
                "COM%d: UDP entry %d: %d addresses refused: outside loopback and this network "
                "namespace (the simulator's --network allows them)",
                net->port, number, refused);
}

}  // namespace

void udp_start(NetSide* net) {
  const LinkSettings& s = net->settings;
  net->targets.reset(new (std::nothrow) sockaddr_in[kMaxUdpTargets]);
  net->target_count = 0;
  if (!net->targets) return;
  for (int i = 0; i < kUdpEntries; ++i) add_entry(net, s.udp[i], i + 1);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const int local_port = s.udp_local_port;
  if (local_port > 0 && local_port <= 65535) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(local_port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      forward_log(LOG_ERR, "COM%d: cannot bind UDP port %d: %s", net->port, local_port,
                  std::strerror(errno));
      ::close(fd);
      return;
    }
  }
  net->udp_fd = fd;
  forward_log(LOG_INFO, "COM%d: UDP on port %d, %d destinations", net->port, local_port,
              net->target_count);
}

void udp_stop(NetSide* net) {
  close_fd(&net->udp_fd);
  net->targets.reset();
  net->target_count = 0;
}

void udp_add_polls(NetSide* net, PollSet* set, bool line_has_room) {
  if (line_has_room)
    set->add(net->udp_fd, POLLIN, {PollRole::kUdp, static_cast<unsigned char>(net->port - 1), 0});
}

void udp_handle(NetSide* net, const pollfd& r, ByteQueue* to_line) {
  if (!(r.revents & POLLIN)) return;
  unsigned char buffer[kDatagramMax];
  const std::size_t want = to_line->room() < sizeof buffer ? to_line->room() : sizeof buffer;
  const ssize_t n = ::recv(net->udp_fd, buffer, want, MSG_DONTWAIT);
  if (n > 0) to_line->push(buffer, static_cast<std::size_t>(n));
}

void udp_send(NetSide* net, const unsigned char* bytes, std::size_t count) {
  if (net->udp_fd < 0) return;
  // A datagram the kernel cannot take now is lost, as on any UDP link.
  for (int i = 0; i < net->target_count; ++i)
    ::sendto(net->udp_fd, bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&net->targets[i]), sizeof net->targets[i]);
}
