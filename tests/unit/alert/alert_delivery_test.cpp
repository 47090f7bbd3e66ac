#include "alert/alert_delivery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

using Lines = std::vector<std::string>;
const std::string kAuthFail = "Authentication Failure (Manager Tool)";
const std::string kTrap = "snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 ";
const std::string kMailArgs = "-S 127.0.0.1 -f dev@example.com -s KV7731 Alert Message ";
const std::string kReceivers = "ops@example.com boss@example.com";
const std::string kMail = "mail " + kMailArgs + kReceivers;

std::string mail_ini(const std::string& snmp = "",
                     const std::string& smtp = "smtpServer=127.0.0.1\n") {
  return "[SNMP]\nsysName=unit7\nsysLocation=lab\nsnmpTrapServer=127.0.0.1\n" + snmp +
         "[SMTP]\nsender=dev@example.com\nreceiver=ops@example.com;boss@example.com\n" + smtp;
}

Lines lines_of(const std::string& text) {
  Lines lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
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
  void forget_programs() const { std::filesystem::remove(at("/var/log/programs.log")); }
  Lines programs() const { return lines_of(read_file(at("/var/log/programs.log"))); }
  bool ran(const std::string& line) const {
    const Lines all = programs();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  // The alert log's texts; every line must carry its date and time.
  Lines alert_log() const {
    Lines texts;
    for (const std::string& line : lines_of(read_file(at("/var/log/alertd.log")))) {
      EXPECT_TRUE(
          std::regex_match(line.substr(0, 21), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d: )")));
      texts.push_back(line.substr(21));
    }
    return texts;
  }
  std::string syslog_text() const {
    const std::string last = lines_of(read_file(at("/var/log/messages"))).back();
    EXPECT_EQ(last.rfind("alert ", 0), 0u) << last;
    return last.substr(last.find(": ") + 2);
  }
  // The mail program runs in the background: wait for its stand-in's record.
  std::string mail_record() const {
    for (int i = 0; i < 500; std::this_thread::sleep_for(std::chrono::milliseconds(20)), ++i)
      for (const std::string& line : programs())
        if (line.rfind("mail ", 0) == 0) return line;
    return "";
  }
  void failing(const std::string& program) const {  // records itself, exits 3
    const std::string path = at("/bin/" + program);
    write_file(path, "#!/bin/sh\necho \"failed " + program + " $*\" >> " +
                         at("/var/log/programs.log") + "\nexit 3\n");
    chmod(path.c_str(), 0755);
  }

  TempDir dir;
  FakeI2c chip;
};

TEST_F(AlertDelivery, MailBodyAndCommandLinesWithAndWithoutAuthentication) {
  ini(mail_ini());
  testing::internal::CaptureStdout();
  EXPECT_EQ(sendMailAll(kAuthFail.c_str(), 0, nullptr, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "sendMail(): start sendMail\n");
  EXPECT_EQ(mail_record(), kMail);
  EXPECT_EQ(programs().front(), "rtc2systime");
  EXPECT_FALSE(file_exists(at("/tmp/email")));

  const Lines log = alert_log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], "sendMailAll(): call sendMail(" + kReceivers + ", dev@example.com, " +
                        kAuthFail + ", 0, 0, (null), (null))");
  const std::string file = log[3].substr(25);
  EXPECT_EQ(log[3], "sendMail(): write buf to " + at("/tmp/mailmessage.") +
                        file.substr(file.rfind('.') + 1));
  EXPECT_EQ(log[4], "sendMail(): call " + at("/usr/sbin/") + kMail + " < " + file + " &");
  EXPECT_TRUE(std::regex_match(
      read_file(file), std::regex("Sender: dev@example.com\nAlert Condition: " +
                                  std::string(R"(Authentication Failure \(Manager Tool\) )") +
                                  "\nSysName: unit7\nSysLocation: lab\n" +
                                  R"(Date: \d{4}/\d\d/\d\d\nTime: \d\d:\d\d:\d\d\n)")))
      << read_file(file);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // With authentication the whole command, password included, is echoed into /tmp/email
  // (the shell takes its "<" as echo's input).
  forget_programs();
  ini(mail_ini("", "smtpServer=127.0.0.1\nsmtpAuth=1\nsmtpUser=mailer\nsmtpPasswd=secret\n"));
  EXPECT_EQ(sendMailAll("Cold Start", 0, nullptr, nullptr), 1);
  const std::string args = kMailArgs + "-U mailer -E secret " + kReceivers;
  EXPECT_EQ(read_file(at("/tmp/email")), at("/usr/sbin/mail ") + args + "\n");
  EXPECT_EQ(mail_record(), "mail " + args);
}

TEST_F(AlertDelivery, IpChangeTextsAddConfigLinesAndMailInTheForeground) {
  ini(mail_ini("emailAlert3=1\n"));
  EXPECT_EQ(addressChangeAlert(kIpChangedEth1, 3, "10.1.1.5", "10.1.1.4"), 1);
  EXPECT_TRUE(ran(kMail));  // the call waited for it
  EXPECT_EQ(
      syslog_text(),
      "IP Address Changed (eth1), New: 10.1.1.5, Old: 10.1.1.4, SysName: unit7, SysLocation: lab");
  Lines log = alert_log();
  EXPECT_EQ(
      log[2],
      "addressChangeAlert(): call sendMailAll(IP Address Changed (eth1), 3, 10.1.1.5, 10.1.1.4)");
  const std::string file = log[log.size() - 2].substr(25);
  EXPECT_EQ(log.back(), "sendMail(): call " + at("/usr/sbin/") + kMail + " < " + file);
  EXPECT_NE(read_file(file).find(" \nNew Config: 10.1.1.5\nOld Config: 10.1.1.4\nSysName: unit7\n"),
            std::string::npos);

  // Without the interface it is an ordinary condition.
  EXPECT_EQ(addressChangeAlert("IP Address Changed", 3, "10.1.1.5", "10.1.1.4"), 1);
  EXPECT_EQ(syslog_text(), "IP Address Changed, SysName: unit7, SysLocation: lab");
  log = alert_log();
  EXPECT_EQ(log.back().substr(log.back().size() - 2), " &");
  EXPECT_EQ(read_file(log[log.size() - 2].substr(25)).find("Config"), std::string::npos);
  mail_record();
}

TEST_F(AlertDelivery, WithoutServerMailsOnlyWriteFilesAndTheSequenceWrapsAfter255) {
  ini(mail_ini("", ""));
  std::vector<int> numbers;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 257; ++i) {
    EXPECT_EQ(sendMail("ops@example.com", "dev@example.com", "Cold Start", 0, 0, nullptr, nullptr),
              0);
    const std::string last = lines_of(read_file(at("/var/log/alertd.log"))).back();
    const std::string file = last.substr(last.find(" to ") + 4);  // "...write buf to FILE"
    EXPECT_TRUE(file_exists(file));
    numbers.push_back(std::stoi(file.substr(file.rfind('.') + 1)));
  }
  testing::internal::GetCapturedStdout();
  for (int i = 1; i < 257; ++i) EXPECT_EQ(numbers[i], (numbers[i - 1] + 1) % 256);
  EXPECT_EQ(programs(), Lines(257, "rtc2systime"));  // and never the mail program
}

