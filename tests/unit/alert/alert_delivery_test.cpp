#include "alert/alert_delivery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_root.h"
#include "platform/root.h"
#include "storage/eeprom_map.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

const std::string kAuthFail = "Authentication Failure (Manager Tool)";
// station.ini with the identity, the trap server and mail settings, plus extra keys.
std::string mail_ini(const std::string& snmp = "",
                     const std::string& smtp = "smtpServer=127.0.0.1\n") {
  return "[SNMP]\nsysName=unit7\nsysLocation=lab\nsnmpTrapServer=127.0.0.1\n" + snmp +
         "[SMTP]\nsender=dev@example.com\nreceiver=ops@example.com;boss@example.com\n" + smtp;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

class AlertDelivery : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
    // eth0 static, so the trap's agent address is the stored one and never the PC's.
    const unsigned char agent[4] = {127, 0, 0, 5}, gw0[4] = {127, 0, 1, 1}, gw1[4] = {127, 0, 2, 1};
    set_eeIpMode(0, 1);
    set_eeIpAddress(0, agent);
    set_eeGateway(0, gw0);
    set_eeGateway(1, gw1);
  }
  void TearDown() override { set_root(nullptr); }

  std::string at(const std::string& path) const { return dir.path() + path; }
  void ini(const std::string& text) const { write_file(at("/mnt/jffs2/station.ini"), text); }
  std::vector<std::string> programs() const {
    return lines_of(read_file(at("/var/log/programs.log")));
  }
  // The alert log's texts; each line must carry its date and time.
  std::vector<std::string> alert_log() const {
    std::vector<std::string> texts;
    const std::regex dated(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d: (.*))");
    for (const std::string& line : lines_of(read_file(at("/var/log/alertd.log")))) {
      std::smatch m;
      EXPECT_TRUE(std::regex_match(line, m, dated)) << line;
      texts.push_back(m[1]);
    }
    return texts;
  }
  std::string last_message() const {
    const auto lines = lines_of(read_file(at("/var/log/messages")));
    return lines.empty() ? "" : lines.back();
  }
  // The mail program runs in the background: wait for its stand-in's record.
  std::string wait_for_mail() const {
    for (int i = 0; i < 500; ++i) {
      for (const std::string& line : programs())
        if (line.rfind("mail ", 0) == 0) return line;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }
  bool ran(const std::string& prefix) const {
    for (const std::string& line : programs())
      if (line.rfind(prefix, 0) == 0) return true;
    return false;
  }
  // A trap program that records itself and fails, so the gateway switch runs.
  void failing(const char* program) const {
    const std::string path = at(std::string("/bin/") + program);
    write_file(path, std::string("#!/bin/sh\necho \"failed ") + program + " $*\" >> " +
                         at("/var/log/programs.log") + "\nexit 3\n");
    chmod(path.c_str(), 0755);
  }

  TempDir dir;
  FakeI2c chip;
};

