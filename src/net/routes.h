// Default gateways, DNS name servers and the one-line addressing summary of an interface.
// Gateways in DHCP mode come from the route file /tmp/route, a saved copy of eth0's and eth1's
// lines of /proc/net/route that keeps an interface's routes after it lost its address; name
// servers from /etc/resolv.conf. The route file (and its temporary) is the only file written.
#pragma once

#include <cstdio>

constexpr int kNetSummaryMax = 79;  // longest summary text (78) and its terminator

// Replaces the route file's lines of each addressed interface (eth0, eth1) by the kernel's.
void refresh_route_file();
// Fills out[4] with interface index's default gateway: eeGateway in static mode, else the
// last default route of the interface in the refreshed route file (0.0.0.0 when none).
// The result of the last step (the EEPROM read, or closing the route file).
int get_if_gateway(int index, unsigned char* out);
// Fills out[4] with name server n (0..4): eeNameServer in static mode of interface 0, else
// the (n+1)-th "nameserver" line among the first 11 lines of resolv.conf. Leaves out
// untouched when there is none.
void get_name_server(int n, unsigned char* out);
// "DHCP on, " or "DHCP off, " and "IP a.b.c.d, Netmask ..., Gateway ..." into text, which
// holds at least kNetSummaryMax bytes. Returns 0.
int get_net_summary(char* text, int index);

// The readers behind the lookups, over an open file; the routines above open the files.
// Copies the lines whose first word starts with the 4 characters of ifname; stops at the
// first line that cannot be written.
void copy_route_lines(std::FILE* from, std::FILE* to, const char* ifname);
// Sets out to the gateway of the last default route of ifname (out is left alone when none).
void read_gateway_from(std::FILE* routes, const char* ifname, unsigned char* out);
// Converts the (n+1)-th "nameserver" value among the first 11 lines into out; 1 when found,
// 0 with out untouched otherwise.
int read_name_server_from(std::FILE* resolv, int n, unsigned char* out);
