// Scans a received buffer frame by frame, as the dispatcher walks it, and replies to each.
#include <cstdint>
#include <cstdlib>

#include "protocol/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  unsigned char answer[1024];
  const int count = static_cast<int>(size);
  for (int pos = 0, used = 0, length = 0, code; size <= 4096 && pos < count; pos += length) {
    const unsigned char* data = nullptr;
    if ((code = scan_frame(bytes + pos, count - pos, &length, &data)) < 0) break;
    if (length < 5 || pos + length > count ||
        (data && (data < bytes + pos || data + (length - 6) > bytes + count)))
      abort();
    int room = static_cast<int>(sizeof answer) - used;
    put_reply(answer + used, &room, code, data, data ? length - 6 : 0);
    used += room;
  }
  return 0;
}
