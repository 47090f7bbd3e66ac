// stationctl, the real executable (through the emulator on a cross build), against the
// simulator in the test's own namespaces: show, every set, apply and diff round trips, and
// each exit status with its message.
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include "client/json.h"
#include "storage/inifile.h"
#include "support/sim_harness.h"

namespace {

struct CtlRun {
  int status = -1;  // exit status; -1 when it did not end in time
  std::string out, err;
};

std::vector<std::string> split_words(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Runs stationctl with standard input from /dev/null, without a controlling terminal (it
// must not prompt) and with the password (when given) in STATIONCTL_PASSWORD.
CtlRun stationctl(const std::vector<std::string>& args, const char* password = "quillet",
                  const std::vector<std::string>& env = {}) {
  std::vector<std::string> command = {"env", "-u", "STATIONCTL_PASSWORD"};
  if (password) command.push_back(std::string("STATIONCTL_PASSWORD=") + password);
  command.insert(command.end(), env.begin(), env.end());
  command.push_back("setsid");
  for (const std::string& word : program_command("stationctl", args)) command.push_back(word);
  CtlRun run;
  const int status = run_to_end(command, &run.out, &run.err, 60000);
  run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// A member of a JSON object by dotted path ("serial.baud"); its text, or "(missing)".
std::string at(const JsonValue& v, const std::string& path) {
  const JsonValue* cur = &v;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t dot = path.find('.', start);
    const std::string key = path.substr(start, dot - start);
    const JsonValue* next = nullptr;
    for (const auto& [k, m] : cur->members)
      if (k == key) next = &m;
    if (!next) return "(missing)";
    cur = next;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return cur->text;
}

using Pairs = std::vector<std::pair<const char*, const char*>>;

void expect_members(const JsonValue& v, const Pairs& expected) {
  for (const auto& [path, text] : expected) EXPECT_EQ(at(v, path), text) << path;
}

class Stationctl : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(start_simulator());
  }
  // show --json with the extra words, parsed.
  JsonValue show(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"show", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CtlRun r = stationctl(args);
    EXPECT_EQ(r.status, 0) << r.err;
    JsonValue v;
    std::string error;
    EXPECT_TRUE(json_parse(r.out, &v, &error)) << error << "\n" << r.out;
    return v;
  }
  // Each "SECTION/key" of station.ini holds its value.
  void expect_ini(const Pairs& expected) {
    for (const auto& [name, text] : expected) {
      const std::string where = name, section = where.substr(0, where.find('/'));
      char value[64] = "";
      read_profile_string(section.c_str(), where.substr(section.size() + 1).c_str(), value,
                          sizeof value, "(missing)", root_file("mnt/jffs2/station.ini").c_str());
      EXPECT_STREQ(value, text) << name;
    }
  }
  std::string forwarder() { return read_file(root_file("var/log/forwarder.log")); }
};

TEST_F(Stationctl, ShowReadsThePortWithoutAnnouncingAChange) {
  const CtlRun table = stationctl({"show"});
  ASSERT_EQ(table.status, 0) << table.err;
  for (const char* text :
       {"Port                  COM1\n", "Baud rate             9600\n",
        "Link mode             TCP server\n  local port          4660\n",
        "UART delimiter\n  flag                1\n", "  characters          0d 0a\n",
        "Stored addresses      shown only to a session that arrives on the unit's eth0\n",
        "Option 79             1  [memory only]\n"})
    EXPECT_NE(table.out.find(text), std::string::npos) << text << " in\n" << table.out;
  EXPECT_EQ(table.err, "");
  // Over eth0 the stored addresses are shown too.
  expect_members(show({"-H", kEth0Address}), {{"port", "1"},
                                              {"net.ip", "192.168.1.254"},
                                              {"net.netmask", "255.255.255.0"},
                                              {"link.local_port", "4660"},
                                              {"delimiters.uart.timer", "32770"},
                                              {"snmp.name", "020000000001"}});
  // Nothing was announced: notices arrive in order, and the first is the set's, for COM2.
  ASSERT_EQ(stationctl({"--port", "2", "set", "serial", "--baud", "19200"}).status, 0);
  ASSERT_TRUE(wait_for_text("var/log/forwarder.log", "2\n"));
  EXPECT_EQ(forwarder(), "2\n");
  expect_members(show({"--port", "2"}),
                 {{"port", "2"}, {"serial.baud", "19200"}, {"link.local_port", "4661"}});
}

TEST_F(Stationctl, EverySetReachesTheUnit) {
  const std::vector<std::vector<std::string>> sets = {
      {"set", "serial", "--baud", "115200", "--data-bits", "7", "--parity", "even", "--stop-bits",
       "2", "--flow", "rts-cts"},
      {"--port", "2", "set", "interface", "rs422"},
      {"set", "link", "tcp-client", "--dest1-ip", "10.77.1.1", "--dest1-port", "4001", "--dest2",
       "on", "--dest2-ip", "10.77.1.2", "--dest2-port", "4002"},
      {"set", "tcp-mode", "virtual-com"},
      {"set", "delimiter", "uart", "--flag", "2", "--timer", "50", "--chars", "0d", "--max-bytes",
       "512"},
      {"set", "delimiter", "tcp", "--flag", "1"},
      {"set", "snmp", "--name", "bench unit", "--location", "lab 2", "--contact", "ops"},
      {"-H", kEth0Address, "set", "net", "--ip", "10.77.0.9", "--gateway", "10.77.0.254",
       "--netmask", "255.255.0.0"},
  };
  for (const auto& args : sets) {
    const CtlRun r = stationctl(args);
    EXPECT_EQ(r.status, 0) << args[1] << ": " << r.err;
    EXPECT_EQ(r.out + r.err, "");
  }
  expect_ini({{"COM1/com_baud_rate", "115200"},
              {"COM1/com_parity", "Even"},
              {"COM1/com_stop_bit", "2"},
              {"COM1/com_flow_control", "RTS/CTS"},
              {"COM2/com_uart_mode", "RS-422"},
              {"COM1/com_link_mode", "TCP_Client"},
              {"COM1/com_des2_port", "4002"},
              {"COM1/com_tcp_mode", "Virtual_COM"},
              {"+COM1/uart_deli_char", "0x0d"},
              {"+COM1/tcp_deli_flag", "1"},
              {"SNMP/sysName", "bench unit"}});
  expect_members(show({"-H", kEth0Address}), {{"serial.data_bits", "7"},
                                              {"link.dest2_enable", "1"},
                                              {"delimiters.uart.max_bytes", "512"},
                                              {"net.gateway", "10.77.0.254"}});

  // UDP: fields not given keep what station.ini holds for the mode; entry by entry.
  ASSERT_EQ(
      stationctl({"set", "link", "udp", "--local-port", "5000", "--entry", "3", "--enable", "on",
                  "--dest-port", "6000", "--begin-ip", "10.77.1.10", "--end-ip", "10.77.1.20"})
          .status,
      0);
  expect_ini({{"COM1/com_udp3_des_ed_ip", "10.77.1.20"}, {"COM1/com_udp2_des_port", "4660"}});
  ASSERT_EQ(stationctl({"set", "link", "tcp-server", "--max-connections", "4"}).status, 0);
  expect_ini({{"COM1/com_local_port", "4660"}, {"COM1/com_max_connection", "4"}});

  // The alias lives in memory until the next get-all: show reads it before its own.
  ASSERT_EQ(stationctl({"set", "alias", "press 4"}).status, 0);
  EXPECT_EQ(at(show(), "memory_only.alias"), "press 4");
  EXPECT_EQ(at(show(), "memory_only.alias"), "");

  // A new password: the old one no longer logs in.
  const CtlRun pw = stationctl({"set", "password"}, "quillet", {"STATIONCTL_NEW_PASSWORD=sesame"});
  ASSERT_EQ(pw.status, 0) << pw.err;
  EXPECT_EQ(stationctl({"show"}).status, 3);
  EXPECT_EQ(stationctl({"-u", "admin", "show"}, "sesame").status, 0);

  EXPECT_TRUE(wait_for_text("var/log/forwarder.log", "2\n"));  // the interface set on COM2
}

TEST_F(Stationctl, ApplyAndDiffRoundTrip) {
  const CtlRun saved = stationctl({"show", "--json"});
  ASSERT_EQ(saved.status, 0) << saved.err;
  const std::string file = dir_->file("port.json");
  write_file(file, saved.out);
  const CtlRun same = stationctl({"diff", file});
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.out, "");

  // Edit: a serial value, an SNMP text, and the link to UDP with two entries given.
  std::string edited = saved.out;
  const auto replace = [&](const std::string& from, const std::string& to) {
    const std::size_t at = edited.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    edited.replace(at, from.size(), to);
  };
  replace("\"baud\": 9600", "\"baud\": 57600");
  replace("\"contact\": \"contact\"", "\"contact\": \"desk 7\"");
  const std::size_t link = edited.find("\"link\": {");
  edited.replace(link, edited.find('}', link) + 1 - link,
                 R"("link": {"mode": "udp", "local_port": 7000, "entries": [
                      {"enable": 1, "port": 7001, "begin_ip": "10.0.0.1", "end_ip": "10.0.0.2"},
                      {"enable": 1, "port": 7002, "begin_ip": "10.0.0.3", "end_ip": "10.0.0.4"}]})");
  write_file(file, edited);

  const CtlRun diff = stationctl({"diff", file});
  EXPECT_EQ(diff.status, 1) << diff.err;
  for (const char* line :
       {"serial.baud: 9600 -> 57600\n", "link.mode: tcp-server -> udp\n",
        "link.entries[2].enable: - -> 1\n", "snmp.contact: contact -> \"desk 7\"\n"})
    EXPECT_NE(diff.out.find(line), std::string::npos) << line << " in\n" << diff.out;

  const CtlRun applied = stationctl({"apply", "--json", file});
  ASSERT_EQ(applied.status, 0) << applied.err;
  JsonValue after;
  std::string error;
  ASSERT_TRUE(json_parse(applied.out, &after, &error)) << error;
  expect_members(after,
                 {{"serial.baud", "57600"}, {"link.mode", "udp"}, {"snmp.contact", "desk 7"}});
  EXPECT_EQ(stationctl({"diff", file}).out, "");

  // The first file brings the port back, and applies to another port alike.
  write_file(file, saved.out);
  EXPECT_EQ(stationctl({"apply", file}).status, 0);
  EXPECT_EQ(stationctl({"diff", file}).status, 0);
  EXPECT_EQ(stationctl({"--port", "2", "diff", file}).out, "link.local_port: 4661 -> 4660\n");
}

