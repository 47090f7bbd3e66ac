// stationtool commands on the two stores: the factory and default routines, the EEPROM's
// maintenance transfers and single keys of station.ini.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/root.h"
#include "storage/defaults.h"
#include "storage/eeprom_device.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"
#include "tool_command.h"

namespace {

// The routines that take nothing and tell nothing (their result is not the tool's status).
template <auto Routine>
int run_routine(char**, const uint32_t*) {
  Routine();
  return kToolOk;
}

int run_eeprom_dump(char**, const uint32_t*) {
  std::vector<unsigned char> image(kEepromSize);
  // A block may not include the last byte, so the dump ends with one byte read.
  for (unsigned offset = 0; offset < kEepromSize - 1; offset += kEepromBlockReadMax) {
    const unsigned length = std::min(kEepromSize - 1 - offset, kEepromBlockReadMax);
    if (i2c_read_block(offset, image.data() + offset, length) != 0)
      return tool_failed("EEPROM read failed at offset %u", offset);
  }
  i2c_read_byte(kEepromSize - 1, &image[kEepromSize - 1]);
  for (unsigned offset = 0; offset < kEepromSize; offset += 16) {
    std::printf("%04x:", offset);
    for (unsigned k = 0; k < 16; ++k) std::printf(" %02x", image[offset + k]);
    std::putchar('\n');
  }
  return kToolOk;
}

int run_eeprom_read_byte(char**, const uint32_t* n) {
  unsigned char byte = 0;
  if (i2c_read_byte(n[0], &byte) != 0) return tool_failed("EEPROM read failed at offset %u", n[0]);
  std::printf("0x%02x\n", byte);
  return kToolOk;
}

int run_eeprom_write_byte(char**, const uint32_t* n) {
  if (i2c_write_byte(n[0], static_cast<unsigned char>(n[1])) != 0)
    return tool_failed("EEPROM write failed at offset %u", n[0]);
  return kToolOk;
}

bool has_line_end(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// Names the INI library could write but never find again are refused up front: a section
// with ']', a key with '=' or one that would read as a comment or a section header, and
// line ends anywhere (they would split the line).
int check_section_key(char** argv) {
  const char* section = argv[0];
  const char* key = argv[1];
  if (!section[0] || std::strchr(section, ']') || has_line_end(section))
    return bad_args("section name %s cannot be stored in station.ini", section);
  if (!key[0] || key[0] == ';' || key[0] == '[' || std::strchr(key, '=') || has_line_end(key))
    return bad_args("key name %s cannot be stored in station.ini", key);
  return 0;
}

int check_section_key_value(char** argv) {
  if (int status = check_section_key(argv)) return status;
  if (has_line_end(argv[2])) return bad_args("a value may not hold a line end");
  return 0;
}

int run_ini_get(char** argv, const uint32_t*) {
  std::vector<char> value(kIniBufferSize);
  RootedPath path = rooted(kStationIniPath);
  if (read_profile_string(argv[0], argv[1], value.data(), kIniBufferSize, nullptr, path.c_str()) !=
      1)
    return kToolFailed;  // like a lookup tool: no output, status 1
  std::printf("%s\n", value.data());
  return kToolOk;
}

int run_ini_set(char** argv, const uint32_t*) {
  RootedPath path = rooted(kStationIniPath);
  if (write_profile_string(argv[0], argv[1], argv[2], path.c_str()) != 1)
    return tool_failed("%s: could not write [%s] %s", path.c_str(), argv[0], argv[1]);
  return kToolOk;
}

constexpr NumberArgument kOffset = {0, kEepromSize - 1, "offset %s is not a number from 0 to 8191"};

// clang-format off
const ToolCommand kStorageCommands[] = {
    {"factory-initialize", 0, 0, "",
     "prepare a unit from the factory: EEPROM identity and login, station.ini, clock",
     true, {}, nullptr, run_routine<factory_initialize>},
    {"load-default-settings", 0, 0, "",
     "restore the default configuration from the EEPROM's factory settings",
     true, {}, nullptr, run_routine<load_default_settings>},
    {"eeprom-dump", 0, 0, "", "print the 8192 EEPROM bytes, 16 per line with offsets",
     true, {}, nullptr, run_eeprom_dump},
    {"eeprom-clear", 0, 0, "", "set every EEPROM byte to 0xff",
     true, {}, nullptr, run_routine<i2c_clear>},
    {"eeprom-read-byte", 1, 1, "OFF", "print the EEPROM byte at offset OFF (0..8191)",
     true, {kOffset}, nullptr, run_eeprom_read_byte},
    {"eeprom-write-byte", 2, 2, "OFF VAL", "store byte VAL (0..255) at EEPROM offset OFF",
     true, {kOffset, {1, 255, "byte value %s is not a number from 0 to 255"}}, nullptr,
     run_eeprom_write_byte},
    {"ini-get", 2, 2, "SECTION KEY", "print a station.ini value (status 1 when missing)",
     false, {}, check_section_key, run_ini_get},
    {"ini-set", 3, 3, "SECTION KEY VALUE", "write a station.ini value",
     false, {}, check_section_key_value, run_ini_set},
};
// clang-format on

ToolCommandGroup storage_commands(kStorageCommands);

}  // namespace
