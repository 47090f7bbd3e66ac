#include "protocol/frame_codec.h"

#include <cstring>

int scan_frame(const unsigned char* start, int count, int* frame_length,
               const unsigned char** data) {
  *frame_length = 0;
  *data = nullptr;
  int s = 0;
  while (s + 3 <= count &&
         !(start[s] == kIac && start[s + 1] == kSb && start[s + 2] == kComPortOption))
    ++s;
  if (s + 3 > count) return -1;
  // The tail search starts at the head itself; only 0xFF 0xFA 0x2C 0xFF 0xF0 can place the
  // tail inside the head's reach, and that is the one 5-byte frame.
  int e = s;
  while (e + 2 <= count && !(start[e] == kIac && start[e + 1] == kSe)) ++e;
  if (e + 2 > count) return -1;
  *frame_length = e - s + 2;
  if (e > s + 4) *data = start + s + 4;
  return start[s + 3];
}

int put_frame_head(unsigned char* pos, int space) {
  if (space < 3) return 0;
  pos[0] = kIac;
  pos[1] = kSb;
  pos[2] = kComPortOption;
  return 3;
}

int put_frame_tail(unsigned char* pos, int space) {
  if (space < 2) return 0;
  pos[0] = kIac;
  pos[1] = kSe;
  return 2;
}

void put_reply(unsigned char* pos, int* size, int code, const unsigned char* payload, int length) {
  const int d = payload ? length : 0;
  const int space = *size;
  if (space < d + kFrameOverhead) {
    *size = 0;
    return;
  }
  int n = put_frame_head(pos, space);
  pos[n++] = static_cast<unsigned char>(code + kReplyOffset);
  if (d > 0) std::memcpy(pos + n, payload, static_cast<size_t>(d));
  n += d;
  n += put_frame_tail(pos + n, space - n);
  *size = n;
}

void put_error_reply(unsigned char* pos, int* size, int code) {
  const unsigned char failed = static_cast<unsigned char>(code);
  put_reply(pos, size, kErrorCode, &failed, 1);
}
