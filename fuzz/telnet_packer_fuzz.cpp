// The forwarder's Telnet reader and packer; bytes 0-7 choose the piece size, TCP mode and packing,
// the rest is the stream. Telnet keeps to its outputs, RFC 2217 requests leave a line that can be
// held, the escaped stream reads back whole; packets join to the stream, none over its maximum.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "forward/com_request.h"
#include "forward/packer.h"
#include "forward/serial_line.h"
#include "forward/telnet_session.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Feeds the bytes to a new session in pieces of `cut`; the data that came out.
Bytes read_telnet(bool com_port, const unsigned char* in, std::size_t n, std::size_t cut,
                  ComLineState* state) {
  TelnetSession session(com_port);
  Bytes data(n + 1), answers(4 * n + 64);
  TelnetSink d{data.data(), data.size()}, a{answers.data(), answers.size()};
  for (std::size_t at = 0; at < n; at += cut) {
    ComRequest requests[kMaxComRequests];
    int count = -1;
    session.receive(in + at, std::min(n - at, cut), &d, &a, requests, &count);
    for (int i = 0; i < count; ++i) {
      apply_com_request(requests[i], state);
      const SerialSettings& l = state->line;
      if (l.data_bits < 5 || l.data_bits > 8 || l.parity < 0 || l.parity > 4 ||
          line_rate(l.baud_rate) != l.baud_rate)
        abort();
    }
  }
  if (d.size > n || a.size == a.capacity) abort();
  data.resize(d.size);
  return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 8 || size > 8192) return 0;
  const unsigned char* in = bytes + 8;
  const std::size_t n = size - 8, cut = 1 + bytes[0] % 64;
  const Bytes stream(in, in + n);
  ComLineState state;
  state.line = SerialSettings{9600, 8, kParityNone, 0, kFlowNone, 0x11, 0x13, kRs232};
  read_telnet(bytes[1] & 1, in, n, cut, &state);
  Bytes escaped(2 * n + 1);
  const std::size_t length = telnet_escape(in, n, escaped.data());
  if (read_telnet(bytes[1] & 1, escaped.data(), length, cut, &state) != stream) abort();

  const Packing packing{1, bytes[2] | bytes[3] << 8, {uint8_t(bytes[4] % 3), bytes[5], bytes[6], 0},
                        bytes[7] | (bytes[1] & 0x0E) << 7};
  Packer packer;
  packer.set_rule(make_pack_rule(packing, state.line));
  Bytes out;
  int64_t now = 0;
  for (std::size_t at = 0; at < n || packer.size() > 0; now += static_cast<int64_t>(cut)) {
    at += packer.take(in + at, std::min(n - at, cut), now);
    if (packer.complete() || packer.check_idle(at < n ? now : packer.due_at())) {
      if (packer.size() == 0 || packer.size() > packer.rule().max_bytes) abort();
      out.insert(out.end(), packer.data(), packer.data() + packer.size());
      packer.clear();
    }
  }
  if (out != stream) abort();
  return 0;
}
