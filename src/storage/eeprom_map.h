// The EEPROM map: every field of the store at its fixed offset, and one read and one write
// accessor per field, named get_<field> and set_<field> after the field (get_eePassword,
// set_eeIpAddress). Each call is one block transfer of exactly the field's width under the
// EEPROM lock; contents are moved as they are, never checked.
#pragma once

// The map, one line per field: name, offset (of index `first` for an indexed field), width
// in bytes, stride between indexes, first index, number of indexes, and form:
//   BYTES     int get_F(void* dst);            int set_F(const void* src);
//   BYTES_AT  int get_F(int i, void* dst);     int set_F(int i, const void* src);
//   WORD      unsigned get_F();                int set_F(unsigned value);
//   WORD_AT   unsigned get_F(int i);           int set_F(int i, unsigned value);
//   BLOCK_AT  void get_F(int n, void* dst);    int set_F(int n, const void* src);
// Byte fields move exactly `width` bytes; results are the block transfer's, 0 or -1.
// Texts are NUL-padded to the width and unterminated when they fill it; IPv4 addresses are
// first octet first; WORD fields hold 0..65535 most significant byte first (bits above 16
// are dropped on writing). An index outside first..first+count-1 is refused without device
// access and without touching the buffer: -1, or 0 from a WORD_AT reader. After a failed
// read the destination holds zero bytes and a WORD reader returns 0.
// Interface fields (stride 130) take the interface index 0..3 ("eth0".."eth3").
// clang-format off
#define EEPROM_FIELDS(X)                                               \
  /* name                 offset width stride first count form */      \
  X(eeBytes6,             6,     2,    0,     0,    1,    BYTES)       \
  X(eeBytes8,             8,     2,    0,     0,    1,    BYTES)       \
  X(eeModelName,          10,    16,   0,     0,    1,    BYTES)       \
  X(eeBlock34,            34,    16,   0,     0,    1,    BYTES)       \
  X(eeUserName,           68,    8,    0,     0,    1,    BYTES)       \
  X(eePassword,           76,    8,    0,     0,    1,    BYTES)       \
  X(eeDefaultUserName,    88,    8,    0,     0,    1,    BYTES)       \
  X(eeDefaultPassword,    96,    8,    0,     0,    1,    BYTES)       \
  X(eeMacAddress,         108,   6,    130,   0,    4,    BYTES_AT)    \
  X(eeIpAddress,          114,   4,    130,   0,    4,    BYTES_AT)    \
  X(eeNetmask,            118,   4,    130,   0,    4,    BYTES_AT)    \
  X(eeGateway,            122,   4,    130,   0,    4,    BYTES_AT)    \
  X(eeIpMode,             126,   2,    130,   0,    4,    WORD_AT)     \
  X(eeIfBlock,            128,   16,   130,   0,    4,    BYTES_AT)    \
  X(eeDefaultIpAddress,   176,   4,    130,   0,    4,    BYTES_AT)    \
  X(eeDefaultNetmask,     180,   4,    130,   0,    4,    BYTES_AT)    \
  X(eeDefaultGateway,     184,   4,    130,   0,    4,    BYTES_AT)    \
  X(eeDefaultIpMode,      188,   2,    130,   0,    4,    WORD_AT)     \
  X(eeDefaultIfBlock,     190,   16,   130,   0,    4,    BYTES_AT)    \
  X(eeNameServer,         628,   4,    4,     0,    4,    BYTES_AT)    \
  X(eeDefaultNameServer,  644,   4,    4,     0,    4,    BYTES_AT)    \
  X(eeBlock1206,          1206,  64,   64,    1,    5,    BLOCK_AT)    \
  X(eeWord1526,           1526,  2,    0,     0,    1,    WORD)        \
  X(eeBlock1662,          1662,  64,   0,     0,    1,    BYTES)       \
  X(eeWord1726,           1726,  2,    2,     1,    5,    WORD_AT)     \
  X(eeWord1736,           1736,  2,    2,     1,    3,    WORD_AT)     \
  X(eeWord1742,           1742,  2,    0,     0,    1,    WORD)        \
  X(eeWord1744,           1744,  2,    0,     0,    1,    WORD)        \
  X(eeWord1746,           1746,  2,    0,     0,    1,    WORD)        \
  X(eeBytes1748,          1748,  4,    0,     0,    1,    BYTES)       \
  X(eeWord1752,           1752,  2,    0,     0,    1,    WORD)        \
  X(eeBytes1754,          1754,  4,    0,     0,    1,    BYTES)       \
  X(eeWarmStart,          1758,  2,    0,     0,    1,    WORD)        \
  X(eeBlock1760,          1760,  64,   0,     0,    1,    BYTES)       \
  X(eeBlock1824,          1824,  32,   0,     0,    1,    BYTES)       \
  X(eeBlock1856,          1856,  32,   0,     0,    1,    BYTES)       \
  X(eeWord1888,           1888,  2,    0,     0,    1,    WORD)
// clang-format on

#define EE_DECLARE_BYTES(F) \
  int get_##F(void* dst);   \
  int set_##F(const void* src);
#define EE_DECLARE_BYTES_AT(F)       \
  int get_##F(int index, void* dst); \
  int set_##F(int index, const void* src);
#define EE_DECLARE_WORD(F) \
  unsigned get_##F();      \
  int set_##F(unsigned value);
#define EE_DECLARE_WORD_AT(F)  \
  unsigned get_##F(int index); \
  int set_##F(int index, unsigned value);
#define EE_DECLARE_BLOCK_AT(F)    \
  void get_##F(int n, void* dst); \
  int set_##F(int n, const void* src);
#define EE_DECLARE(F, offset, width, stride, first, count, form) EE_DECLARE_##form(F)

EEPROM_FIELDS(EE_DECLARE)

#undef EE_DECLARE
#undef EE_DECLARE_BYTES
#undef EE_DECLARE_BYTES_AT
#undef EE_DECLARE_WORD
#undef EE_DECLARE_WORD_AT
#undef EE_DECLARE_BLOCK_AT

// Not a field of the store: the maximum connection count of port 1 or 2 is kept in
// station.ini ("com_max_connection" in section "COM%d"); these only forward to its accessors
// set_com_max_connection and get_com_max_connection and give back their results.
int set_eeMaxConnection(int port, int count);
int get_eeMaxConnection(int port);
