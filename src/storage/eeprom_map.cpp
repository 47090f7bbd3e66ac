#include "storage/eeprom_map.h"

#include <cstdint>
#include <cstring>

#include "common/byte_order.h"
#include "storage/eeprom_device.h"
#include "storage/station_ini.h"

namespace {

struct Field {
  unsigned offset;  // of the first index
  unsigned width;
  unsigned stride;
  int first;
  int count;
};

constexpr unsigned kWidestField = 64;

#define EE_CHECK(F, offset, width, stride, first, count, form)                  \
  static_assert((width) <= kWidestField, #F " is wider than the local buffer"); \
  static_assert((offset) + (stride) * ((count)-1) + (width) < kEepromSize,      \
                #F " would reach the last byte, which no block may include");
EEPROM_FIELDS(EE_CHECK)
#undef EE_CHECK

bool offset_of(const Field& f, int index, unsigned* offset) {
  if (index < f.first || index >= f.first + f.count) return false;
  *offset = f.offset + f.stride * static_cast<unsigned>(index - f.first);
  return true;
}

// A field always moves whole, through a local copy: the caller's buffer is read or written
// exactly once and only after the index was accepted. A failed read delivers zero bytes.
int read_field(const Field& f, int index, void* dst) {
  unsigned offset;
  if (!offset_of(f, index, &offset)) return -1;
  unsigned char local[kWidestField] = {};  // a failed block read leaves it as it is
  const int result = i2c_read_block(offset, local, f.width);
  std::memcpy(dst, local, f.width);
  return result;
}

int write_field(const Field& f, int index, const void* src) {
  unsigned offset;
  if (!offset_of(f, index, &offset)) return -1;
  unsigned char local[kWidestField];
  std::memcpy(local, src, f.width);
  return i2c_write_block(offset, local, f.width);
}

unsigned read_word(const Field& f, int index) {
  unsigned char bytes[2] = {0, 0};
  if (read_field(f, index, bytes) != 0) return 0;
  return get_be16(bytes);
}

int write_word(const Field& f, int index, unsigned value) {
  unsigned char bytes[2];
  put_be16(static_cast<uint16_t>(value & 0xFFFF), bytes);
  return write_field(f, index, bytes);
}

}  // namespace

// The accessors of each form; `field` is the line's Field.
#define EE_DEFINE_BYTES(F, field)                                        \
  int get_##F(void* dst) { return read_field(field, field.first, dst); } \
  int set_##F(const void* src) { return write_field(field, field.first, src); }
#define EE_DEFINE_BYTES_AT(F, field)                                          \
  int get_##F(int index, void* dst) { return read_field(field, index, dst); } \
  int set_##F(int index, const void* src) { return write_field(field, index, src); }
#define EE_DEFINE_WORD(F, field)                               \
  unsigned get_##F() { return read_word(field, field.first); } \
  int set_##F(unsigned value) { return write_word(field, field.first, value); }
#define EE_DEFINE_WORD_AT(F, field)                               \
  unsigned get_##F(int index) { return read_word(field, index); } \
  int set_##F(int index, unsigned value) { return write_word(field, index, value); }
// eeBlock1206's reader reports nothing.
#define EE_DEFINE_BLOCK_AT(F, field)                            \
  void get_##F(int n, void* dst) { read_field(field, n, dst); } \
  int set_##F(int n, const void* src) { return write_field(field, n, src); }
#define EE_DEFINE(F, offset, width, stride, first, count, form) \
  EE_DEFINE_##form(F, (Field{offset, width, stride, first, count}))

EEPROM_FIELDS(EE_DEFINE)

int set_eeMaxConnection(int port, int count) { return set_com_max_connection(port, count); }

int get_eeMaxConnection(int port) { return get_com_max_connection(port); }
