#include "client/port_fields.h"

#include <algorithm>
#include <cstring>

namespace {

// A value that fills its group alone, or a text.
constexpr LayoutField whole(const char* name, FieldForm form = FieldForm::kByte) {
  return LayoutField{name, 0, form};
}
constexpr FieldForm kIpv4 = FieldForm::kIpv4;

// In the order of show and JSON. Labels starting with spaces sit under the line above; those
// of a UDP entry's fields head the columns of the entry table.
// clang-format off
const FieldRow kFieldRows[] = {
    {"serial.", whole("baud"),      group::kBaud,     "Baud rate",    Codec::kBaud},
    {"serial.", whole("data_bits"), group::kDataBits, "Data bits",    Codec::kForm, nullptr, 5, 8},
    {"serial.", whole("parity"),    group::kParity,   "Parity",       Codec::kValue, &kParityValues},
    {"serial.", whole("stop_bits"), group::kStopBits, "Stop bits",    Codec::kValue, &kStopBitValues},
    {"serial.", whole("flow"),      group::kFlow,     "Flow control", Codec::kValue, &kFlowValues},
    {"", whole("interface"),    group::kInterface, "Interface", Codec::kValue, &kInterfaceValues},
    {"", whole("tcp_mode"),     group::kTcpMode,   "TCP mode",  Codec::kValue, &kTcpModeValues},
    {"link.", whole("mode"),    group::kLinkMode,  "Link mode", Codec::kLinkMode, &kLinkModeValues},
    {"link.", tcp_server::kLocalPort,     group::kTcpServer, "  local port"},
    {"link.", tcp_server::kIpFilter,      group::kTcpServer, "  IP filter", Codec::kSwitch},
    {"link.", tcp_server::kSourceIp,      group::kTcpServer, "  source address"},
    {"link.", tcp_server::kMaxConnection, group::kTcpServer, "  max connections"},
    {"link.", tcp_client::kDes1Ip,        group::kTcpClient, "  destination 1"},
    {"link.", tcp_client::kDes1Port,      group::kTcpClient, "  destination 1 port"},
    {"link.", tcp_client::kDes2Enable,    group::kTcpClient, "  destination 2", Codec::kSwitch},
    {"link.", tcp_client::kDes2Ip,        group::kTcpClient, "  destination 2 IP"},
    {"link.", tcp_client::kDes2Port,      group::kTcpClient, "  destination 2 port"},
    {"link.", udp::kLocalPort,            group::kUdp,       "  local port"},
    {"link.entries[].", udp::kEnable,     group::kUdp,       "enabled", Codec::kEntrySwitch},
    {"link.entries[].", udp::kDesPort,    group::kUdp,       "port"},
    {"link.entries[].", udp::kBeginIp,    group::kUdp,       "first address"},
    {"link.entries[].", udp::kEndIp,      group::kUdp,       "last address"},
    {"delimiters.uart.", delimiter::kFlag,    group::kUartDelimiter, "  flag"},
    {"delimiters.uart.", delimiter::kTimer,   group::kUartDelimiter, "  timer"},
    {"delimiters.uart.", delimiter::kChars,   group::kUartDelimiter, "  characters"},
    {"delimiters.uart.", delimiter::kMaxByte, group::kUartDelimiter, "  max bytes"},
    {"delimiters.tcp.",  delimiter::kFlag,    group::kTcpDelimiter,  "  flag"},
    {"delimiters.tcp.",  delimiter::kTimer,   group::kTcpDelimiter,  "  timer"},
    {"delimiters.tcp.",  delimiter::kChars,   group::kTcpDelimiter,  "  characters"},
    {"delimiters.tcp.",  delimiter::kMaxByte, group::kTcpDelimiter,  "  max bytes"},
    {"snmp.", whole("name"),              group::kSysName,     "SNMP name",      Codec::kText},
    {"snmp.", whole("location"),          group::kSysLocation, "SNMP location",  Codec::kText},
    {"snmp.", whole("contact"),           group::kSysContact,  "SNMP contact",   Codec::kText},
    {"net.", whole("ip", kIpv4),          group::kIp,          "Address (eth0)"},
    {"net.", whole("gateway", kIpv4),     group::kGateway,     "Gateway (eth0)"},
    {"net.", whole("netmask", kIpv4),     group::kNetmask,     "Netmask (eth0)"},
    {"memory_only.", whole("alias"),      group::kAlias,       "Alias",          Codec::kText},
    {"memory_only.", whole("option79"),   group::kOption79,    "Option 79"},
    {"memory_only.", whole("option99"),   group::kOption99,    "Option 99"},
};
// clang-format on

bool per_entry(const FieldRow& row) { return std::strchr(row.prefix, '[') != nullptr; }

Field field_of(const FieldRow& row, int entry) {
  std::string path = std::string(row.prefix) + row.at.name;
  if (entry > 0) path.insert(path.find('[') + 1, std::to_string(entry));
  return Field{&row, entry, entry > 0 ? udp::entry(entry) : 0, path};
}

std::vector<Field> expand_rows() {
  std::vector<Field> fields;
  const int n = sizeof kFieldRows / sizeof kFieldRows[0];
  for (int i = 0; i < n; ++i) {
    if (!per_entry(kFieldRows[i])) {
      fields.push_back(field_of(kFieldRows[i], 0));
      continue;
    }
    int end = i;
    while (end < n && per_entry(kFieldRows[end])) ++end;
    for (int e = 1; e <= udp::kEntryCount; ++e)
      for (int k = i; k < end; ++k) fields.push_back(field_of(kFieldRows[k], e));
    i = end - 1;
  }
  return fields;
}

std::string mode_name(int mode) {
  const ValueRow* row = row_of_wire(kLinkModeValues, mode);
  return row ? row->name : std::to_string(mode);
}

// The field a path names under the link mode the edits lead to (0: any mode).
const Field* resolve(const std::string& path, int mode, std::string* error) {
  bool other_mode = false;
  for (const Field& f : port_fields()) {
    if (f.path != path || kGroupRows[f.row->group].read_only) continue;
    const int layout = layout_mode(f.row->group);
    if (layout == 0 || mode == 0 || layout == mode) return &f;
    other_mode = true;
  }
  *error = path + (other_mode ? " is not a setting of link mode " + mode_name(mode)
                   : path.find('[') != std::string::npos ? " names no UDP entry 1 to 8"
                                                         : " is not a setting stationctl knows");
  return nullptr;
}

// Parses the value into the field's place in the view.
bool lay(PortView* v, const Field& f, const std::string& value, std::string* error) {
  std::string why;
  if (parse_field(*f.row, f.entry, value, &v->blocks[f.row->group].bytes, f.base, &why))
    return true;
  *error = f.path + ": " + (value.empty() ? "an empty value" : value) + " is " + why;
  return false;
}

// The link mode the edits ask for; 0 when they leave it (or ask for one that cannot be set).
int edited_link_mode(const std::vector<Edit>& edits) {
  PortView scratch;
  std::string unused;
  for (const Edit& e : edits) {
    const Field* f = resolve(e.field, 0, &unused);
    if (f && f->row->group == group::kLinkMode && lay(&scratch, *f, e.value, &unused))
      scratch.blocks[group::kLinkMode].known = true;
  }
  return link_mode(scratch);
}

// Where the bytes FF F0 begin in data, or -1.
int frame_end_at(const std::vector<unsigned char>& data) {
  for (std::size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == kIac && data[i + 1] == kSe) return static_cast<int>(i);
  return -1;
}

// Whether the field's own bytes, as its request carries them, hold FF F0 (or the value is
// not one of the field's).
bool unsendable_alone(const Field& f, const std::string& value, std::string* error) {
  PortView scratch;
  if (!lay(&scratch, f, value, error)) return true;
  if (frame_end_at(group_request(scratch, f.row->group).data) < 0) return false;
  *error = f.path + ": " + value +
           " cannot be sent: its bytes hold FF F0, which end a frame of the protocol";
  return true;
}

// The group whose request carries a group's bytes: the link mode goes with its layout.
int sent_group(const PortView& t, int g) {
  const int layout = layout_group(link_mode(t));
  return g == group::kLinkMode && layout >= 0 ? layout : g;
}

// The unit keeps Virtual COM only over a TCP link: in UDP and mode 4 it stores RAW instead.
bool tcp_mode_kept(const PortView& t, unsigned* needs, std::string* error) {
  const int mode = link_mode(t);
  if (t.blocks[group::kTcpMode].bytes[0] != kTcpModeVirtualCom) return true;
  if (mode == 0) *needs |= kGroupRows[group::kLinkMode].part;
  if (mode != kLinkUdp && mode != kLinkMode4) return true;
  *error =
      "tcp_mode: virtual-com is not kept in link mode " + mode_name(mode) + "; the unit stores raw";
  return false;
}

// A block whose first byte is 0 reads as a query where the command takes either (77, 76).
bool read_as_query(const Request& r) {
  const CommandRow* row = find_command(r.code);
  return row->request == RequestLength::kQueryOrBlock && !r.data.empty() && r.data[0] == 0;
}

}  // namespace

