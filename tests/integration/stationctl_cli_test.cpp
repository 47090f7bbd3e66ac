// stationctl, the real executable (through the emulator on a cross build), against the
// simulator in the test's own namespaces.
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/sim_harness.h"

namespace {

const std::string eth0 = std::string("-H ") + kEth0Address;
std::vector<std::string> words(const std::string& line) {  // '~': a space inside a word
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w; out.push_back(w)) std::replace(w.begin(), w.end(), '~', ' ');
  return out;
}

struct CtlRun {
  int status = -1;  // exit status; -1 when it did not end in time
  std::string out, err;
  std::string all() const { return std::to_string(status) + out + err; }
};

// No terminal to prompt on, standard input from /dev/null, the password (if any) in the env.
CtlRun stationctl(const std::string& line, const char* password = "quillet") {
  std::vector<std::string> command = {"env", "-u", "STATIONCTL_NEW_PASSWORD",
                                      "-uSTATIONCTL_PASSWORD", "setsid"};
  if (password) command[3] = std::string("STATIONCTL_PASSWORD=") + password;
  for (const std::string& w : program_command("stationctl", words(line))) command.push_back(w);
  CtlRun run;
  const int status = run_to_end(command, &run.out, &run.err, 60000);
  run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class Stationctl : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(start_simulator());
  }
  void expect_shown(const std::string& extra, const std::vector<std::string>& lines) {
    const CtlRun r = stationctl("show " + extra);  // its status: the new password's show
    for (const std::string& l : lines) EXPECT_NE(r.out.find(l), std::string::npos) << l << r.all();
  }
  std::string file(const std::string& name, const std::string& text) {
    write_file(dir_->file(name), text);
    return dir_->file(name);
  }
  // station.ini holds each "SECTION/key=value" of the line.
  void expect_ini(const std::string& line) {
    for (const std::string& e : words(line)) {
      const std::string in = "\n" + section(e.substr(0, e.find('/'))), key = e.substr(e.find('/'));
      EXPECT_NE(in.find("\n" + key.substr(1) + "\n"), std::string::npos) << e << "\n" << ini();
    }
  }
};

// Every set reaches station.ini, a link set with the layout of its new mode (queried where the
// set leaves fields); apply takes a port back, or to another; a new password replaces the old.
TEST_F(Stationctl, SetsReachTheUnitAndApplyAndDiffRoundTrip) {
  ASSERT_EQ(stationctl("set delimiter tcp --flag 1").status, 0);  // a flag of 0 cannot be sent
  ASSERT_EQ(stationctl("set tcp-mode virtual-com").status, 0);    // kept only after a link mode
  const std::string before = file("before.json", stationctl("show --json").out);
  const std::string sets[][2] = {
      {"set serial --baud 115200 --data-bits 7 --parity even --stop-bits 2 --flow rts-cts",
       "COM1/com_flow_control=RTS/CTS"},
      {"set interface rs422", "COM1/com_uart_mode=RS-422"},
      {"set link tcp-client --dest1-ip 10.77.1.1 --dest2 on", "COM1/com_des1_ip=10.77.1.1"},
      {"set delimiter uart --flag 2 --timer 50 --chars 0d --max-bytes 512",
       "+COM1/uart_deli_char=0x0d"},
      {"set snmp --name bench~unit --location \x19\x1a~\"\\/ --contact ops",
       "SNMP/sysName=bench~unit"},
      {eth0 + " set net --ip 10.77.0.9 --gateway 10.77.0.254 --netmask 255.255.0.0", ""},
      {"set link tcp-server --max-connections 4", "COM1/com_max_connection=4"},
      {"set tcp-mode raw", "COM1/com_tcp_mode=RAW"},  // virtual-com would stay in UDP
      {"set link udp --local-port 5000 --entry 3 --enable on --dest-port 6000 --begin-ip "
       "10.77.1.10 --end-ip 10.77.1.20",
       "COM1/com_udp3_des_ed_ip=10.77.1.20"},
      {"set alias press~4", ""}};  // in memory only, until the next get-all
  for (const auto& [line, ini] : sets) {
    EXPECT_EQ(stationctl(line).all(), "0") << line;
    expect_ini(ini);
  }
  expect_shown("", {"Alias                 \"press 4\"  [memory only]\n"});
  // What a set leaves of a link mode keeps what station.ini holds for it.
  expect_ini(
      "COM1/com_baud_rate=115200 COM1/com_data_bit=7 COM1/com_parity=Even COM1/com_stop_bit=2 "
      "COM1/com_des2_enable=1 COM1/com_des2_port=4660 COM1/com_local_port=4660 "
      "COM1/com_udp_local_port=5000 COM1/com_udp2_des_port=4660");
  expect_shown(eth0, {"  entry  enabled  port  first address  last address\n"
                      "  1      on       4660  0.0.0.0        0.0.0.0\n",
                      "  max bytes           512\n", "Gateway (eth0)        10.77.0.254\n"});
  const std::string after = file("after.json", stationctl("show --json").out);

  const CtlRun applied = stationctl("apply --json " + before);
  ASSERT_EQ(applied.status, 0) << applied.err;
  EXPECT_NE(applied.out.find("\"tcp_mode\": \"virtual-com\""), std::string::npos) << applied.out;
  const CtlRun diff = stationctl("diff " + after);
  EXPECT_EQ(diff.status, 1) << diff.err;
  for (const char* line :
       {"serial.baud: 9600 -> 115200\n", "link.mode: tcp-server -> udp\n",
        "link.entries[3].enable: - -> 1\n", "snmp.name: 020000000001 -> \"bench unit\"\n",
        "snmp.location: location -> \"\\u0019\\u001a \\\"\\\\/\"\n"})
    EXPECT_NE(diff.out.find(line), std::string::npos) << line << " in\n" << diff.out;
  EXPECT_EQ(stationctl("--port 2 apply " + after).status, 0);
  EXPECT_EQ(stationctl("--port 2 diff " + after).all(), "0");

  EXPECT_EQ(stationctl("set password --new-password-file " + file("pw", "sesame\n")).status, 0);
  EXPECT_EQ(stationctl("show").status, 3);
  EXPECT_EQ(stationctl("-u admin show", "sesame").status, 0);
}

