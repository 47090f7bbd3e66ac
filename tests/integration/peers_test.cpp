// stationd-sim --peers against real receivers inside the test's network namespace: net-snmp's
// snmptrapd gets the traps, a small SMTP server (smtp_sink.py) the mail. Host build only:
// under the emulator or the sanitizers the peers add nothing but time.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "storage/inifile.h"
#include "support/sim_harness.h"

namespace {

constexpr char kTrapd[] = "/usr/sbin/snmptrapd";
constexpr char kPython[] = "/usr/bin/python3";
constexpr uint16_t kSmtpPort = 2525;

// A receiver the test starts and ends itself, by its PID.
class Peer {
 public:
  explicit Peer(const std::vector<std::string>& command, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      if (!freopen(output.c_str(), "a", stdout) || !freopen(output.c_str(), "a", stderr))
        _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Peer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

 private:
  pid_t pid_ = -1;
};

std::string missing_peer_tool() {
  const char* emulator = std::getenv("STATION_EMULATOR");
  if (emulator && *emulator) return "the peers are tested on the host build";
#if defined(__SANITIZE_ADDRESS__)
  return "the peers are tested on the host build";
#endif
  for (const char* tool : {kTrapd, "/usr/bin/snmptrap", kPython})
    if (access(tool, X_OK) != 0) return std::string(tool) + " is not installed";
  return "";
}

class PeersTest : public SimulatorTest {
 protected:
  void SetUp() override {
    const std::string why = missing_peer_tool();
    if (!why.empty()) GTEST_SKIP() << why;
    SimulatorTest::SetUp();
  }

  // snmptrapd on eth1's address, port 162, one line per trap in trapd.log.
  std::unique_ptr<Peer> start_trapd() {
    write_file(dir_->file("trapd.conf"), "disableAuthorization yes\n");
    setenv("SNMP_PERSISTENT_DIR", dir_->file("net-snmp").c_str(), 1);
    auto peer = std::make_unique<Peer>(
        std::vector<std::string>{kTrapd, "-f", "-n", "-m", "", "-C", "-c", dir_->file("trapd.conf"),
                                 "-Lf", dir_->file("trapd.log"), "-F",
                                 "trap agent %a generic %w specific %q %P\n",
                                 std::string("udp:") + kEth1Address + ":162"},
        dir_->file("trapd.out"));
    EXPECT_TRUE(wait_for_text("../trapd.log", "NET-SNMP version"))
        << read_file(dir_->file("trapd.out"));
    return peer;
  }

  std::unique_ptr<Peer> start_smtp_sink() {
    const char* source = std::getenv("STATION_SOURCE_DIR");
    auto peer = std::make_unique<Peer>(
        std::vector<std::string>{
            kPython, std::string(source ? source : ".") + "/tests/integration/smtp_sink.py",
            kEth1Address, std::to_string(kSmtpPort), dir_->file("mail.txt")},
        dir_->file("smtp.out"));
    for (int i = 0; i < 500 && !tcp_listening(kSmtpPort); ++i) usleep(20000);
    EXPECT_TRUE(tcp_listening(kSmtpPort)) << read_file(dir_->file("smtp.out"));
    return peer;
  }

