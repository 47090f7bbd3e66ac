// The commands of stationctl over one logged-in connection: show, set, apply, diff, raw.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cli.h"
#include "client/port_fields.h"
#include "client/port_json.h"
#include "model/port_record.h"
#include "protocol/frame_codec.h"

namespace {

constexpr int kRawGraceMs = 300;  // raw: how long to wait for replies nobody expected

// kExitOk for kOk; otherwise the status of the failure, its message printed.
int transport_status(const ControlConnection& c, ClientStatus status) {
  switch (status) {
    case ClientStatus::kOk:
      return kExitOk;
    case ClientStatus::kTimedOut:
      return fail(kExitConnection, "no reply from " + c.address + " within " +
                                       std::to_string(c.timeout_ms / 1000) + " s");
    case ClientStatus::kClosed:
      return fail(kExitConnection, c.address + " closed the connection");
    case ClientStatus::kBadRequest:
      return fail(kExitUsage,
                  "the request cannot be sent: it holds the bytes FF F0, or is too long");
    default:
      return fail(kExitConnection,
                  "connection to " + c.address + " failed (" + client_status_text(status) + ")");
  }
}

// Finds the login password, connects and logs in. kExitOk, or the status of the failure, its
// message printed.
int open_session(const Args& args, ControlConnection* c) {
  std::string password, why;
  if (!login_password(args.password_file, &password, &why)) return fail(kExitUsage, why);
  if (client_connect(c, args.host, args.tcp_port, args.timeout_s * 1000, &why) != ClientStatus::kOk)
    return fail(kExitConnection, "cannot connect to " + c->address + ": " + why);
  bool accepted = false;
  if (int st = transport_status(*c, client_login(c, args.user, password, &accepted))) return st;
  if (!accepted)
    return fail(kExitLogin, "login refused by " + c->address +
                                (args.user.empty() ? "" : " for user " + args.user));
  return kExitOk;
}

int read_port(ControlConnection* c, int port, unsigned parts, PortView* view) {
  std::vector<ReplyGroup> groups;
  if (int st = transport_status(*c, client_exchange(c, read_requests(port, parts), &groups)))
    return st;
  std::string why;
  const ReadOutcome outcome = decode_read(groups, port, parts, view, &why);
  if (outcome == ReadOutcome::kOk) return kExitOk;
  if (outcome == ReadOutcome::kRefused) return fail(kExitRefused, "the unit refused " + why);
  return fail(kExitConnection, why + " from " + c->address);
}

std::string eth0_only(const ControlConnection& c) {
  return "the unit changes its stored addresses only for a session that arrived on its eth0, "
         "and " +
         c.address + " is not eth0's address: connect to the unit's eth0 address";
}

Request select_port(int port) { return Request{kSelectPort, {static_cast<unsigned char>(port)}}; }

// Selects the port and sends the requests in one buffer; every reply must confirm its request.
int send_changes(ControlConnection* c, int port, const std::vector<Request>& requests) {
  std::vector<Request> all = {select_port(port)};
  all.insert(all.end(), requests.begin(), requests.end());
  std::vector<ReplyGroup> groups;
  if (int st = transport_status(*c, client_exchange(c, all, &groups))) return st;
  std::size_t failed = 0;
  std::string why;
  const ReadOutcome outcome = check_change_replies(all, groups, &failed, &why);
  if (outcome == ReadOutcome::kOk) return kExitOk;
  if (outcome == ReadOutcome::kUnexpected)
    return fail(kExitRefused, "the unit did not take the change: " + why);
  if (all[failed].code == kNetAddress) return fail(kExitRefused, eth0_only(*c));
  return fail(kExitRefused,
              "the unit refused " + why + " (code " + std::to_string(all[failed].code) + ")");
}

// plan_edits, reading first what it needs of the port: the groups that go whole, the link
// mode, and the layout of a new link mode (a query the unit announces as a change).
int plan(ControlConnection* c, int port, PortView* current, const std::vector<Edit>& edits,
         bool changed_only, EditPlan* out, const std::string& context = "") {
  std::string error;
  for (int round = 0;; ++round) {
    if (!plan_edits(*current, edits, changed_only, out, &error))
      return fail(kExitUsage, context + error);
    if (out->needs_read == 0 && out->needs_layout == 0) return kExitOk;
    if (round == 3) return fail(kExitConnection, "the port's settings unknown after reading them");
    if (out->needs_read != 0) {
      if (int st = read_port(c, port, out->needs_read, current)) return st;
      continue;
    }
    std::vector<ReplyGroup> groups;
    const std::vector<Request> query = {select_port(port), layout_query(out->needs_layout)};
    if (int st = transport_status(*c, client_exchange(c, query, &groups))) return st;
    if (!decode_layout(groups[1], out->needs_layout, current))
      return fail(kExitConnection, "unexpected reply to link-mode from " + c->address);
  }
}

}  // namespace

