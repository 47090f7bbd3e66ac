// The forwarder's parsers of network and serial bytes. The first bytes choose a packing
// rule, the piece size the stream is cut into and the TCP mode; the rest is the stream.
//  - Telnet: any bytes, cut anywhere, never overrun the outputs; every RFC 2217 request
//    leaves the line in a state it can hold; the stream escaped and read back is the stream.
//  - Packer: the packets put together are the stream, none longer than its maximum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "forward/com_request.h"
#include "forward/packer.h"
#include "forward/serial_line.h"
#include "forward/telnet_session.h"

namespace {

constexpr std::size_t kHead = 8;

// Feeds the bytes in pieces; the data that came out.
std::vector<unsigned char> read_telnet(TelnetSession* s, const unsigned char* in, std::size_t n,
                                       std::size_t cut, ComLineState* state) {
  std::vector<unsigned char> data(n + 1), answers(4 * n + 64);
  TelnetSink d{data.data(), data.size()};
  TelnetSink a{answers.data(), answers.size()};
  for (std::size_t at = 0; at < n; at += cut) {
    ComRequest requests[kMaxComRequests];
    int count = -1;
    s->receive(in + at, n - at < cut ? n - at : cut, &d, &a, requests, &count);
    if (count < 0 || count > kMaxComRequests) abort();
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
  if (size < kHead || size > 8192) return 0;
  const unsigned char* in = bytes + kHead;
  const std::size_t n = size - kHead, cut = 1 + bytes[0] % 64;
  ComLineState state;
  state.line = SerialSettings{9600, 8, kParityNone, 0, kFlowNone, 0x11, 0x13, kRs232};
  TelnetSession session(bytes[1] & 1);
  read_telnet(&session, in, n, cut, &state);
  std::vector<unsigned char> escaped(2 * n + 1);
  TelnetSession reader(bytes[1] & 1);
  if (read_telnet(&reader, escaped.data(), telnet_escape(in, n, escaped.data()), cut, &state) !=
      std::vector<unsigned char>(in, in + n))
    abort();

  Packing packing{1, bytes[2] | bytes[3] << 8, {static_cast<unsigned char>(bytes[4] % 3), bytes[5],
                  bytes[6], 0}, bytes[7] | (bytes[1] & 0x0E) << 7};
  Packer packer;
  packer.set_rule(make_pack_rule(packing, state.line));
  std::vector<unsigned char> out;
  int64_t now = 0;
  for (std::size_t at = 0; at < n || packer.size() > 0; now += static_cast<int64_t>(cut)) {
    at += packer.take(in + at, n - at < cut ? n - at : cut, now);
    if (packer.complete() || packer.check_idle(at < n ? now : packer.due_at())) {
      if (packer.size() == 0 || packer.size() > packer.rule().max_bytes) abort();
      out.insert(out.end(), packer.data(), packer.data() + packer.size());
      packer.clear();
    }
  }
  if (out != std::vector<unsigned char>(in, in + n)) abort();
  return 0;
}
