#include "client/port_view.h"

#include <algorithm>

using namespace name_password;  // the sub-commands of code 89
using namespace net_address;    // and of code 88

namespace {

// The query byte of the delimiter blocks and the two option bytes: 0, a value they do not take.
constexpr int kQueryByte = 0;
// Code 92 reads the layout of mode m from station.ini when its mode byte is m + 4.
constexpr int kLayoutQueryBase = 4;

// One step of a read: its request, and the group its reply brings (-1 for the port select,
// -2 for get-all, which brings every group without a query of its own).
struct ReadStep {
  Request request;
  int group;
};
constexpr int kSelectStep = -1;
constexpr int kGetAllStep = -2;

std::vector<ReadStep> read_steps(int port, unsigned parts) {
  const auto uc = [](int v) { return static_cast<unsigned char>(v); };
  std::vector<ReadStep> steps = {{{kSelectPort, {uc(port)}}, kSelectStep}};
  for (unsigned part = 1; part & kReadAll; part <<= 1) {
    if (!(parts & part)) continue;
    if (part == kReadGetAll) steps.push_back({{kGetAll, {}}, kGetAllStep});
    for (int g = 0; g < group::kCount; ++g)
      if (kGroupRows[g].part == part && kGroupRows[g].query >= 0)
        steps.push_back({{kGroupRows[g].code, {uc(kGroupRows[g].query)}}, g});
  }
  return steps;
}

// A group's bytes out of a reply frame. false when the frame is not the group's (another
// code, another tag) or not whole by the command table's length for its code.
bool take_group(const ReplyFrame& f, int g, PortView* view) {
  const GroupRow& row = kGroupRows[g];
  // In mode 4 the link reply carries nothing, not even the mode byte.
  const bool mode4 = row.code == kLinkMode && row.tag < 0 && f.data.empty();
  const std::vector<unsigned char> data = mode4 ? std::vector<unsigned char>{kLinkMode4} : f.data;
  const int n = static_cast<int>(data.size());
  const int at = row.tag >= 0 ? 1 : 0;
  const int size = row.size > 0 ? row.size : n - at;
  if (f.code != row.code + kReplyOffset || (at && (n == 0 || data[0] != row.tag))) return false;
  if (size < 0 || at + size > n || (!mode4 && reply_length(f.code, data.data(), n) != n))
    return false;
  view->blocks[g].bytes.assign(data.begin() + at, data.begin() + at + size);
  view->blocks[g].known = true;
  return true;
}

// The whole series in the order kGetAllSeries gives, each frame into the groups it brings
// (the link reply into the link mode and the layout of that mode).
bool decode_get_all(const ReplyGroup& frames, PortView* view) {
  if (frames.size() != static_cast<std::size_t>(kGetAllFrames)) return false;
  for (int i = 0; i < kGetAllFrames; ++i) {
    const ReplyFrame& f = frames[static_cast<std::size_t>(i)];
    if (f.code != kGetAllSeries[i] + kReplyOffset) return false;
    for (int g = 0; g < group::kCount; ++g) {
      const GroupRow& row = kGroupRows[g];
      if (row.query >= 0 || f.code != row.code + kReplyOffset) continue;
      if (row.tag >= 0 && (f.data.empty() || f.data[0] != row.tag)) continue;  // another layout
      if (!take_group(f, g, view)) return false;
    }
  }
  return true;
}

}  // namespace