// The value options of the set commands: each with the form of its value, its help and the
// field it changes (for a UDP entry's options, the entry's field). The command line declares
// them from here; build_set turns them into edits.
const std::vector<OptionField> kSerialOptions = {
    {"baud", "N", "", "serial.baud"},
    {"data-bits", "N", "5, 6, 7 or 8", "serial.data_bits"},
    {"parity", "P", "none, odd, even, mark or space", "serial.parity"},
    {"stop-bits", "N", "1 or 2", "serial.stop_bits"},
    {"flow", "F", "none, xon-xoff or rts-cts", "serial.flow"}};
const std::vector<OptionField> kServerOptions = {
    {"local-port", "N", "the port it listens on", "link.local_port"},
    {"ip-filter", "on|off", "admit only the source address", "link.ip_filter"},
    {"source-ip", "A", "the address admitted", "link.source_ip"},
    {"max-connections", "N", "clients at once", "link.max_connections"}};
const std::vector<OptionField> kClientOptions = {
    {"dest1-ip", "A", "destination 1", "link.dest1_ip"},
    {"dest1-port", "N", "its port", "link.dest1_port"},
    {"dest2", "on|off", "whether destination 2 is used", "link.dest2_enable"},
    {"dest2-ip", "A", "destination 2", "link.dest2_ip"},
    {"dest2-port", "N", "its port", "link.dest2_port"}};
const std::vector<OptionField> kUdpOptions = {
    {"local-port", "N", "the port it receives on", "link.local_port"},
    {"entry", "K", "the destination range (1 to 8) the next options change", ""},
    {"enable", "on|off", "whether the range is used", "enable"},
    {"dest-port", "N", "its port", "port"},
    {"begin-ip", "A", "its first address", "begin_ip"},
    {"end-ip", "A", "its last address", "end_ip"}};
const std::vector<OptionField> kDelimiterOptions = {
    {"flag", "N", "its flag", "flag"},
    {"timer", "N", "its timer", "timer"},
    {"chars", "HEX", "its characters: none, one or two bytes", "chars"},
    {"max-bytes", "N", "the most bytes in a packet", "max_bytes"}};
const std::vector<OptionField> kSnmpOptions = {{"name", "TEXT", "sysName", "snmp.name"},
                                               {"location", "TEXT", "sysLocation", "snmp.location"},
                                               {"contact", "TEXT", "sysContact", "snmp.contact"}};
const std::vector<OptionField> kNetOptions = {{"ip", "A", "the address", "net.ip"},
                                              {"gateway", "A", "the gateway", "net.gateway"},
                                              {"netmask", "A", "the netmask", "net.netmask"}};
const std::vector<OptionField> kPasswordOptions = {
    {"new-password-file", "FILE", "the file whose first line is the new password", ""}};

