#include "client/port_view.h"

#include <algorithm>
#include <cstdio>

#include "common/byte_order.h"

namespace {

constexpr NamedCode kParity[] = {{1, "none", "none"},
                                 {2, "odd", "odd"},
                                 {3, "even", "even"},
                                 {4, "mark", "mark"},
                                 {5, "space", "space"}};
constexpr NamedCode kFlow[] = {{1, "none", "none"}, {2, "xon-xoff", "XON/XOFF"}, {3, "rts-cts", "RTS/CTS"}};
constexpr NamedCode kInterface[] = {{1, "rs232", "RS-232"}, {2, "rs485", "RS-485"}, {3, "rs422", "RS-422"}};
constexpr NamedCode kTcpModeNamed[] = {{1, "virtual-com", "Virtual COM"}, {2, "raw", "RAW"}};
constexpr NamedCode kLinkModeNamed[] = {{1, "tcp-server", "TCP server"},
                                   {2, "tcp-client", "TCP client"},
                                   {3, "udp", "UDP"},
                                   {4, "mode-4", "mode 4 (memory only)"}};

template <int N>
constexpr NameTable table(const NamedCode (&items)[N]) {
  return NameTable{items, N};
}

// Link layouts on the wire, offsets from the mode byte.
constexpr int kServerPayload = 12;  // mode + 11
constexpr int kClientPayload = 14;  // mode + 13
constexpr int kUdpPayload = 91;     // mode + 90
constexpr int kUdpEntryBytes = 11;

void put_ip(const Ipv4& ip, unsigned char* dst) {
  for (int i = 0; i < 4; ++i) dst[i] = ip[i];
}
Ipv4 get_ip(const unsigned char* src) { return Ipv4{src[0], src[1], src[2], src[3]}; }

std::string reply_text(const ReplyFrame& f) {
  std::string text;
  for (std::size_t i = 1; i < f.data.size() && f.data[i] != 0; ++i)
    text.push_back(static_cast<char>(f.data[i]));
  return text;
}

// One step of a read: the request and what its single reply must look like.
struct ReadStep {
  Request request;
  unsigned part;
};

std::vector<ReadStep> read_steps(int port, unsigned parts) {
  const auto uc = [](int v) { return static_cast<unsigned char>(v); };
  std::vector<ReadStep> steps = {{{94, {uc(port)}}, 0}};
  if (parts & kReadMemoryOnly) {
    // Query forms: sub-command 0, and option bytes the unit does not take (0).
    steps.push_back({{89, {0}}, kReadMemoryOnly});
    steps.push_back({{79, {0}}, kReadMemoryOnly});
    steps.push_back({{99, {0}}, kReadMemoryOnly});
  }
  if (parts & kReadGetAll) steps.push_back({{96, {}}, kReadGetAll});
  if (parts & kReadUartDelimiter) steps.push_back({{77, {0}}, kReadUartDelimiter});
  if (parts & kReadTcpDelimiter) steps.push_back({{76, {0}}, kReadTcpDelimiter});
  if (parts & kReadSnmp)
    for (int sub : {2, 4, 6}) steps.push_back({{89, {uc(sub)}}, kReadSnmp});
  if (parts & kReadNet)
    for (int sub : {0, 2, 4}) steps.push_back({{88, {uc(sub)}}, kReadNet});
  return steps;
}

bool one_byte(const ReplyFrame& f, int* out) {
  if (f.data.size() != 1) return false;
  *out = f.data[0];
  return true;
}

bool decode_get_all(const ReplyGroup& group, PortView* view) {
  unsigned seen = 0;
  for (const ReplyFrame& f : group) {
    bool ok = true;
    switch (f.code) {
      case 101:
        ok = f.data.size() == 4;
        if (ok) view->serial.baud = get_be32(f.data.data());
        break;
      case 102:
        ok = one_byte(f, &view->serial.data_bits);
        break;
      case 103:
        ok = one_byte(f, &view->serial.parity);
        break;
      case 104:
        ok = one_byte(f, &view->serial.stop_bits);
        break;
      case 105:
        ok = one_byte(f, &view->serial.flow);
        break;
      case 185:
        ok = one_byte(f, &view->tcp_mode);
        break;
      case 190:
        ok = one_byte(f, &view->uart_mode);
        break;
      case 192:
        ok = decode_link(f.data, &view->link);
        break;
      default:  // alias (always empty after the reload), the fixed and option values
        continue;
    }
    if (!ok) return false;
    seen |= 1u << (f.code % 32);
  }
  const unsigned wanted = 1u << (101 % 32) | 1u << (102 % 32) | 1u << (103 % 32) |
                          1u << (104 % 32) | 1u << (105 % 32) | 1u << (185 % 32) |
                          1u << (190 % 32) | 1u << (192 % 32);
  return seen == wanted && !group.empty() && group.back().code == kEndOfSeries + kReplyOffset;
}

}  // namespace