  void configure(std::initializer_list<std::tuple<const char*, const char*, const char*>> keys) {
    const std::string ini = root_file("mnt/jffs2/station.ini");
    for (const auto& [section, key, value] : keys)
      write_profile_string(section, key, value, ini.c_str());
  }
};

TEST_F(PeersTest, FailedLoginTrapAndMailReachRealReceivers) {
  const std::string server = std::string(kEth1Address) + ":" + std::to_string(kSmtpPort);
  configure({{"SNMP", "trapAlert2", "1"},
             {"SNMP", "emailAlert2", "1"},
             {"SNMP", "trapAlert0", "1"},
             {"SNMP", "snmpTrapServer", kEth1Address},
             {"SMTP", "smtpServer", server.c_str()},
             {"SMTP", "smtpAuth", "1"},
             {"SMTP", "smtpUser", "unit"},
             {"SMTP", "smtpPasswd", "s3cret"},
             {"SMTP", "sender", "unit@station.test"},
             {"SMTP", "receiver", "ops@station.test;desk@station.test"}});
  auto trapd = start_trapd();
  auto sink = start_smtp_sink();
  ASSERT_TRUE(start_simulator({"--peers"}));
  auto client = greeted_client(kEth0Address);
  ASSERT_TRUE(client->send(frame(0, "admin nopass")));
  EXPECT_EQ(client->read(7), reply(0, "F"));

  // Version 1, authenticationFailure (4), the fixed community, eth0 as the agent.
  EXPECT_TRUE(wait_for_text("../trapd.log",
                            "trap agent 10.77.0.1 generic 4 specific 0 TRAP, SNMP v1, community "
                            "ormolu\n"))
      << read_file(dir_->file("trapd.log")) << read_file(root_file("var/log/peers.log"));
  EXPECT_TRUE(wait_for_text("../mail.txt", "\n.\n")) << read_file(root_file("var/log/peers.log"));
  const std::string mail = read_file(dir_->file("mail.txt"));
  for (const char* part :
       {"AUTH unit s3cret\n", "MAIL FROM:<unit@station.test>\n", "RCPT TO:<ops@station.test>\n",
        "RCPT TO:<desk@station.test>\n", "Subject: KV7731 Alert Message\n",
        "\nSender: unit@station.test\nAlert Condition: Authentication Failure (Manager Tool) \n"
        "SysName: 020000000001\nSysLocation: location\nDate: "})
    EXPECT_NE(mail.find(part), std::string::npos) << part << " in\n" << mail;
  // The start-up alert of a unit that was off (eeWarmStart 0): a coldStart trap (0).
  std::string out, err;
  EXPECT_EQ(
      run_to_end(program_command("stationtool", {"--root", root(), "start-alert"}), &out, &err), 0)
      << out << err;
  EXPECT_TRUE(
      wait_for_text("../trapd.log", "generic 0 specific 0 TRAP, SNMP v1, community ormolu\n"))
      << read_file(dir_->file("trapd.log"));
}

TEST_F(PeersTest, DestinationsOutsideTheNamespaceAreRefusedAndRecorded) {
  configure({{"SNMP", "trapAlert2", "1"},
             {"SNMP", "emailAlert2", "1"},
             {"SNMP", "snmpTrapServer", "192.0.2.7"},
             {"SMTP", "smtpServer", "198.51.100.9"},
             {"SMTP", "sender", "unit@station.test"},
             {"SMTP", "receiver", "ops@station.test"}});
  ASSERT_TRUE(start_simulator({"--peers"}));
  auto client = greeted_client(kEth0Address);
  ASSERT_TRUE(client->send(frame(0, "admin nopass")));
  EXPECT_EQ(client->read(7), reply(0, "F"));
  const char* tail = ": only loopback or an address of this network namespace\n";
  EXPECT_TRUE(wait_for_text("var/log/peers.log", std::string("mail: refused 198.51.100.9") + tail));
  EXPECT_TRUE(
      wait_for_text("var/log/peers.log", std::string("snmptrap: refused 192.0.2.7") + tail));
  // A refused trap is a failed one: the daemon switches the gateway and tries once more.
  EXPECT_TRUE(wait_for_text("var/log/programs.log", "route add default gw"));

  // Without --peers the recording-only stand-ins are back.
  client.reset();
  ASSERT_EQ(sim_->stop(SIGTERM), 0);
  ASSERT_TRUE(start_simulator());
  EXPECT_EQ(read_file(root_file("bin/snmptrap")).find("--peers"), std::string::npos);
  EXPECT_EQ(read_file(root_file("usr/sbin/mail")).find("--peers"), std::string::npos);
}

}  // namespace