namespace {

// What a set command line asks for.
struct SetRequest {
  std::vector<Edit> edits;
  std::vector<std::pair<std::string, std::string>> option_of;  // field, "--option"
  bool wants_new_password = false;
};

bool take_options(const Args& args, const std::vector<OptionField>& table,
                  const std::string& prefix, SetRequest* out, std::string* error) {
  const bool udp_entries = &table == &kUdpOptions;
  int entry = 0;
  for (const auto& [name, value] : args.options) {
    if (udp_entries && name == "entry") {
      if (value.size() != 1 || value[0] < '1' || value[0] > '8')
        return (*error = "--entry: " + value + " is not a UDP entry (1 to 8)"), false;
      entry = value[0] - '0';
      continue;
    }
    const OptionField* f = &table.front();  // the command line admits only the table's
    for (const OptionField& o : table)
      if (name == o.option) f = &o;
    std::string field = prefix + f->field;
    if (udp_entries && name != "local-port") {
      if (entry == 0) return (*error = "--" + name + " needs --entry K before it"), false;
      field = "link.entries[" + std::to_string(entry) + "]." + f->field;
    }
    out->edits.push_back(Edit{field, value});
    out->option_of.emplace_back(field, "--" + name);
  }
  return true;
}

bool build_set(const Args& args, SetRequest* out, std::string* error) {
  const std::vector<std::string>& w = args.words;
  const std::string what = w.size() > 1 ? w[1] : "";
  const std::string arg = w.size() > 2 ? w[2] : "";
  std::size_t words = 2;  // words the command uses
  bool ok = true;
  if (what == "serial") {
    ok = take_options(args, kSerialOptions, "", out, error);
  } else if (what == "interface" || what == "tcp-mode") {
    words = 3;
    out->edits.push_back(Edit{what == "interface" ? "interface" : "tcp_mode", arg});
    if (arg.empty()) return (*error = "set " + what + " needs a value"), false;
  } else if (what == "link") {
    words = 3;
    out->edits.push_back(Edit{"link.mode", arg});
    const std::vector<OptionField>* table = arg == "tcp-server"   ? &kServerOptions
                                            : arg == "tcp-client" ? &kClientOptions
                                            : arg == "udp"        ? &kUdpOptions
                                                                  : nullptr;
    if (!table) return (*error = "set link: tcp-server, tcp-client or udp"), false;
    ok = take_options(args, *table, "", out, error);
  } else if (what == "delimiter") {
    words = 3;
    if (arg != "uart" && arg != "tcp") return (*error = "set delimiter: uart or tcp"), false;
    ok = take_options(args, kDelimiterOptions, "delimiters." + arg + ".", out, error);
  } else if (what == "alias") {
    words = 3;
    if (w.size() < 3) return (*error = "set alias needs the text"), false;
    out->edits.push_back(Edit{"memory_only.alias", arg});
    out->option_of.emplace_back("memory_only.alias", "alias");
  } else if (what == "snmp") {
    ok = take_options(args, kSnmpOptions, "", out, error);
  } else if (what == "net") {
    ok = take_options(args, kNetOptions, "", out, error);
  } else if (what == "password") {
    out->wants_new_password = true;
  } else {
    *error = what.empty() ? "set what? (stationctl set --help)"
                          : "cannot set " + what + " (stationctl set --help)";
    return false;
  }
  if (!ok) return false;
  if (w.size() > words) return (*error = "unexpected " + w[words]), false;
  if (out->edits.empty() && !out->wants_new_password)
    return (*error = "set " + what + ": nothing to set (stationctl set " + what + " --help)"),
           false;
  return true;
}

// Messages name the option a person typed rather than the field behind it.
std::string in_option_terms(const SetRequest& set, const std::string& message) {
  for (const auto& [field, option] : set.option_of)
    if (message.rfind(field, 0) == 0) return option + message.substr(field.size());
  return message;
}

// Quotes a value that would read ambiguously in a diff line.
std::string shown(const std::string& value) {
  return value.empty() || value.find(' ') != std::string::npos ? json_quoted(value) : value;
}

void print_frame(const ReplyFrame& f) {
  std::string data = hex_bytes(f.data.data(), f.data.size(), " ");
  if (f.code == kErrorReplyCode && f.data.size() == 1)
    data += std::string("  (") + command_name(f.data[0]) + " refused)";
  char head[32];
  std::snprintf(head, sizeof head, "%3d %-15s ", f.code, command_name(f.code));
  std::string line = head + data;
  while (line.back() == ' ') line.pop_back();
  std::puts(line.c_str());
}

}  // namespace

