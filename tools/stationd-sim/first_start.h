// The simulator's first start: a root without an EEPROM image becomes a unit fresh from
// manufacturing, then a configured one (factory initialisation, then the default export).
// Owns the marker that makes an interrupted first start run again.
#pragma once

// Under the current root: when the EEPROM image is missing, or a marker says that an
// earlier first start did not finish, writes the manufacturing image and runs
// factory_initialize and load_default_settings, so user "admin" logs in with the default
// password. Nothing happens when the image is there. 0, 1 when the unit was made fresh,
// -1 when the image cannot be written (one line on stderr).
int make_fresh_unit_if_missing();