// A whole unit cloned onto a second one: export, apply, and nothing left to differ; a changed
// copy differs in exactly its fields, a unit-wide one with no port.
TEST_F(Stationctl, ExportedUnitClonesOntoAnotherUnit) {
  ASSERT_EQ(stationctl("--port 2 set link udp --entry 3 --enable on --dest-port 7000").status, 0);
  ASSERT_EQ(stationctl("set snmp --name rack-a").status, 0);
  const std::string unit = file("unit.json", stationctl("export").out);
  std::string why;
  ASSERT_TRUE(copy_tree(fresh_root_template(&why), dir_->file("second"))) << why;
  std::filesystem::create_directory(dir_->file("second-out"));
  Simulator second(dir_->file("second"), dir_->file("second-out"));
  ASSERT_TRUE(second.start({"--port", "4000", "--daemon-only"}) && second.wait_listening(4000));
  EXPECT_EQ(stationctl("--tcp-port 4000 diff " + unit).status, 1);
  EXPECT_EQ(stationctl("--tcp-port 4000 apply " + unit).status, 0);
  EXPECT_EQ(stationctl("--tcp-port 4000 diff --json " + unit).all(), "0[]\n");
  std::string changed = read_file(unit);
  changed.replace(changed.find("rack-a"), 6, "rack-b");
  changed.replace(changed.find("7000"), 4, "7001");
  const CtlRun diff = stationctl("--tcp-port 4000 diff --json " + file("changed.json", changed));
  EXPECT_EQ(diff.status, 1) << diff.err;
  EXPECT_EQ(nlohmann::json::parse(diff.out, nullptr, false), nlohmann::json::parse(R"([
      {"port": null, "field": "snmp.name", "from": "rack-a", "to": "rack-b"},
      {"port": 2, "field": "link.entries[3].port", "from": "7000", "to": "7001"}])"));
}

