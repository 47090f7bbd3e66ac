// stationtool commands on the two stores: the factory and default routines, the EEPROM's
// maintenance transfers and single keys of station.ini.
#include <sys/stat.h>

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

// With a root the EEPROM is an image file; a missing one would only give a screen of
// "open ... error" lines (or end the byte routines), so say it once instead.
bool eeprom_image_missing() {
  if (!has_root()) return false;
  struct stat st;
  RootedPath node = rooted("/dev/i2c-0");
  if (::stat(node.c_str(), &st) == 0) return false;
  tool_failed("%s: no EEPROM image", node.c_str());
  return true;
}

int run_factory_initialize(int, char**) {
  if (eeprom_image_missing()) return kToolFailed;
  factory_initialize();
  return kToolOk;
}

int run_load_default_settings(int, char**) {
  if (eeprom_image_missing()) return kToolFailed;
  load_default_settings();
  return kToolOk;
}

int run_eeprom_dump(int, char**) {
  if (eeprom_image_missing()) return kToolFailed;
  std::vector<unsigned char> image(kEepromSize);
  // A block may not include the last byte, so the dump ends with one byte read.
  for (unsigned offset = 0; offset < kEepromSize - 1; offset += kEepromBlockReadMax) {
    unsigned length = kEepromSize - 1 - offset < kEepromBlockReadMax ? kEepromSize - 1 - offset
                                                                     : kEepromBlockReadMax;
    if (i2c_read_block(offset, image.data() + offset, length) != 0)
      return tool_failed("EEPROM read failed at offset %u", offset);
  }
  unsigned char last = 0;
  i2c_read_byte(kEepromSize - 1, &last);
  image[kEepromSize - 1] = last;
  for (unsigned offset = 0; offset < kEepromSize; offset += 16) {
    std::printf("%04x:", offset);
    for (unsigned k = 0; k < 16; ++k) std::printf(" %02x", image[offset + k]);
    std::putchar('\n');
  }
  return kToolOk;
}

int run_eeprom_clear(int, char**) {
  if (eeprom_image_missing()) return kToolFailed;
  i2c_clear();
  return kToolOk;
}

int check_offset(int, char** argv) {
  unsigned long v;
  if (!parse_number(argv[0], kEepromSize - 1, &v))
    return bad_args("offset %s is not a number from 0 to 8191", argv[0]);
  return 0;
}

int check_offset_value(int argc, char** argv) {
  if (int status = check_offset(argc, argv)) return status;
  unsigned long v;
  if (!parse_number(argv[1], 255, &v))
    return bad_args("byte value %s is not a number from 0 to 255", argv[1]);
  return 0;
}

int run_eeprom_read_byte(int, char** argv) {
  if (eeprom_image_missing()) return kToolFailed;
  unsigned long offset = 0;
  parse_number(argv[0], kEepromSize - 1, &offset);
  unsigned char byte = 0;
  if (i2c_read_byte(static_cast<unsigned>(offset), &byte) != 0)
    return tool_failed("EEPROM read failed at offset %lu", offset);
  std::printf("0x%02x\n", byte);
  return kToolOk;
}

int run_eeprom_write_byte(int, char** argv) {
  if (eeprom_image_missing()) return kToolFailed;
  unsigned long offset = 0, value = 0;
  parse_number(argv[0], kEepromSize - 1, &offset);
  parse_number(argv[1], 255, &value);
  if (i2c_write_byte(static_cast<unsigned>(offset), static_cast<unsigned char>(value)) != 0)
    return tool_failed("EEPROM write failed at offset %lu", offset);
  return kToolOk;
}

bool has_line_end(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// Names the INI library could write but never find again are refused up front: a section
// with ']', a key with '=' or one that would read as a comment or a section header, and
// line ends anywhere (they would split the line).
int check_section_key(int, char** argv) {
  const char* section = argv[0];
  const char* key = argv[1];
  if (!section[0] || std::strchr(section, ']') || has_line_end(section))
    return bad_args("section name %s cannot be stored in station.ini", section);
  if (!key[0] || key[0] == ';' || key[0] == '[' || std::strchr(key, '=') || has_line_end(key))
    return bad_args("key name %s cannot be stored in station.ini", key);
  return 0;
}

int check_section_key_value(int argc, char** argv) {
  if (int status = check_section_key(argc, argv)) return status;
  if (has_line_end(argv[2])) return bad_args("a value may not hold a line end");
  return 0;
}

int run_ini_get(int, char** argv) {
  std::vector<char> value(kIniBufferSize);
  RootedPath path = rooted(kStationIniPath);
  if (read_profile_string(argv[0], argv[1], value.data(), kIniBufferSize, nullptr, path.c_str()) !=
      1)
    return kToolFailed;  // like a lookup tool: no output, status 1
  std::printf("%s\n", value.data());
  return kToolOk;
}

int run_ini_set(int, char** argv) {
  RootedPath path = rooted(kStationIniPath);
  if (write_profile_string(argv[0], argv[1], argv[2], path.c_str()) != 1)
    return tool_failed("%s: could not write [%s] %s", path.c_str(), argv[0], argv[1]);
  return kToolOk;
}

const ToolCommand kStorageCommands[] = {
    {"factory-initialize", 0, 0, "",
     "prepare a unit from the factory: EEPROM identity and login, station.ini, clock", nullptr,
     run_factory_initialize},
    {"load-default-settings", 0, 0, "",
     "restore the default configuration from the EEPROM's factory settings", nullptr,
     run_load_default_settings},
    {"eeprom-dump", 0, 0, "", "print the 8192 EEPROM bytes, 16 per line with offsets", nullptr,
     run_eeprom_dump},
    {"eeprom-clear", 0, 0, "", "set every EEPROM byte to 0xff", nullptr, run_eeprom_clear},
    {"eeprom-read-byte", 1, 1, "OFF", "print the EEPROM byte at offset OFF (0..8191)", check_offset,
     run_eeprom_read_byte},
    {"eeprom-write-byte", 2, 2, "OFF VAL", "store byte VAL (0..255) at EEPROM offset OFF",
     check_offset_value, run_eeprom_write_byte},
    {"ini-get", 2, 2, "SECTION KEY", "print a station.ini value (status 1 when missing)",
     check_section_key, run_ini_get},
    {"ini-set", 3, 3, "SECTION KEY VALUE", "write a station.ini value", check_section_key_value,
     run_ini_set},
};

ToolCommandGroup storage_commands(kStorageCommands);

}  // namespace