// clang-format off
const GroupRow kGroupRows[group::kCount] = {
    // code          tag             part                query              size
    {kSetBaudrate,   -1,             kReadGetAll,        -1},
    {kSetDatasize,   -1,             kReadGetAll,        -1},
    {kSetParity,     -1,             kReadGetAll,        -1},
    {kSetStopsize,   -1,             kReadGetAll,        -1},
    {kSetControl,    -1,             kReadGetAll,        -1},
    {kUartMode,      -1,             kReadGetAll,        -1},
    {kLinkMode,      -1,             kReadGetAll,        -1,                1},
    {kLinkMode,      kLinkTcpServer, kReadGetAll,        -1,                tcp_server::kSize},
    {kLinkMode,      kLinkTcpClient, kReadGetAll,        -1,                tcp_client::kSize},
    {kLinkMode,      kLinkUdp,       kReadGetAll,        -1,                udp::kSize},
    {kTcpMode,       -1,             kReadGetAll,        -1},
    {kUartDelimiter, -1,             kReadUartDelimiter, kQueryByte,        0, "UART delimiter"},
    {kTcpDelimiter,  -1,             kReadTcpDelimiter,  kQueryByte,        0, "TCP delimiter"},
    {kNamePassword,  kSysName,       kReadSnmp,          kSysNameQuery},
    {kNamePassword,  kSysLocation,   kReadSnmp,          kSysLocationQuery},
    {kNamePassword,  kSysContact,    kReadSnmp,          kSysContactQuery},
    {kNetAddress,    kIp,            kReadNet,           kIpQuery},
    {kNetAddress,    kGateway,       kReadNet,           kGatewayQuery},
    {kNetAddress,    kNetmask,       kReadNet,           kNetmaskQuery},
    {kNamePassword,  kAlias,         kReadMemoryOnly,    kAliasQuery},
    {kOption79,      -1,             kReadMemoryOnly,    kQueryByte,        0, nullptr, true},
    {kOption99,      -1,             kReadMemoryOnly,    kQueryByte,        0, nullptr, true},
};
// clang-format on

int layout_group(int mode) {
  for (int g = 0; g < group::kCount; ++g)
    if (kGroupRows[g].code == kLinkMode && kGroupRows[g].tag == mode) return g;
  return -1;
}

int layout_mode(int g) {
  return kGroupRows[g].code == kLinkMode ? std::max(kGroupRows[g].tag, 0) : 0;
}

int link_mode(const PortView& v) {
  const Block& b = v.blocks[group::kLinkMode];
  return b.known && !b.bytes.empty() ? b.bytes[0] : 0;
}

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
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const ReadStep& s = steps[i];
    const ReplyGroup& g = groups[i];
    if (g.size() == 1 && g[0].code == kErrorReplyCode) {
      // Not the session's eth0: no stored addresses to show.
      if (s.group >= 0 && kGroupRows[s.group].part == kReadNet) continue;
      *why = command_name(s.request.code);
      return ReadOutcome::kRefused;
    }
    bool ok = !g.empty();
    if (ok && s.group == kSelectStep)
      ok = g[0].code == kSelectPort + kReplyOffset && g[0].data == s.request.data;
    else if (ok && s.group == kGetAllStep)
      ok = decode_get_all(g, view);
    else if (ok)
      ok = take_group(g[0], s.group, view);
    if (!ok) {
      *why = std::string("unexpected reply to ") + command_name(s.request.code);
      return ReadOutcome::kUnexpected;
    }
  }
  view->port = port;
  view->read |= parts;
  return ReadOutcome::kOk;
}

Request layout_query(int mode) {
  return Request{kLinkMode, {static_cast<unsigned char>(kLayoutQueryBase + mode)}};
}

bool decode_layout(const ReplyGroup& frames, int mode, PortView* view) {
  const int g = layout_group(mode);
  return g >= 0 && frames.size() == 1 && take_group(frames[0], g, view);
}

Request group_request(const PortView& view, int g) {
  const GroupRow& row = kGroupRows[g];
  const std::vector<unsigned char>& bytes = view.blocks[g].bytes;
  const std::size_t at = row.tag >= 0 ? 1 : 0;
  Request r{row.code,
            std::vector<unsigned char>(at + bytes.size(), static_cast<unsigned char>(row.tag))};
  std::copy(bytes.begin(), bytes.end(), r.data.begin() + static_cast<std::ptrdiff_t>(at));
  return r;
}
