// The fence around a forwarder that plays the device on a PC: with a root, it connects and
// sends only to loopback (127.0.0.0/8) or to an address of an interface of the network
// namespace it runs in, unless a person opened the fence with the simulator's --network.
// On the device (no root) every destination is the user's to choose.
#pragma once

#include <netinet/in.h>

// Opens the fence for the whole process (--network).
void open_destination_fence();

// True when the forwarder may connect or send to the address (network byte order).
bool destination_allowed(in_addr_t address);