// show, raw and each refusal (2: before anything is sent; 3: login refused; 4: the unit refused,
// or would: the stored addresses only over eth0; 5: no connection or no greeting), each with its
// message, leave the unit as it was and announce nothing.
TEST_F(Stationctl, ShowRawAndEachRefusalLeaveTheUnitAsItWas) {
  expect_shown(
      "", {"Baud rate             9600\n", "Link mode             TCP server\n",
           "  timer               32770\n  characters          0d 0a\n",
           "SNMP name             \"020000000001\"\n", "Option 79             1  [memory only]\n",
           "Stored addresses      shown only to a session that arrives on the unit's"});
  const std::tuple<int, std::string, const char*> cases[] = {
      {5, "--timeout 1 show", "no greeting"},  // held by another client, the daemon never greets
      {2, "set serial --baud 14400", "--baud: 14400 is not a rate the unit supports"},
      {2, "set serial --parity 7", "--parity: 7 is not one of"},
      {2, "set serial --data-bits 4", "--data-bits: 4 is not a number from 5 to 8"},
      {2, "set link udp --entry 1 --enable off", "--enable: off is refused: entry 1 is always"},
      {2, "set link udp --entry 9 --enable on", "--entry: 9 is not a UDP entry"},
      {2, "set snmp --name " + std::string(32, 'x'), "is not a text of at most 31 characters"},
      {2, "set net --netmask 255.255.240.0", "--netmask: 255.255.240.0 cannot be sent"},
      {2, "set link tcp-server --local-port 65280 --ip-filter 240", "65280 cannot be sent"},
      {2, "set delimiter tcp --timer 5", "delimiters.tcp.flag: 0 cannot be sent"},
      {2, "apply " + file("v", R"({"link":{"mode":"udp"},"tcp_mode":"virtual-com"})"), "not kept"},
      {2, "apply " + file("4", R"({"link": {"mode": "mode-4"}})"), "link.mode: mode-4 is not"},
      {2, "diff " + file("b", R"({"baud": 9600})"), "baud is not a setting"},
      {2, "diff " + file("s", R"({"serial": {"stop_bits": 1.0}})"), "stop_bits: 1.0 is not"},
      {2, "apply " + file("c", "{\"serial\": {\n\"baud\": 9600,}}"), "line 2:"},
      {2, "diff " + file("n", R"({"serial": {"baud": null}})"), "baud: null is not"},
      {2, "apply " + file("u", R"({"ports": [{"port": 2, "snmp": {"name": "x"}}]})"),
       "ports[1].snmp.name: a setting of the whole unit belongs under \"unit\""},
      {2, "apply " + file("2", R"({"ports": [{"port": 1}, {"port": 2, "serial": {"baud": 7}}]})"),
       "ports[2].serial.baud: 7 is not a rate"},
      {2, "set password --new-password-file " + file("p", "a\xFF\xF0z\n"), "holds the bytes FF F0"},
      {2, "set frobnicate", "cannot set frobnicate"},
      {2, "set interface rs232 rs485", "unexpected rs485"},
      {2, "raw fffa2c5", "raw needs frames as an even number of hex digits"},
      {2, "show --bogus", "unknown option --bogus"},
      {0, "show", "no password"},  // no password (status 2), and no terminal to ask on
      {4, "set net --ip 10.77.0.9", "arrived on its eth0"},
      {4, "apply " + file("e", R"({"serial":{"baud":57600},"net":{"ip":"10.77.0.9"}})"), "eth0"},
      {3, "--password-file " + file("w", "wrong\n") + " show", "login refused by 127.0.0.1:55960"},
      {5, "--tcp-port 1 show", "cannot connect to 127.0.0.1:1"},
  };
  auto holder = greeted_client(kLoopback);
  for (const auto& [status, line, message] : cases) {
    const CtlRun r = stationctl(line, status == 0 ? nullptr : "quillet");
    EXPECT_EQ(r.status, status == 0 ? 2 : status) << line;
    EXPECT_TRUE(r.err.rfind("stationctl: ", 0) == 0 && r.err.find(message) != r.err.npos) << r.err;
    holder.reset();
  }
  EXPECT_EQ(stationctl("").err.rfind("Usage: stationctl", 0), 0u);
  const CtlRun raw = stationctl("--port 2 raw fffa2c5e00fff0 ff:fa:2c:02:08:08:ff:f0");
  EXPECT_EQ(raw.out, "194 select-port     02\n180 error           02  (set-datasize refused)\n");
  EXPECT_EQ(stationctl("raw fffa2c5e").status, 0);  // a head without a tail expects nothing
  ASSERT_EQ(stationctl("--port 2 set serial --baud 19200").status, 0);
  ASSERT_TRUE(wait_for_text("var/log/forwarder.log", "2\n"));
  EXPECT_EQ(read_file(root_file("var/log/forwarder.log")), "2\n");  // nothing changed before
  EXPECT_NE(stationctl("export").out.find("\"baud\": 19200"), std::string::npos);  // each port
}

}  // namespace
