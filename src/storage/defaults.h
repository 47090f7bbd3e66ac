// The two routines that put the configuration back to known values: factory initialisation
// of the EEPROM store and station.ini, and the export of the EEPROM's factory settings to
// station.ini as the default configuration. Nothing in the daemon calls them; stationtool does.
#pragma once

// The NTP server that load_default_settings writes to station.ini.
inline constexpr char kDefaultNtpServer[] = "pool.ntp.org";

// The EEPROM bytes each routine writes, for a progress line: every field it sets has a fixed
// width, whatever the EEPROM held before.
inline constexpr unsigned kFactoryInitializeBytes = 646;
inline constexpr unsigned kLoadDefaultSettingsBytes = 38;

// Writes the model name, login, live network fields and device-wide EEPROM fields from
// their factory values, the SNMP, serial-port and NTP keys of station.ini, then sets the
// clock to 1 January 2000 and stores it in the real-time clock. Runs every step whatever
// the previous one gave; the result is the last shell command's status, which no caller uses.
int factory_initialize();

// Copies the factory user name, interface 0's factory network settings and name servers 0
// and 1 into the live EEPROM fields, writes them with the default password to ADMIN and
// NETWORK of station.ini, then every key that has an accessor with its default value.
// Prints the ixon/ixoff check lines of each port on standard output.
void load_default_settings();