bool read_text_file(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return (*error = "cannot read " + path + ": " + std::strerror(errno)), false;
  text->assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

int run_show(const Args& args) {
  ControlConnection c;
  PortView view;
  if (int st = open_session(args, &c)) return st;
  if (int st = read_port(&c, args.port, kReadAll, &view)) return st;
  std::fputs((args.json ? port_view_json(view) : show_table(view)).c_str(), stdout);
  return kExitOk;
}

int run_set(const Args& args) {
  SetRequest set;
  std::string error, fresh;
  if (!build_set(args, &set, &error) || !check_edit_values(set.edits, &error))
    return fail(kExitUsage, in_option_terms(set, error));
  if (set.wants_new_password) {
    if (!new_password(args.options.empty() ? "" : args.options[0].second, &fresh, &error))
      return fail(kExitUsage, error);
    const std::string keeps = std::to_string(name_password::kPasswordMax);
    if (fresh.size() > name_password::kPasswordMax)
      return fail(kExitUsage, "the new password is longer than " + keeps +
                                  " characters: the unit keeps " + keeps +
                                  ", and the longer one would never log in");
    if (fresh.find(' ') != std::string::npos)
      return fail(kExitUsage,
                  "the new password holds a space: the unit would read a login "
                  "with it as a user name and a password");
  }

  ControlConnection c;
  if (int st = open_session(args, &c)) return st;
  PortView current;
  current.port = args.port;
  EditPlan p;
  if (int st = plan(&c, args.port, &current, set.edits, false, &p)) return st;
  if (set.wants_new_password) {  // sub-command, text and its NUL
    Request r{kNamePassword, {name_password::kPassword}};
    r.data.insert(r.data.end(), fresh.begin(), fresh.end());
    r.data.push_back(0);
    p.requests.push_back(r);
  }
  return send_changes(&c, args.port, p.requests);
}

int run_export(const Args& args) {
  if (args.port_given) return fail(kExitUsage, "export prints every port: no --port");
  ControlConnection c;
  if (int st = open_session(args, &c)) return st;
  std::vector<PortView> ports(kPortCount);
  for (int port = 1; port <= kPortCount; ++port)
    if (int st = read_port(&c, port, kReadAll, &ports[port - 1])) return st;
  std::fputs(unit_view_json(ports).c_str(), stdout);
  return kExitOk;
}

namespace {

// One port's part of an apply or diff: its edits, read and planned before anything is sent.
struct PortJob {
  int port;
  std::vector<Edit> edits;
  PortView current;
  EditPlan plan;
};

// A message about a field (it begins with the field's path) with the path in a unit document.
std::string located(const std::string& message, bool unit_document, std::size_t job) {
  if (!unit_document) return message;
  return (unit_wide(message) ? "unit." : "ports[" + std::to_string(job + 1) + "].") + message;
}

std::vector<PortJob> jobs_of(const DocumentEdits& d, int chosen_port) {
  std::vector<PortJob> jobs;
  for (const PortEdits& p : d.ports)
    jobs.push_back(PortJob{p.port ? p.port : chosen_port, p.edits, {}, {}});
  if (jobs.empty()) jobs.push_back(PortJob{chosen_port, {}, {}, {}});
  // The unit-wide edits of a unit document go once, with the first port.
  jobs[0].edits.insert(jobs[0].edits.begin(), d.unit_edits.begin(), d.unit_edits.end());
  return jobs;
}

// diff: one line per change, "port N " before a port's own field in a unit document; with
// --json a list of {"port", "field", "from", "to"}, the port null for a unit-wide field.
int print_differences(const std::vector<PortJob>& jobs, bool unit_document, bool json) {
  std::vector<DiffLine> lines;
  for (const PortJob& job : jobs)
    for (const FieldChange& c : job.plan.changes)
      if (c.differs) lines.push_back(DiffLine{unit_wide(c.field) ? 0 : job.port, c});
  if (json) {
    std::fputs(diff_json(lines).c_str(), stdout);
  } else {
    for (const DiffLine& l : lines) {
      const std::string where =
          unit_document && l.port ? "port " + std::to_string(l.port) + " " : "";
      std::printf("%s%s: %s -> %s\n", where.c_str(), l.change.field.c_str(),
                  shown(l.change.from).c_str(), shown(l.change.to).c_str());
    }
  }
  return lines.empty() ? kExitOk : kExitDiffers;
}

}  // namespace

int run_apply(const Args& args, bool only_diff) {
  const char* command = only_diff ? "diff" : "apply";
  std::string error, text;
  if (args.words.size() != 2)
    return fail(kExitUsage, std::string(command) + " needs one FILE.json");
  const std::string& file = args.words[1];
  DocumentEdits document;
  if (!read_text_file(file, &text, &error)) return fail(kExitUsage, error);
  if (!document_edits(text, &document, &error)) return fail(kExitUsage, file + ": " + error);
  if (document.unit_document && args.port_given)
    return fail(kExitUsage, file + " is a unit document: its ports say where they go, not --port");
  std::vector<PortJob> jobs = jobs_of(document, args.port);
  for (std::size_t i = 0; i < jobs.size(); ++i)
    if (!check_edit_values(jobs[i].edits, &error))
      return fail(kExitUsage, file + ": " + located(error, document.unit_document, i));

  ControlConnection c;
  if (int st = open_session(args, &c)) return st;
  // Every port is read and planned first: a value one of them refuses stops all before
  // anything is sent. The values are checked against the port's: one it holds is not sent.
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    PortJob& job = jobs[i];
    if (int st = read_port(&c, job.port, kReadAll, &job.current)) return st;
    if (!plan_edits(job.current, job.edits, true, &job.plan, &error))
      return fail(kExitUsage, file + ": " + located(error, document.unit_document, i));
    // apply also reads what a group that goes whole lacks, and a new link mode's layout.
    const bool incomplete = job.plan.needs_read != 0 || job.plan.needs_layout != 0;
    if (!only_diff && incomplete)
      if (int st = plan(&c, job.port, &job.current, job.edits, true, &job.plan, file + ": "))
        return st;
  }
  if (only_diff) return print_differences(jobs, document.unit_document, args.json);
  for (const PortJob& job : jobs)
    for (const Request& r : job.plan.requests)
      if (r.code == kNetAddress && !job.current.blocks[group::kIp].known)
        return fail(kExitRefused, eth0_only(c));
  std::vector<PortView> results;
  for (const PortJob& job : jobs) {
    if (!job.plan.requests.empty())
      if (int st = send_changes(&c, job.port, job.plan.requests)) return st;
    results.emplace_back();
    if (int st = read_port(&c, job.port, kReadAll, &results.back())) return st;
  }
  std::string shown_ports;  // each as show prints it, a blank line between
  for (const PortView& v : results)
    shown_ports +=
        (shown_ports.empty() ? "" : "\n") + (args.json ? port_view_json(v) : show_table(v));
  const bool one_document = document.unit_document && args.json;
  std::fputs((one_document ? unit_view_json(results) : shown_ports).c_str(), stdout);
  return kExitOk;
}