const NameTable kParityNames = table(kParity);
const NameTable kFlowNames = table(kFlow);
const NameTable kInterfaceNames = table(kInterface);
const NameTable kTcpModeNames = table(kTcpModeNamed);
const NameTable kLinkModeNames = table(kLinkModeNamed);

const NamedCode* find_code(const NameTable& t, int code) {
  for (int i = 0; i < t.count; ++i)
    if (t.items[i].code == code) return &t.items[i];
  return nullptr;
}

int code_for_name(const NameTable& t, const std::string& name) {
  for (int i = 0; i < t.count; ++i)
    if (name == t.items[i].name) return t.items[i].code;
  return 0;
}

bool is_supported_baud(uint32_t rate) {
  for (uint32_t r : kBaudRates)
    if (r == rate) return true;
  return false;
}

std::string format_ipv4(const Ipv4& a) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return text;
}

bool parse_ipv4(const std::string& text, Ipv4* address) {
  Ipv4 a{};
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    unsigned value = 0;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
      value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    if (pos == start || value > 255) return false;
    a[i] = static_cast<unsigned char>(value);
  }
  if (pos != text.size()) return false;
  *address = a;
  return true;
}

std::string hex_bytes(const unsigned char* bytes, std::size_t count, const char* separator) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += separator;
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::vector<unsigned char> link_payload(const LinkSettings& link) {
  std::vector<unsigned char> p;
  switch (link.mode) {
    case 1: {
      const TcpServerLayout& s = link.server;
      p.assign(kServerPayload, 0);
      put_le16(s.local_port, &p[1]);
      p[3] = static_cast<unsigned char>(s.ip_filter);
      put_ip(s.source_ip, &p[4]);
      put_le32(s.max_connections, &p[8]);
      break;
    }
    case 2: {
      const TcpClientLayout& c = link.client;
      p.assign(kClientPayload, 0);
      put_ip(c.dest1_ip, &p[1]);
      put_le16(c.dest1_port, &p[5]);
      p[7] = static_cast<unsigned char>(c.dest2_enable);
      put_ip(c.dest2_ip, &p[8]);
      put_le16(c.dest2_port, &p[12]);
      break;
    }
    case 3: {
      const UdpLayout& u = link.udp;
      p.assign(kUdpPayload, 0);
      put_le16(u.local_port, &p[1]);
      for (int i = 0; i < kUdpEntries; ++i) {
        unsigned char* e = &p[3 + kUdpEntryBytes * i];
        e[0] = static_cast<unsigned char>(u.entries[i].enable);
        put_le16(u.entries[i].port, e + 1);
        put_ip(u.entries[i].begin_ip, e + 3);
        put_ip(u.entries[i].end_ip, e + 7);
      }
      break;
    }
    default:
      return p;
  }
  p[0] = static_cast<unsigned char>(link.mode);
  return p;
}

bool decode_link(const std::vector<unsigned char>& data, LinkSettings* link) {
  if (data.empty()) {  // the reply to a mode-4 set carries no layout
    link->mode = 4;
    return true;
  }
  if (!decode_layout(data, link)) return false;
  link->mode = data[0];
  return true;
}

bool layout_known(const LinkSettings& link, int mode) {
  return (mode == 1 && link.server.known) || (mode == 2 && link.client.known) ||
         (mode == 3 && link.udp.known);
}

bool decode_layout(const std::vector<unsigned char>& data, LinkSettings* link) {
  if (data.empty()) return false;
  const unsigned char* p = data.data();
  switch (p[0]) {
    case 1: {
      if (data.size() < kServerPayload) return false;
      TcpServerLayout& s = link->server;
      s.local_port = get_le16(p + 1);
      s.ip_filter = p[3];
      s.source_ip = get_ip(p + 4);
      s.max_connections = get_le32(p + 8);
      s.known = true;
      break;
    }
    case 2: {
      if (data.size() < kClientPayload) return false;
      TcpClientLayout& c = link->client;
      c.dest1_ip = get_ip(p + 1);
      c.dest1_port = get_le16(p + 5);
      c.dest2_enable = p[7];
      c.dest2_ip = get_ip(p + 8);
      c.dest2_port = get_le16(p + 12);
      c.known = true;
      break;
    }
    case 3: {
      if (data.size() < kUdpPayload) return false;
      UdpLayout& u = link->udp;
      u.local_port = get_le16(p + 1);
      for (int i = 0; i < kUdpEntries; ++i) {
        const unsigned char* e = p + 3 + kUdpEntryBytes * i;
        u.entries[i] = UdpEntry{e[0], get_le16(e + 1), get_ip(e + 3), get_ip(e + 7)};
      }
      u.known = true;
      break;
    }
    default:
      return false;
  }
  return true;
}

