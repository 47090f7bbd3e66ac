// Scans a received buffer frame by frame, as the dispatcher walks it, and replies to each.
#include "protocol/frame_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  const int count = static_cast<int>(size);
  unsigned char answer[1024];
  int used = 0;
  int pos = 0;
  while (pos < count) {
    int length = 0;
    const unsigned char* data = nullptr;
    const int code = scan_frame(bytes + pos, count - pos, &length, &data);
    if (code < 0) break;
    if (length < 5 || pos + length > count) abort();
    if (data && (data < bytes + pos || data + (length - 6) > bytes + count)) abort();
    int room = static_cast<int>(sizeof answer) - used;
    put_reply(answer + used, &room, code, data, data ? length - 6 : 0);
    used += room;
    pos += length;
  }
  return 0;
}
