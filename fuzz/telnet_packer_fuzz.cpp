// The forwarder's parsers of network and serial bytes. The first bytes choose a packing rule,
// the way the input is cut and a start of the line; the rest is the stream.
//  - Telnet: any bytes, cut anywhere, never overrun the outputs, and every RFC 2217 request
//    leaves the line in a state it can hold; the stream escaped and read back is the stream.
//  - Packer: the packets put together are the stream; none is longer than its maximum, and
//    none holds its delimiter before its end.
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

void check_line(const SerialSettings& s) {
  if (s.data_bits < 5 || s.data_bits > 8 || s.parity < 0 || s.parity > 4 || s.flow < 0 ||
      s.flow > 2 || line_rate(s.baud_rate) != s.baud_rate)
    abort();
}

void fuzz_telnet(const uint8_t* in, std::size_t size, std::size_t cut, bool com_port) {
  TelnetSession session(com_port);
  ComLineState state;
  state.line = SerialSettings{9600, 8, kParityNone, 0, kFlowNone, 0x11, 0x13, kRs232};
  unsigned char data[4096], answers[4 * 4096];
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = size - at < cut ? size - at : cut;
    TelnetSink d{data, sizeof data};
    TelnetSink a{answers, sizeof answers};
    ComRequest requests[kMaxComRequests];
    int count = -1;
    session.receive(in + at, piece, &d, &a, requests, &count);
    if (d.size > piece || count < 0 || count > kMaxComRequests) abort();
    for (int i = 0; i < count; ++i) {
      apply_com_request(requests[i], &state);
      check_line(state.line);
    }
    at += piece;
  }
  // Data escaped for a peer and read back by a session is the data.
  std::vector<unsigned char> escaped(2 * size);
  const std::size_t n = telnet_escape(in, size, escaped.data());
  TelnetSession reader(com_port);
  std::vector<unsigned char> back(size + 1);
  TelnetSink d{back.data(), back.size()};
  TelnetSink a{answers, sizeof answers};
  ComRequest requests[kMaxComRequests];
  int count = 0;
  for (std::size_t at = 0; at < n; at += cut)
    reader.receive(escaped.data() + at, n - at < cut ? n - at : cut, &d, &a, requests, &count);
  if (d.size != size || (size && std::memcmp(back.data(), in, size) != 0)) abort();
}

void check_packet(const PackRule& r, const unsigned char* p, std::size_t size) {
  if (size == 0 || size > r.max_bytes) abort();
  // The first delimiter ends a packet: none comes before its last byte.
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (r.delimiter_count == 1 && p[i] == r.delimiter[0]) abort();
    if (r.delimiter_count == 2 && i + 2 < size && p[i] == r.delimiter[0] &&
        p[i + 1] == r.delimiter[1])
      abort();
  }
}

void fuzz_packer(const uint8_t* head, const uint8_t* in, std::size_t size, std::size_t cut) {
  Packing packing{};
  packing.flag = 1;
  packing.timer = head[0] | head[1] << 8;
  packing.chars[0] = head[2] % 4;  // 3: a count the file cannot give, taken as none
  packing.chars[1] = head[3];
  packing.chars[2] = head[4];
  packing.max_bytes = head[5] | (head[6] & 0x07) << 8;
  const SerialSettings line{head[7] % 2 ? 300 : 921600, 5 + head[7] % 4, head[7] % 5, head[7] % 2,
                            kFlowNone, 0x11, 0x13, kRs232};
  Packer packer;
  packer.set_rule(make_pack_rule(packing, line));
  const PackRule& r = packer.rule();
  if (r.max_bytes < 1 || r.max_bytes > kPackMax || r.idle_ms < 0) abort();
  std::vector<unsigned char> out;
  int64_t now = 0;
  for (std::size_t at = 0; at < size;) {
    const std::size_t taken = packer.take(in + at, size - at < cut ? size - at : cut, now);
    at += taken;
    if (packer.complete() || packer.check_idle(now + (cut % 3) * r.idle_ms)) {
      check_packet(r, packer.data(), packer.size());
      out.insert(out.end(), packer.data(), packer.data() + packer.size());
      packer.clear();
    } else if (taken == 0) {
      abort();  // neither taking nor complete: the stream would stall
    }
    now += static_cast<int64_t>(cut);
  }
  if (packer.size() > 0) {
    if (!packer.check_idle(packer.due_at())) abort();
    out.insert(out.end(), packer.data(), packer.data() + packer.size());
  }
  if (out.size() != size || (size && std::memcmp(out.data(), in, size) != 0)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < kHead || size > 8192) return 0;
  const std::size_t cut = 1 + bytes[0] % 64;
  fuzz_telnet(bytes + kHead, size - kHead, cut, (bytes[1] & 1) != 0);
  fuzz_packer(bytes, bytes + kHead, size - kHead, cut);
  return 0;
}