std::vector<unsigned char> delimiter_block(const Delimiter& d) {
  std::vector<unsigned char> b(kDelimiterBlockBytes, 0);
  put_le16(d.flag, &b[0]);
  put_le16(d.timer, &b[2]);
  b[4] = static_cast<unsigned char>(d.chars.size());
  for (std::size_t i = 0; i < d.chars.size() && i < 2; ++i) b[5 + i] = d.chars[i];
  put_le16(d.max_bytes, &b[8]);
  return b;
}

bool decode_delimiter(const std::vector<unsigned char>& data, Delimiter* d) {
  if (data.size() != kDelimiterBlockBytes) return false;
  d->flag = get_le16(&data[0]);
  d->timer = get_le16(&data[2]);
  const int count = data[4] < 2 ? data[4] : 2;
  d->chars.assign(data.begin() + 5, data.begin() + 5 + count);
  d->max_bytes = get_le16(&data[8]);
  return true;
}

Request text_request(int sub_command, const std::string& text) {
  Request r{89, std::vector<unsigned char>(text.size() + 2, 0)};
  r.data[0] = static_cast<unsigned char>(sub_command);
  std::copy(text.begin(), text.end(), r.data.begin() + 1);
  return r;
}

Request layout_query(int mode) { return Request{92, {static_cast<unsigned char>(4 + mode)}}; }

std::vector<Request> read_requests(int port, unsigned parts) {
  std::vector<Request> requests;
  for (ReadStep& s : read_steps(port, parts)) requests.push_back(std::move(s.request));
  return requests;
}

ReadOutcome decode_read(const std::vector<ReplyGroup>& groups, int port, unsigned parts,
                        PortView* view, std::string* why) {
  const std::vector<ReadStep> steps = read_steps(port, parts);
  if (groups.size() != steps.size()) {
    *why = "replies missing";
    return ReadOutcome::kUnexpected;
  }
  bool net_refused = false;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Request& r = steps[i].request;
    const ReplyGroup& g = groups[i];
    const char* name = command_name(r.code);
    if (g.size() == 1 && g[0].code == kErrorReplyCode) {
      if (r.code == 88) {  // not the session's eth0: no stored addresses to show
        net_refused = true;
        continue;
      }
      *why = name;
      return ReadOutcome::kRefused;
    }
    bool ok = !g.empty() && (g[0].code == r.code + 100 || r.code == 96);
    if (ok) {
      const ReplyFrame& f = g[0];
      const int sub = r.data.empty() ? 0 : r.data[0];
      switch (r.code) {
        case 94:
          ok = one_byte(f, &view->port) && view->port == r.data[0];
          break;
        case 89: {
          std::string text = reply_text(f);
          ok = f.data.size() == text.size() + 2 && f.data[0] == (sub | 1);
          if (sub == 0) view->alias = text;
          if (sub == 2) view->sys_name = text;
          if (sub == 4) view->sys_location = text;
          if (sub == 6) view->sys_contact = text;
          break;
        }
        case 79:
          ok = one_byte(f, &view->option79);
          break;
        case 99:
          ok = one_byte(f, &view->option99);
          break;
        case 96:
          ok = decode_get_all(g, view);
          break;
        case 77:
          ok = decode_delimiter(f.data, &view->uart_delimiter);
          break;
        case 76:
          ok = decode_delimiter(f.data, &view->tcp_delimiter);
          break;
        case 88: {
          ok = f.data.size() == 5 && f.data[0] == (sub | 1);
          if (ok) (sub == 0 ? view->ip : sub == 2 ? view->gateway : view->netmask) = get_ip(&f.data[1]);
          break;
        }
      }
    }
    if (!ok) {
      *why = std::string("unexpected reply to ") + name;
      return ReadOutcome::kUnexpected;
    }
  }
  view->has_net = (parts & kReadNet) && !net_refused;
  return ReadOutcome::kOk;
}