int run_raw(const Args& args) {
  std::vector<unsigned char> bytes;
  std::string hex;
  for (std::size_t i = 1; i < args.words.size(); ++i) hex += args.words[i];
  if (!parse_hex(hex, &bytes) || bytes.empty())
    return fail(kExitUsage,
                "raw needs frames as an even number of hex digits, such as fffa2c5e00fff0");
  const std::string most = std::to_string(kReceiveBufferSize);
  if (bytes.size() > static_cast<std::size_t>(kReceiveBufferSize))
    return fail(kExitUsage,
                "more than " + most + " bytes: the unit reads at most " + most + " at once");

  // The replies to expect, frame by frame as the unit's dispatcher cuts the buffer.
  int expected = 0;
  for (int pos = 0, n = static_cast<int>(bytes.size()); pos < n;) {
    int length = 0;
    const unsigned char* data = nullptr;
    const int code = scan_frame(bytes.data() + pos, n - pos, &length, &data);
    if (code < 0) break;
    const int k = reply_frames(code, data, length - kFrameOverhead);
    if (k < 0) break;  // the unit stops at a code it does not serve
    expected += k;
    pos += length;
  }

  ControlConnection c;
  if (int st = open_session(args, &c)) return st;
  if (args.port_given)
    if (int st = send_changes(&c, args.port, {})) return st;
  if (int st = transport_status(c, client_send(&c, bytes))) return st;
  ReplyFrame f;
  for (int got = 0; got < expected; ++got) {
    const ClientStatus status = client_next_frame(&c, c.timeout_ms, &f);
    if (status != ClientStatus::kOk) {
      std::fflush(stdout);
      return fail(kExitConnection, std::to_string(got) + " of " + std::to_string(expected) +
                                       " reply frames arrived from " + c.address + " (" +
                                       client_status_text(status) + ")");
    }
    print_frame(f);
  }
  while (client_next_frame(&c, kRawGraceMs, &f) == ClientStatus::kOk) print_frame(f);
  return kExitOk;
}