TEST_F(AlertDelivery, MailBodyCommandAndLogWithoutAuthentication) {
  ini(mail_ini());
  testing::internal::CaptureStdout();
  EXPECT_EQ(sendMailAll(kAuthFail.c_str(), 0, nullptr, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "sendMail(): start sendMail\n");

  const std::string receivers = "ops@example.com boss@example.com";
  EXPECT_EQ(wait_for_mail(),
            "mail -S 127.0.0.1 -f dev@example.com -s KV7731 Alert "
            "Message " +
                receivers);
  EXPECT_EQ(programs().front(), "rtc2systime");
  EXPECT_FALSE(file_exists(at("/tmp/email")));

  const auto log = alert_log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], "sendMailAll(): call sendMail(" + receivers + ", dev@example.com, " +
                        kAuthFail + ", 0, 0, (null), (null))");
  EXPECT_EQ(log[1], "sendMail(): start sendMail");
  EXPECT_EQ(log[2], "sendMail(): create buf");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(log[3], m, std::regex("sendMail\\(\\): write buf to (.*)")));
  const std::string message_file = m[1];
  EXPECT_EQ(message_file.rfind(at("/tmp/mailmessage."), 0), 0u);
  EXPECT_EQ(log[4], "sendMail(): call " + at("/usr/sbin/mail") +
                        " -S 127.0.0.1 -f dev@example.com -s KV7731 Alert Message " + receivers +
                        " < " + message_file + " &");

  EXPECT_TRUE(std::regex_match(
      read_file(message_file),
      std::regex("Sender: dev@example.com\nAlert Condition: Authentication Failure \\(Manager "
                 "Tool\\) \nSysName: unit7\nSysLocation: lab\nDate: \\d{4}/\\d\\d/\\d\\d\n"
                 "Time: \\d\\d:\\d\\d:\\d\\d\n")))
      << read_file(message_file);
  struct stat st;
  ASSERT_EQ(stat(message_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(AlertDelivery, AuthenticatedMailEchoesItsCommandWithThePassword) {
  ini(mail_ini("", "smtpServer=127.0.0.1\nsmtpAuth=1\nsmtpUser=mailer\nsmtpPasswd=secret\n"));
  EXPECT_EQ(sendMailAll("Cold Start", 0, nullptr, nullptr), 1);
  const std::string args =
      "-S 127.0.0.1 -f dev@example.com -s KV7731 Alert Message -U mailer "
      "-E secret ops@example.com boss@example.com";
  EXPECT_EQ(read_file(at("/tmp/email")), at("/usr/sbin/mail") + " " + args + "\n");
  EXPECT_EQ(wait_for_mail(), "mail " + args);
}

TEST_F(AlertDelivery, IpChangeTextsAddConfigLinesAndMailInTheForeground) {
  ini(mail_ini("emailAlert3=1\n"));
  EXPECT_EQ(addressChangeAlert(kIpChangedEth1, 3, "10.1.1.5", "10.1.1.4"), 1);
  EXPECT_TRUE(ran("mail "));  // already done: the call waited for it
  EXPECT_EQ(last_message().substr(last_message().find(": ")),
            ": IP Address Changed (eth1), New: 10.1.1.5, Old: 10.1.1.4, SysName: unit7, "
            "SysLocation: lab");
  auto log = alert_log();
  EXPECT_EQ(log[2],
            "addressChangeAlert(): call sendMailAll(IP Address Changed (eth1), 3, "
            "10.1.1.5, 10.1.1.4)");
  const std::string message_file = log[log.size() - 2].substr(25);
  EXPECT_EQ(log.back(), "sendMail(): call " + at("/usr/sbin/mail") +
                            " -S 127.0.0.1 -f dev@example.com -s KV7731 Alert Message "
                            "ops@example.com boss@example.com < " +
                            message_file);  // no " &"
  const std::string body = read_file(message_file);
  EXPECT_NE(body.find(" \nNew Config: 10.1.1.5\nOld Config: 10.1.1.4\nSysName: unit7\n"),
            std::string::npos)
      << body;

  // Without the interface it is an ordinary condition: no config lines, mail in background.
  EXPECT_EQ(addressChangeAlert("IP Address Changed", 3, "10.1.1.5", "10.1.1.4"), 1);
  EXPECT_EQ(last_message().substr(last_message().find(": ")),
            ": IP Address Changed, SysName: unit7, SysLocation: lab");
  log = alert_log();
  EXPECT_EQ(log.back().substr(log.back().size() - 2), " &");
  EXPECT_EQ(read_file(log[log.size() - 2].substr(25)).find("Config"), std::string::npos);
  wait_for_mail();
}

TEST_F(AlertDelivery, WithoutServerMailsOnlyWriteFilesAndTheSequenceWrapsAfter255) {
  ini(mail_ini("", ""));
  std::vector<int> numbers;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 257; ++i) {
    EXPECT_EQ(sendMail("ops@example.com", "dev@example.com", "Cold Start", 0, 0, nullptr, nullptr),
              0);
    const std::string last = lines_of(read_file(at("/var/log/alertd.log"))).back();
    const std::string name = last.substr(last.find(" to ") + 4);
    EXPECT_TRUE(file_exists(name)) << name;
    numbers.push_back(std::stoi(name.substr(name.rfind('.') + 1)));
  }
  testing::internal::GetCapturedStdout();
  for (int i = 1; i < 257; ++i) EXPECT_EQ(numbers[i], (numbers[i - 1] + 1) % 256);
  EXPECT_TRUE(file_exists(at("/tmp/mailmessage.0")));
  EXPECT_TRUE(file_exists(at("/tmp/mailmessage.255")));
  EXPECT_FALSE(ran("mail "));
}

TEST_F(AlertDelivery, FailedTrapsAlternateTheDefaultGatewayThroughTheMarker) {
  ini(mail_ini());
  const std::string trap = "snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 4 0 ";
  EXPECT_EQ(sendSnmpTrap(AUTH_FAIL_TRAP), 0);
  EXPECT_EQ(programs(), std::vector<std::string>{trap});
  EXPECT_FALSE(file_exists(at("/tmp/dfgw_ethx")));

  failing("snmptrap");
  const char* gateways[] = {"127.0.1.1", "127.0.2.1", "127.0.1.1"};
  for (int i = 0; i < 3; ++i) {
    std::filesystem::remove(at("/var/log/programs.log"));
    EXPECT_EQ(sendSnmpTrap(1), 3);
    EXPECT_EQ(read_file(at("/tmp/dfgw_ethx")), i == 1 ? "1\n" : "0\n");
    const std::string failed = "failed snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 1 0 ";
    EXPECT_EQ(programs(), (std::vector<std::string>{
                              failed, "route del -net 0.0.0.0 eth0", "route del -net 0.0.0.0 eth1",
                              std::string("route add default gw ") + gateways[i], failed}));
  }
  const auto log = alert_log();
  const std::vector<std::string> first_switch(log.begin() + 1, log.begin() + 7);
  EXPECT_EQ(first_switch,
            (std::vector<std::string>{
                "sendSnmpTrap(1): call snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 1 0 '' "
                ">/dev/null 2>@1",
                "chgDefGateway(): File not found [" + at("/tmp/dfgw_ethx") + "]",
                "chgDefGateway(): call echo '0' > " + at("/tmp/dfgw_ethx"),
                "chgDefGateway(): call setGatewayIP(127.0.1.1)",
                "setGatewayIP(127.0.1.1): call route add default gw 127.0.1.1 >/dev/null 2>@1",
                "chgDefGateway(): Success"}));

  failing("route");
  EXPECT_EQ(sendSnmpTrap(0), -1);
  EXPECT_EQ(alert_log().back(), "chgDefGateway(): Failed");
}

TEST_F(AlertDelivery, OnlyTheValueOneEnablesAChannel) {
  ini(mail_ini("trapAlert2=2\nemailAlert2=2\nemailAlert4=3\n"));
  authenFailAlert(kAuthFail.c_str());
  EXPECT_EQ(passwdChangeAlert("Password Changed"), 0);
  EXPECT_EQ(programs(), std::vector<std::string>{});
  EXPECT_EQ(last_message().rfind("alert ", 0), 0u);
  EXPECT_EQ(last_message().substr(last_message().find(": ")),
            ": Password Changed, SysName: unit7, SysLocation: lab");

  ini(mail_ini("trapAlert2=1\nemailAlert2=1\n"));
  authenFailAlert(kAuthFail.c_str());
  EXPECT_EQ(wait_for_mail().substr(0, 5), "mail ");
  EXPECT_TRUE(ran("snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 4 0 "));
  const auto log = alert_log();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "authenFailAlert(): call sendMailAll(" + kAuthFail + ", 0, NULL, NULL)"),
            log.end());
  EXPECT_EQ(log[log.size() - 2], "authenFailAlert(): call sendSnmpTrap(AUTH_FAIL_TRAP)");
}

