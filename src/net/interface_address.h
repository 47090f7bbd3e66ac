// Address and netmask of interface "eth%d": the stored EEPROM values when the interface is in
// static mode (eeIpMode not 0), the kernel's when DHCP is on. Only reads; each kernel query
// opens and closes its own socket.
#pragma once

// Each fills out[4] (first octet first; 0.0.0.0 when the kernel has no answer) and returns the
// result of the last step: the EEPROM read in static mode, else close() of the query socket.
int get_if_addr(int index, unsigned char* out);
int get_if_addr_live(int index, unsigned char* out);
int get_if_netmask(int index, unsigned char* out);
int get_if_netmask_live(int index, unsigned char* out);
