// The simulator's unit fresh from manufacturing: the EEPROM image a new device leaves the
// line with, and the first start that turns it into a configured unit (factory
// initialisation, then the default export). Owns the image's contents and the marker that
// makes an interrupted first start run again.
#pragma once

// Writes the 8192-byte manufacturing image to path (through a temporary file and a rename,
// so a reader never sees half of it): every byte 0xFF except the hardware addresses
// 02:00:00:00:00:0N of interfaces N-1, the factory user name "admin", an empty factory
// password, the factory addresses of interfaces 0 and 1 with static mode off (DHCP), the
// factory name servers and a cold-start flag. 0, or -1 with errno.
int write_manufacturing_image(const char* path);

// Under the current root: when the EEPROM image is missing, or a marker says that an
// earlier first start did not finish, writes the manufacturing image and runs
// factory_initialize and load_default_settings, so user "admin" logs in with the default
// password. Nothing happens when the image is there. 0, 1 when the unit was made fresh,
// -1 when the image cannot be written (one line on stderr).
int make_fresh_unit_if_missing();
