// The alerts on a device root whose stand-ins record what they ran; the syslog start script.
#include "alert/alert_delivery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "alert/shell_value.h"
#include "alert/syslogd_config.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "storage/eeprom_map.h"
#include "support/case_table.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

const std::string kTrap = "snmptrap -v1 -c ormolu 127.0.0.1 0 127.0.0.5 ";
const std::string kMailArgs = "-S 127.0.0.1 -f dev@example.com -s KV7731 Alert Message ";
const std::string kMail = "mail " + kMailArgs + "ops@example.com boss@example.com\n";
const std::string kIni = "[SNMP]\nsysName=unit7\nsysLocation=lab\nsnmpTrapServer=127.0.0.1\n";
const std::string kSmtp = "smtpServer=127.0.0.1\nsender=dev@example.com\n"
                          "receiver=ops@example.com;boss@example.com\n";

class AlertDelivery : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(prepare_device_root(dir_.path().c_str()), 0);
    // eth0 static, so the trap's agent address is the stored one and never the PC's.
    const unsigned char agent[4] = {127, 0, 0, 5}, gw0[4] = {127, 0, 1, 1}, gw1[4] = {127, 0, 2, 1};
    set_eeIpMode(0, 1);
    set_eeIpAddress(0, agent);
    set_eeGateway(0, gw0);
    set_eeGateway(1, gw1);
  }
  void TearDown() override { set_root(nullptr); }
  void ini(const std::string& snmp, const std::string& smtp = "") const {
    write_file(dir_.file("mnt/jffs2/station.ini"), kIni + snmp + "[SMTP]\n" + smtp);
  }
  // A file of the root since the last call, removed (`mail`: once the mail line is whole).
  std::string taken(const std::string& path, bool mail = false) const {
    std::string text;
    for (int i = 0; (text = read_file(dir_.file(path)), mail) && i < 500 &&
                    text.find('\n', text.find("mail")) == std::string::npos;
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::filesystem::remove(dir_.file(path));
    return text;
  }
  static std::string mail_file(const std::string& log) {  // the last one the log names
    const std::size_t at = log.rfind("write buf to ") + 13;
    return log.substr(at, log.find('\n', at) - at);
  }
  std::string syslogged() const { return read_file(dir_.file("var/log/messages")); }
  TempDir dir_;
  FakeI2c chip_;
};

TEST_F(AlertDelivery, MailFileAndCommandLineWithAndWithoutServer) {
  ini("", kSmtp);
  EXPECT_EQ(sendMailAll("Cold Start", 0, nullptr, nullptr), 1);
  EXPECT_EQ(taken("var/log/programs.log", true), "rtc2systime\n" + kMail);
  const std::string file = mail_file(taken("var/log/alertd.log"));
  struct stat st;
  EXPECT_TRUE(stat(file.c_str(), &st) == 0 && (st.st_mode & 0777) == 0644);
  ini("");  // without a server the mails only write their files, numbered modulo 256
  for (int i = 0, last = -1; i < 257; ++i) {
    EXPECT_EQ(sendMail("ops@example.com", "dev@example.com", "Cold Start", 0, 0, nullptr, nullptr),
              0);
    const std::string file = mail_file(taken("var/log/alertd.log"));
    const int number = std::stoi(file.substr(file.rfind('.') + 1));
    EXPECT_TRUE(file_exists(file) && (last < 0 || number == (last + 1) % 256)) << number;
    last = number;
  }
  EXPECT_EQ(taken("var/log/programs.log").find("mail"), std::string::npos);
}

// A failed trap switches the default gateway (eth0's, eth1's, eth0's) and is sent once more.
TEST_F(AlertDelivery, FailedTrapsAlternateTheDefaultGatewayThroughTheMarker) {
  ini("");
  const auto failing = [&](const std::string& program) {  // records itself, exits 3
    write_file(dir_.file("bin/" + program), "#!/bin/sh\necho \"failed " + program + " $*\" >> " +
                                                dir_.file("var/log/programs.log") + "\nexit 3\n");
  };
  failing("snmptrap");
  const std::string failed = "failed " + kTrap + "1 0 \n";
  for (const std::string gateway : {"127.0.1.1", "127.0.2.1", "127.0.1.1"}) {
    EXPECT_EQ(sendSnmpTrap(1), 3);
    EXPECT_EQ(taken("var/log/programs.log"),
              failed + "route del -net 0.0.0.0 eth0\nroute del -net 0.0.0.0 eth1\nroute add " +
                  "default gw " + gateway + "\n" + failed);
  }
}

