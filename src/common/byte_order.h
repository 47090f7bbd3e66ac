// Byte order of wire and record blocks. Every multi-byte number inside a byte block goes
// through these helpers; nothing casts a block pointer to a wider integer type, so the same
// code is right on the big-endian device and on a little-endian PC.
#pragma once

#include <cstdint>

inline void put_le16(uint16_t value, unsigned char* dst) {
  dst[0] = static_cast<unsigned char>(value & 0xFF);
  dst[1] = static_cast<unsigned char>(value >> 8);
}

inline uint16_t get_le16(const unsigned char* src) {
  return static_cast<uint16_t>(src[0] | (src[1] << 8));
}

inline void put_le32(uint32_t value, unsigned char* dst) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint32_t get_le32(const unsigned char* src) {
  return static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8 |
         static_cast<uint32_t>(src[2]) << 16 | static_cast<uint32_t>(src[3]) << 24;
}

inline void put_be16(uint16_t value, unsigned char* dst) {
  dst[0] = static_cast<unsigned char>(value >> 8);
  dst[1] = static_cast<unsigned char>(value & 0xFF);
}

inline uint16_t get_be16(const unsigned char* src) {
  return static_cast<uint16_t>((src[0] << 8) | src[1]);
}

// Most significant byte first: the baud rate of the serial-line commands.
inline void put_be32(uint32_t value, unsigned char* dst) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

inline uint32_t get_be32(const unsigned char* src) {
  return static_cast<uint32_t>(src[0]) << 24 | static_cast<uint32_t>(src[1]) << 16 |
         static_cast<uint32_t>(src[2]) << 8 | static_cast<uint32_t>(src[3]);
}
