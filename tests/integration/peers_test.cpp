// stationd-sim --peers against snmptrapd and smtp_sink.py in the test's namespace (host only).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "storage/inifile.h"
#include "support/sim_harness.h"

namespace {

constexpr char kTrapd[] = "/usr/sbin/snmptrapd";
constexpr char kPython[] = "/usr/bin/python3";

struct Peer {  // a receiver the test starts and ends itself, by its PID; its outputs to a file
  pid_t pid;
  Peer(std::vector<std::string> command, const std::string& output) {
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    if ((pid = fork()) == 0 && freopen(output.c_str(), "a", stdout) &&
        freopen(output.c_str(), "a", stderr))
      execv(argv[0], argv.data());
    if (pid == 0) _exit(127);
  }
  ~Peer() { pid > 0 && kill(pid, SIGTERM) == 0 && waitpid(pid, nullptr, 0); }
};

class PeersTest : public SimulatorTest {
 protected:
  void SetUp() override {
    const char* emulator = std::getenv("STATION_EMULATOR");
    if (emulator && *emulator) GTEST_SKIP() << "the peers are tested on the host build";
    for (const char* tool : {kTrapd, "/usr/bin/snmptrap", kPython})
      if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
    SimulatorTest::SetUp();
  }
  // Sets the key=value pairs (separated by blanks) in a section of station.ini.
  void configure(const char* section, const std::string& pairs) {
    std::istringstream in(pairs);
    for (std::string key, value; std::getline(in >> std::ws, key, '=') && in >> value;)
      write_profile_string(section, key.c_str(), value.c_str(),
                           root_file("mnt/jffs2/station.ini").c_str());
  }
  // A failed login on eth0 alerts: the trap is sent before the answer, the mail behind it.
  void fail_login() {
    auto client = greeted_client(kEth0Address);
    ASSERT_TRUE(client->send(frame(0, "admin nopass")));
    EXPECT_EQ(client->read(7), reply(0, "F"));
  }
};

TEST_F(PeersTest, AlertsReachRealReceiversInTheNamespaceAndNoOneOutsideIt) {
  configure("SNMP", "trapAlert2=1 emailAlert2=1 trapAlert0=1 snmpTrapServer=192.0.2.7");
  configure("SMTP",
            "smtpServer=198.51.100.9 smtpAuth=1 smtpUser=unit smtpPasswd=s3cret "
            "sender=unit@station.test receiver=ops@station.test;desk@station.test");
  ASSERT_TRUE(start_simulator({"--peers"}));
  fail_login();
  const std::string tail = ": only loopback or an address of this network namespace\n";
  EXPECT_TRUE(wait_for_text("var/log/peers.log", "mail: refused 198.51.100.9" + tail));
  EXPECT_TRUE(wait_for_text("var/log/peers.log", "snmptrap: refused 192.0.2.7" + tail));
  // A refused trap is a failed one: the daemon switches the gateway and tries once more.
  EXPECT_TRUE(wait_for_text("var/log/programs.log", "route add default gw"));

  // Receivers on eth1: snmptrapd (agent, generic, specific, version, community), the sink.
  configure("SNMP", "snmpTrapServer=10.77.1.1");
  configure("SMTP", "smtpServer=10.77.1.1:2525");
  setenv("SNMP_PERSISTENT_DIR", dir_->file("net-snmp").c_str(), 1);
  Peer trapd(
      {kTrapd, "-f", "-n", "-m", "", "-C", "--disableAuthorization=yes", "-Lf",
       dir_->file("trapd.log"), "-F", "%a %w %q %P\n", std::string("udp:") + kEth1Address + ":162"},
      dir_->file("trapd.out"));
  const char* source = std::getenv("STATION_SOURCE_DIR");
  Peer sink({kPython, "-W", "ignore::DeprecationWarning",
             std::string(source ? source : ".") + "/tests/integration/smtp_sink.py", kEth1Address,
             "2525", dir_->file("mail.txt")},
            dir_->file("smtp.out"));
  ASSERT_TRUE(wait_for_text("../trapd.log", "NET-SNMP version"));  // trapd.out says why not
  for (int i = 0; i < 500 && !tcp_listening(2525); ++i) usleep(20000);
  ASSERT_TRUE(tcp_listening(2525)) << read_file(dir_->file("smtp.out"));
  fail_login();
  // Version 1, authenticationFailure (4), the fixed community, eth0 as the agent.
  EXPECT_TRUE(wait_for_text("../trapd.log", "10.77.0.1 4 0 TRAP, SNMP v1, community ormolu\n"))
      << read_file(root_file("var/log/peers.log"));
  EXPECT_TRUE(wait_for_text("../mail.txt", "\n.\n")) << read_file(root_file("var/log/peers.log"));
  const std::string mail = read_file(dir_->file("mail.txt"));
  for (const char* part :
       {"AUTH unit s3cret\n", "MAIL FROM:<unit@station.test>\n", "RCPT TO:<ops@station.test>\n",
        "RCPT TO:<desk@station.test>\n", "Subject: KV7731 Alert Message\n",
        "\nSender: unit@station.test\nAlert Condition: Authentication Failure (Manager Tool) \n"
        "SysName: 020000000001\nSysLocation: location\nDate: "})
    EXPECT_NE(mail.find(part), std::string::npos) << part << " in\n" << mail;
  std::string out, err;  // the start-up alert of a unit that was off (eeWarmStart 0): coldStart
  const auto start_alert = program_command("stationtool", {"--root", root(), "start-alert"});
  EXPECT_EQ(run_to_end(start_alert, &out, &err), 0) << err;
  EXPECT_TRUE(wait_for_text("../trapd.log", "10.77.0.1 0 0 TRAP, SNMP v1, community ormolu\n"));

  // Without --peers the recording-only stand-ins are back.
  ASSERT_EQ(sim_->stop(SIGTERM), 0);
  const auto prepare = program_command("stationd-sim", {"--root", root(), "--prepare-only"});
  EXPECT_EQ(run_to_end(prepare, &out, &err), 0) << err;
  EXPECT_EQ(read_file(root_file("bin/snmptrap")).find("--peers"), std::string::npos);
  EXPECT_EQ(read_file(root_file("usr/sbin/mail")).find("--peers"), std::string::npos);
}

}  // namespace