TEST_F(AlertDelivery, StartAndAddressAlertsFollowTheWarmStartFlagAndOnlyTheValueOneEnables) {
  ini("trapAlert0=1\ntrapAlert1=1\nemailAlert0=1\nemailAlert1=1\ntrapAlert2=2\nemailAlert2=2\n"
      "emailAlert4=3\n",
      kSmtp);
  for (unsigned flag : {0u, 1u, 2u}) {
    set_eeWarmStart(flag);
    EXPECT_EQ(startAlert(), flag < 2 ? 1 : 0) << flag;
    EXPECT_EQ(get_eeWarmStart(), 0u);
    EXPECT_TRUE(syslogged().ends_with(std::string("alert user unit_alert: ") +
                                      (flag ? "Warm" : "Cold") +
                                      " Start, SysName: unit7, SysLocation: lab\n"));
    EXPECT_EQ(read_file(dir_.file("tmp/alert")), flag ? "Warm_Start\n" : "Cold_Start\n");
    EXPECT_EQ(taken("var/log/programs.log", flag < 2),
              flag < 2 ? kTrap + std::to_string(flag) + " 0 \nrtc2systime\n" + kMail : "");
  }
  authenFailAlert("Authentication Failure (Manager Tool)");
  EXPECT_EQ(passwdChangeAlert("Password") + addressChangeAlert("IP Address Changed", 3, "a", "b"),
            0);
  EXPECT_EQ(taken("var/log/programs.log"), "");
  // An interface's address change mails both configurations before the return; without the
  // interface it is an ordinary condition, mailed in the background.
  ini("emailAlert3=1\n", kSmtp);
  for (const std::string condition : {kIpChangedEth1, "IP Address Changed"}) {
    EXPECT_EQ(addressChangeAlert(condition.c_str(), 3, "10.1.1.5", "10.1.1.4"), 1);
    const std::string log = taken("var/log/alertd.log"), mail = read_file(mail_file(log));
    EXPECT_EQ(taken("var/log/programs.log", condition != kIpChangedEth1), "rtc2systime\n" + kMail);
    EXPECT_TRUE(condition == kIpChangedEth1
                    ? log.ends_with(" < " + mail_file(log) + "\n") &&
                          mail.find(" \nNew Config: 10.1.1.5\nOld Config: 10.1.1.4\nSys") !=
                              std::string::npos
                    : log.ends_with(" &\n") && mail.find("Config") == std::string::npos)
        << log << mail;
  }
}

// Values the shell would read never reach it (the first of two equal keys counts).
TEST_F(AlertDelivery, UnsafeValuesNeverReachTheShell) {
  for (const std::string key : {"smtpServer", "sender", "receiver", "smtpUser", "smtpPasswd"})
    for (const std::string value : {"$(touch pwned)", "a\"b'c", "a b"}) {
      if (key == "receiver" && value == "a b") continue;  // ' ' only splits the receivers
      ini("", key + "=" + value + "\n" + kSmtp + "smtpAuth=1\nsmtpUser=mailer\nsmtpPasswd=a\n");
      EXPECT_EQ(sendMailAll("Cold Start", 0, nullptr, nullptr), 1);
      EXPECT_EQ(taken("var/log/programs.log"), "rtc2systime\n") << key << "=" << value;
      EXPECT_TRUE(taken("var/log/alertd.log").ends_with(std::string(kShellRefused) + "\n")) << key;
    }
  const std::string text = "Changed \"$(touch pwned)\" `touch pwned` \\ $HOME end";
  write_file(dir_.file("mnt/jffs2/station.ini"),
             "[SNMP]\nsysName=$(touch pwned)\nemailAlert2=1\ntrapAlert2=1\nemailAlert4=1\n"
             "snmpTrapServer=1.2.3.4;touch pwned\n[SMTP]\n" +
                 kSmtp);
  EXPECT_EQ(passwdChangeAlert(text.c_str()), 1);
  authenFailAlert(text.c_str());
  EXPECT_TRUE(syslogged().ends_with(text + ", SysName: $(touch pwned), SysLocation: \n"));
  EXPECT_NE(taken("var/log/programs.log", true).find(" 1.2.3.4 0 127.0.0.5 4 0 \n"),
            std::string::npos);
  EXPECT_FALSE(file_exists(dir_.file("pwned")));
}

TEST(ShellValue, OnlyLettersDigitsAndTheAddressCharactersAreSafe) {
  const std::string safe =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@._-+:/,%";
  for (int c = 1; c < 256; ++c) {
    const char value[] = {'a', static_cast<char>(c), 'b', '\0'};
    EXPECT_EQ(shell_safe_value(value), safe.find(char(c)) != std::string::npos) << c;
    EXPECT_EQ(shell_safe_value(value, ' '), safe.find(char(c)) != std::string::npos || c == ' ');
  }
  EXPECT_STREQ(echo_quoted("a\"b\\c$d`e'f;g").c_str(), "a\\\"b\\\\c\\$d\\`e'f;g");
  const std::string cut = echo_quoted(std::string(EchoQuoted::kMax, '"').c_str()).c_str();
  EXPECT_EQ(cut.size(), EchoQuoted::kMax - 2);  // whole pairs only, and the terminator
}

TEST(SyslogdConfig, EachSectionGivesItsScriptAndTheScriptRuns) {
  for (const CaseRow& row : read_case_table("syslogd.txt")) {
    SCOPED_TRACE(row.where);
    TempDir dir;
    ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
    const std::string root = root_dir(), script = root + "/sbin/run_syslog.sh";
    write_file(root + "/mnt/jffs2/station.ini", "[SYSLOG]\n" + *row[2]);
    if (!row[3]) std::filesystem::create_directory(script);
    testing::internal::CaptureStdout();
    EXPECT_EQ(setSysLogd(), std::stoi(*row[0]));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), *row[1]);
    EXPECT_EQ(row[3] ? read_file(script) : "", replace_all(row.text(3), "ROOT", root));
    const std::string ran = replace_all(replace_all(row.text(3), "ROOT/sbin/", ""), "ROOT", root);
    EXPECT_EQ(read_file(root + "/var/log/programs.log"),
              row[3] ? "killall syslogd\nkillall klogd\n" + ran : "");
    set_root(nullptr);
  }
}

}  // namespace