TEST_F(AlertDelivery, FailedTrapsAlternateTheDefaultGatewayThroughTheMarker) {
  ini(mail_ini());
  EXPECT_EQ(sendSnmpTrap(AUTH_FAIL_TRAP), 0);
  EXPECT_EQ(programs(), Lines{kTrap + "4 0 "});
  EXPECT_FALSE(file_exists(at("/tmp/dfgw_ethx")));

  failing("snmptrap");
  for (const char* gateway : {"127.0.1.1", "127.0.2.1", "127.0.1.1"}) {
    forget_programs();
    EXPECT_EQ(sendSnmpTrap(1), 3);
    EXPECT_EQ(read_file(at("/tmp/dfgw_ethx")), gateway[6] == '1' ? "0\n" : "1\n");
    const std::string failed = "failed " + kTrap + "1 0 ";
    EXPECT_EQ(programs(),
              (Lines{failed, "route del -net 0.0.0.0 eth0", "route del -net 0.0.0.0 eth1",
                     std::string("route add default gw ") + gateway, failed}));
  }
  const Lines log = alert_log();
  EXPECT_EQ(Lines(log.begin() + 1, log.begin() + 7),
            (Lines{"sendSnmpTrap(1): call " + kTrap + "1 0 '' >/dev/null 2>@1",
                   "chgDefGateway(): File not found [" + at("/tmp/dfgw_ethx") + "]",
                   "chgDefGateway(): call echo '0' > " + at("/tmp/dfgw_ethx"),
                   "chgDefGateway(): call setGatewayIP(127.0.1.1)",
                   "setGatewayIP(127.0.1.1): call route add default gw 127.0.1.1 >/dev/null 2>@1",
                   "chgDefGateway(): Success"}));

  failing("route");
  EXPECT_EQ(sendSnmpTrap(0), -1);
  EXPECT_EQ(alert_log().back(), "chgDefGateway(): Failed");
}

