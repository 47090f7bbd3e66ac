// The route-file and resolv.conf readers over arbitrary file text: neither may read or write
// outside its buffers, whatever the lines hold (long lines, missing columns, odd hex).
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "net/routes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  if (size == 0 || !sink) return 0;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!file) return 0;
  unsigned char out[4] = {};
  read_gateway_from(file, "eth0", out);
  for (int n = 0; n < 5; ++n) {
    std::rewind(file);
    read_name_server_from(file, n, out);
  }
  std::rewind(file);
  copy_route_lines(file, sink, "eth1");
  std::fclose(file);
  return 0;
}
