// The route-file and resolv.conf readers over arbitrary file text: neither may read or write
// outside its buffers, whatever the lines hold (long lines, missing columns, odd hex).
#include <cstdint>
#include <cstdio>

#include "net/routes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  std::FILE* file = size && sink ? fmemopen(const_cast<uint8_t*>(data), size, "r") : nullptr;
  if (!file) return 0;
  unsigned char out[4] = {};
  read_gateway_from(file, "eth0", out);
  for (int n = 0; n < 5; ++n) read_name_server_from((std::rewind(file), file), n, out);
  std::rewind(file);
  copy_route_lines(file, sink, "eth1");
  std::fclose(file);
  return 0;
}