TEST_F(AlertDelivery, StartAlertFollowsTheWarmStartFlagAndOnlyTheValueOneEnablesAChannel) {
  const std::string on = "trapAlert0=1\ntrapAlert1=1\nemailAlert0=1\nemailAlert1=1\n";
  ini(mail_ini(on + "trapAlert2=2\nemailAlert2=2\nemailAlert4=3\n"));
  for (unsigned flag : {0u, 1u, 2u}) {
    SCOPED_TRACE(flag);
    forget_programs();
    set_eeWarmStart(flag);
    EXPECT_EQ(startAlert(), flag < 2 ? 1 : 0);
    EXPECT_EQ(get_eeWarmStart(), 0u);
    EXPECT_EQ(syslog_text(),
              std::string(flag ? "Warm" : "Cold") + " Start, SysName: unit7, SysLocation: lab");
    EXPECT_EQ(read_file(at("/tmp/alert")), flag ? "Warm_Start\n" : "Cold_Start\n");
    if (flag == 2) {
      EXPECT_EQ(programs(), Lines{});  // neither trap nor mail
    } else {
      EXPECT_TRUE(ran(kTrap + std::to_string(flag) + " 0 "));
      EXPECT_NE(mail_record(), "");
    }
  }
  forget_programs();
  authenFailAlert(kAuthFail.c_str());
  EXPECT_EQ(syslog_text(), kAuthFail + ", SysName: unit7, SysLocation: lab");
  EXPECT_EQ(passwdChangeAlert("Password Changed"), 0);
  EXPECT_EQ(programs(), Lines{});
}

// Values the shell would read never reach it: the mail command is refused and logged, the
// alert log shows every value and text literally, quad keys come out as plain numbers.
// Which characters pass is shell_value's own test; here each key must go through the check.
TEST_F(AlertDelivery, UnsafeValuesNeverReachTheShell) {
  const std::vector<std::pair<std::string, std::string>> smtp = {
      {"smtpServer", "127.0.0.1"},
      {"sender", "dev@example.com"},
      {"receiver", "ops@example.com;boss@example.com"},
      {"smtpAuth", "1"},
      {"smtpUser", "mailer"},
      {"smtpPasswd", "secret"}};
  testing::internal::CaptureStdout();
  for (const auto& [key, ordinary] : smtp) {
    // ' ' only splits the receivers, so it is refused everywhere else.
    for (const std::string value : {"$(touch pwned)", "a\"b'c", "a b"}) {
      if (key == "smtpAuth" || (key == "receiver" && value == "a b")) continue;
      SCOPED_TRACE(key + "=" + value);
      std::string text = "[SNMP]\nsysName=unit7\nsysLocation=lab\n[SMTP]\n";
      for (const auto& [k, v] : smtp) text += k + "=" + (k == key ? value : v) + "\n";
      ini(text);
      forget_programs();
      std::filesystem::remove(at("/var/log/alertd.log"));
      EXPECT_EQ(sendMailAll("Cold Start", 0, nullptr, nullptr), 1);
      EXPECT_EQ(programs(), Lines{"rtc2systime"});
      const Lines log = alert_log();
      EXPECT_EQ(log.back(), "shell command refused: unsafe value");
      if (key == "sender" || key == "receiver") {
        EXPECT_NE(log[0].find(value), std::string::npos);
      }
    }
  }
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(file_exists(at("/tmp/email")));

  // Texts handed to the routines are logged literally; the ordinary mail still runs.
  std::string text_ini = mail_ini("emailAlert2=1\ntrapAlert2=1\nemailAlert3=1\nemailAlert4=1\n");
  text_ini.replace(text_ini.find("unit7"), 5, "$(touch pwned)");
  text_ini.replace(text_ini.find("127.0.0.1"), 9, "1.2.3.4;touch pwned");
  ini(text_ini);
  const std::string text = "Changed \"$(touch pwned)\" `touch pwned` \\ $HOME end";
  forget_programs();
  testing::internal::CaptureStdout();
  EXPECT_EQ(addressChangeAlert(text.c_str(), 3, "$(x)", "`y`"), 1);
  EXPECT_EQ(passwdChangeAlert(text.c_str()), 1);
  authenFailAlert(text.c_str());
  testing::internal::GetCapturedStdout();
  const Lines log = alert_log();
  for (const std::string& line :
       Lines{"addressChangeAlert(): call sendMailAll(" + text + ", 3, $(x), `y`)",
             "sendMailAll(): call sendMail(" + kReceivers + ", dev@example.com, " + text +
                 ", 3, 0, $(x), `y`)",
             "passwdChangeAlert(): call sendMailAll(" + text + ", 0, NULL, NULL)",
             "authenFailAlert(): call sendMailAll(" + text + ", 0, NULL, NULL)",
             "authenFailAlert(): call sendSnmpTrap(AUTH_FAIL_TRAP)"})
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  EXPECT_EQ(syslog_text(), text + ", SysName: $(touch pwned), SysLocation: lab");
  EXPECT_TRUE(ran(kMail));
  for (const std::string& line : programs())
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(rtc2systime|mail .*|snmptrap -v1 -c ormolu )"
                                                  R"(\d+\.\d+\.\d+\.\d+ 0 127\.0\.0\.5 4 0 )")))
        << line;
  mail_record();
  EXPECT_FALSE(file_exists(at("/pwned")));
}

}  // namespace