TEST_F(Stationctl, EachFailureHasItsExitStatus) {
  // 2: refused before anything is sent; the unit keeps its settings and announces nothing.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"set", "serial", "--baud", "14400"},
           {"set", "serial", "--parity", "7"},
           {"set", "serial", "--stop-bits", "1.5"},
           {"set", "net", "--netmask", "255.255.240.0"},
           {"set", "link", "udp", "--entry", "1", "--enable", "off"},
           {"set", "delimiter", "tcp", "--timer", "5"},  // flag 0: the unit would read a query
           {"set", "frobnicate"},
           {"show", "--bogus"}}) {
    const CtlRun r = stationctl(args);
    EXPECT_EQ(r.status, 2) << args[1] << " " << (args.size() > 2 ? args[2] : "");
    EXPECT_EQ(r.err.rfind("stationctl: ", 0), 0u) << r.err;
    if (args.size() > 2 && args[2] == "--baud") {
      EXPECT_NE(r.err.find("--baud: 14400"), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(stationctl({"show"}, nullptr).status, 2);  // no password and no terminal to ask on
  expect_ini({{"COM1/com_baud_rate", "9600"}});

  // 3: a refused login.
  const CtlRun login = stationctl({"show"}, "wrong");
  EXPECT_EQ(login.status, 3);
  EXPECT_EQ(login.err, "stationctl: login refused by 127.0.0.1:55960\n");

  // 4: the unit refuses: stored addresses over loopback, not eth0.
  const CtlRun net = stationctl({"set", "net", "--ip", "10.77.0.9"});
  EXPECT_EQ(net.status, 4);
  EXPECT_NE(net.err.find("arrived on its eth0"), std::string::npos) << net.err;

  // 5: nothing listens; and a daemon held by another client never greets.
  const CtlRun refused = stationctl({"--tcp-port", "1", "show"});
  EXPECT_EQ(refused.status, 5);
  EXPECT_NE(refused.err.find("cannot connect to 127.0.0.1:1"), std::string::npos);
  auto holder = greeted_client(kLoopback);
  const CtlRun busy = stationctl({"--timeout", "1", "show"});
  EXPECT_EQ(busy.status, 5);
  EXPECT_NE(busy.err.find("no greeting"), std::string::npos) << busy.err;
  holder.reset();
  EXPECT_TRUE(forwarder().empty());
}

TEST_F(Stationctl, RawPrintsEachReplyFrame) {
  const CtlRun r = stationctl({"--port", "2", "raw", "fffa2c5e00fff0", "ff:fa:2c:02:08:08:ff:f0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "194 select-port     02\n"
            "180 error           02  (set-datasize refused)\n");
  EXPECT_EQ(stationctl({"raw", "fffa2c5e"}).status, 0);  // a head without a tail: nothing to expect
  EXPECT_EQ(stationctl({"raw", "fffa2c5"}).status, 2);
}

TEST(StationctlUsage, HelpOnEveryLevelAndUsageWithoutACommand) {
  const CtlRun bare = stationctl({});
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.err.rfind("Usage: stationctl", 0), 0u);
  for (const char* level : {"", "show", "set", "set serial", "set link", "set link udp",
                            "set delimiter", "set password", "apply", "diff", "raw"}) {
    std::vector<std::string> args = split_words(level);
    args.push_back("--help");
    const CtlRun r = stationctl(args);
    EXPECT_EQ(r.status, 0) << level;
    EXPECT_EQ(r.out.rfind("Usage: stationctl " + std::string(level), 0), 0u) << r.out;
    EXPECT_EQ(r.out.find('{'), std::string::npos) << r.out;  // every fact filled in
  }
  // The facts the help takes from the protocol's description.
  EXPECT_NE(stationctl({"--help"}).out.find("(default " + std::to_string(kControlPort) + ")"),
            std::string::npos);
  EXPECT_NE(stationctl({"set", "serial", "--help"}).out.find("300 600 1200"), std::string::npos);
  EXPECT_NE(stationctl({"raw", "--help"}).out.find("96 get-all         15"), std::string::npos);
}

}  // namespace
