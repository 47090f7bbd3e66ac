// The EEPROM a unit leaves manufacturing with, before its first start: the image the
// simulator gives a new unit and the benchmarks start from. Built from the EEPROM map, so the
// image cannot drift from what the accessors read.
#pragma once

// Writes the 8192-byte manufacturing image to path (through a temporary file and a rename,
// so a reader never sees half of it): every byte 0xFF except the hardware addresses
// 02:00:00:00:00:0N of interfaces N-1, the factory user name "admin", an empty factory
// password, the factory addresses of interfaces 0 and 1 with static mode off (DHCP), the
// factory name servers and a cold-start flag. 0, or -1 with errno.
int write_manufacturing_image(const char* path);
