// One serial port as the management client sees it: for each group of settings (what one set
// request carries) the bytes that request carries, read from the daemon's replies (get-all,
// the delimiter, name and address queries). Owns the group rows: which request sets a group,
// which reply brings it and in which read. Hides the order of the reads and the checks that a
// reply is whole; what a field inside a group means is port_fields' business.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "client/control_client.h"

// The groups, in the order their requests go out: the link before the TCP mode, which the
// unit judges by it. The link mode travels with the layout of its mode.
namespace group {
// clang-format off
enum Id : int {
  kBaud, kDataBits, kParity, kStopBits, kFlow, kInterface,
  kLinkMode, kTcpServer, kTcpClient, kUdp, kTcpMode,
  kUartDelimiter, kTcpDelimiter,
  kSysName, kSysLocation, kSysContact, kIp, kGateway, kNetmask,
  kAlias, kOption79, kOption99, kCount
};
// clang-format on
}  // namespace group

// What a read asks for; the memory-only values are read before get-all resets them.
enum ReadPart : unsigned {
  kReadMemoryOnly = 1u << 0,  // alias and the two option bytes
  kReadGetAll = 1u << 1,      // serial line, interface, TCP mode, link
  kReadUartDelimiter = 1u << 2,
  kReadTcpDelimiter = 1u << 3,
  kReadSnmp = 1u << 4,
  kReadNet = 1u << 5,
  kReadAll = (1u << 6) - 1,
};

struct GroupRow {
  int code;                       // the request that sets it; get-all reports it as code + 100
  int tag;                        // the byte ahead of the bytes in request and reply: the
                                  // sub-command of 88 and 89, a link layout's mode; -1 for none
  unsigned part;                  // the read that brings it
  int query;                      // the data byte of its own query; -1 when get-all brings it
  int size = 0;                   // the bytes after the tag; 0 for what the command table
                                  // gives its reply (a text and its NUL when it varies)
  const char* heading = nullptr;  // for people, over the group's fields
  bool read_only = false;         // reported, never set by stationctl
};
extern const GroupRow kGroupRows[group::kCount];

// The link layout group of a link mode, or -1 (mode 4 has none the unit reports); the other
// way, the mode of a layout group, or 0 for a group outside the link layouts.
int layout_group(int link_mode);
int layout_mode(int group);

struct Block {
  bool known = false;
  std::vector<unsigned char> bytes;  // after the tag, as the set request carries them
};

struct PortView {
  int port = 0;
  unsigned read = 0;  // the ReadParts read into the view
  std::array<Block, group::kCount> blocks;
};

// The port's link mode; 0 while not known.
int link_mode(const PortView& view);

// Selects the port (code 94), then the reads of the parts, in one buffer. No link-mode query
// and no request that changes anything: a read never makes the unit announce a change.
std::vector<Request> read_requests(int port, unsigned parts);
enum class ReadOutcome { kOk, kRefused, kUnexpected };
// Decodes the groups answering read_requests(port, parts) into view. kRefused (an error
// reply) or kUnexpected (a reply missing or malformed) with the reason in *why; a refused
// address query only leaves its group unknown (the session did not arrive on eth0).
ReadOutcome decode_read(const std::vector<ReplyGroup>& groups, int port, unsigned parts,
                        PortView* view, std::string* why);

// The link-layout query (code 92 with mode byte 4 + mode): it reports what station.ini holds
// for a layout, but the unit announces a change for it, so only writers use it.
Request layout_query(int link_mode);
// Its reply into the layout's group; false when it is not that layout, whole.
bool decode_layout(const ReplyGroup& group, int link_mode, PortView* view);

// A group's set request: its code, its tag, its bytes.
Request group_request(const PortView& view, int group);