TEST_F(AlertDelivery, StartAlertFollowsTheWarmStartFlagAndClearsIt) {
  ini(mail_ini("trapAlert0=1\ntrapAlert1=1\nemailAlert0=1\nemailAlert1=1\n"));
  struct Case {
    unsigned flag;
    const char* condition;
    const char* marker;  // nullptr: neither trap nor mail
  };
  for (const Case& c : {Case{0, "Cold Start", "Cold_Start\n"},
                        Case{1, "Warm Start", "Warm_Start\n"}, Case{2, "Warm Start", nullptr}}) {
    SCOPED_TRACE(c.flag);
    std::filesystem::remove(at("/var/log/programs.log"));
    std::filesystem::remove(at("/tmp/alert"));
    set_eeWarmStart(c.flag);
    EXPECT_EQ(startAlert(), c.marker ? 1 : 0);
    EXPECT_EQ(get_eeWarmStart(), 0u);
    EXPECT_EQ(last_message().substr(last_message().find(": ")),
              std::string(": ") + c.condition + ", SysName: unit7, SysLocation: lab");
    if (!c.marker) {
      EXPECT_EQ(programs(), std::vector<std::string>{});
      EXPECT_FALSE(file_exists(at("/tmp/alert")));
      continue;
    }
    EXPECT_EQ(read_file(at("/tmp/alert")), c.marker);
    EXPECT_TRUE(
        ran("snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 " + std::to_string(c.flag) + " 0 "));
    EXPECT_NE(wait_for_mail(), "");
  }
}

}  // namespace