const std::vector<Field>& port_fields() {
  static const std::vector<Field> fields = expand_rows();
  return fields;
}

bool field_shown(const PortView& v, const Field& f) {
  const int layout = layout_mode(f.row->group);
  return v.blocks[f.row->group].known && (layout == 0 || layout == link_mode(v));
}

std::string field_text(const PortView& v, const Field& f, bool for_people) {
  return format_field(*f.row, v.blocks[f.row->group].bytes, f.base, for_people);
}

bool check_edit_values(const std::vector<Edit>& edits, std::string* error) {
  const int mode = edited_link_mode(edits);
  for (const Edit& e : edits) {
    const Field* f = resolve(e.field, mode, error);
    if (!f || unsendable_alone(*f, e.value, error)) return false;
  }
  return true;
}

bool plan_edits(const PortView& current, const std::vector<Edit>& edits, bool changed_only,
                EditPlan* plan, std::string* error) {
  *plan = EditPlan{current, {}, {}, 0, 0};
  PortView& t = plan->target;
  const int mode = edited_link_mode(edits);
  const auto known = [](const PortView& v, const Field& f) { return v.blocks[f.row->group].known; };

  std::vector<const Field*> edited;
  for (const Edit& e : edits) {
    const Field* f = resolve(e.field, mode ? mode : link_mode(current), error);
    if (!f) return false;
    // A value the port already holds is not sent, so it need not be one the unit would take
    // (a baud rate of 0 read from a station.ini without the key).
    const bool unchanged = changed_only && known(current, *f) &&
                           e.value == field_text(current, *f, false) &&
                           e.value == field_text(t, *f, false);
    if (!unchanged && (unsendable_alone(*f, e.value, error) || !lay(&t, *f, e.value, error)))
      return false;
    if (std::find(edited.begin(), edited.end(), f) == edited.end()) edited.push_back(f);
  }
  // A group the edits fill completely is known without reading it.
  for (int g = 0; g < group::kCount; ++g) {
    const auto of_g = [g](const Field& f) { return f.row->group == g; };
    long given = 0;
    for (const Field* f : edited) given += of_g(*f);
    if (given > 0 && given == std::count_if(port_fields().begin(), port_fields().end(), of_g))
      t.blocks[g].known = true;
  }
  // In the order the requests go out; a UDP entry's fields together.
  std::stable_sort(edited.begin(), edited.end(), [](const Field* a, const Field* b) {
    return a->row->group != b->row->group ? a->row->group < b->row->group : a < b;
  });

  std::vector<int> send;  // groups, in order
  for (const Field* f : edited) {
    FieldChange c{f->path, known(current, *f) ? field_text(current, *f, false) : "-",
                  field_text(t, *f, false)};
    c.differs = c.from != c.to;
    plan->changes.push_back(c);
    if (!c.differs && changed_only) continue;
    const int g = sent_group(t, f->row->group);
    if (std::find(send.begin(), send.end(), g) == send.end()) send.push_back(g);
  }

  // What current must hold first: the groups that go whole, and the link mode.
  for (int g : send) {
    if (t.blocks[g].known) continue;
    if (!(current.read & kGroupRows[g].part))
      plan->needs_read |= kGroupRows[g].part;
    else
      plan->needs_layout = layout_mode(g);
  }
  if (std::find(send.begin(), send.end(), group::kTcpMode) != send.end() &&
      !tcp_mode_kept(t, &plan->needs_read, error))
    return false;
  if (plan->needs_read || plan->needs_layout) return true;

  std::sort(send.begin(), send.end());
  for (int g : send) {
    const Request r = group_request(t, g);
    if (read_as_query(r)) {
      const Field& flag =
          *std::find_if(port_fields().begin(), port_fields().end(),
                        [g](const Field& f) { return f.row->group == g && f.row->at.offset == 0; });
      *error = flag.path + ": " + field_text(t, flag, false) +
               " cannot be sent: the unit takes a delimiter block whose flag has a low byte of "
               "0 as a query and stores nothing; give a flag whose low byte is not 0";
      return false;
    }
    // FF F0 across two fields (each alone was checked): name the one whose last byte is FF.
    const int at = frame_end_at(r.data) - (kGroupRows[g].tag >= 0 ? 1 : 0);
    for (const Field& f : port_fields())
      if (f.row->group == g && f.base + f.row->at.offset + field_width(*f.row) == at + 1) {
        *error = f.path + ": " + field_text(t, f, false) +
                 " cannot be sent: its last byte and the next field's first make FF F0, which "
                 "end a frame of the protocol";
        return false;
      }
    plan->requests.push_back(r);
  }
  return true;
}

ReadOutcome check_change_replies(const std::vector<Request>& requests,
                                 const std::vector<ReplyGroup>& groups, std::size_t* failed,
                                 std::string* why) {
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Request& r = requests[i];
    *failed = i;
    if (i >= groups.size() || groups[i].size() != 1) {
      *why = std::string("no reply to ") + command_name(r.code);
      return ReadOutcome::kUnexpected;
    }
    const ReplyFrame& f = groups[i][0];
    if (f.code == kErrorReplyCode) {
      *why = command_name(r.code);
      return ReadOutcome::kRefused;
    }
    const bool echoed = f.code == r.code + kReplyOffset && f.data.size() >= r.data.size() &&
                        std::equal(r.data.begin(), r.data.end(), f.data.begin());
    if (!echoed) {
      *why = std::string(command_name(r.code)) + ": asked for " +
             hex_bytes(r.data.data(), r.data.size(), " ") + ", the unit answered " +
             hex_bytes(f.data.data(), f.data.size(), " ");
      return ReadOutcome::kUnexpected;
    }
  }
  return ReadOutcome::kOk;
}
