// Login and the refusals before it, through the real daemon: both credential forms, the
// authentication-failure alert with its traces under the root, and the dispatcher's rules
// for codes that need no handler.
#include <string>

#include "storage/inifile.h"
#include "support/sim_harness.h"

namespace {

TEST_F(SimulatorTest, LoginFormsAreCheckedAgainstTheStoredUserNameAndPassword) {
  ASSERT_TRUE(start_simulator());
  auto client = greeted_client(kEth0Address);
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {"quillet", true},        {"admin quillet", true},   {"", false},
      {"Quillet", false},       {"admin  quillet", false}, {"admin quillet ", false},
      {"admin", false},         {"root quillet", false},   {std::string("quillet\0", 8), false},
      {"quillet admin", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(client->send(frame(0, c.text)));
    EXPECT_EQ(client->read(7), reply(0, c.ok ? "S" : "F")) << '"' << c.text << '"';
  }
  // In one buffer: a login, then a failed one; the code after them is refused.
  ASSERT_TRUE(client->send(frame(0, "quillet") + frame(0, "x") + frame(97)));
  EXPECT_EQ(client->read(21), reply(0, "S") + reply(0, "F") + error_reply(97));
  // A login and then codes 97 and 98, which are accepted without a reply.
  ASSERT_TRUE(
      client->send(frame(0, "quillet") + frame(97, "abc") + frame(98) + frame(0, "quillet")));
  EXPECT_EQ(client->read(14), reply(0, "S") + reply(0, "S"));
  EXPECT_TRUE(client->silent_for(200));

  client.reset();  // one client at a time
  auto local = greeted_client(kLoopback, true);
  const std::string out = sim_->out();
  EXPECT_NE(out.find("Ethernet 1, password: admin quillet\nlogin state: S\n"), std::string::npos);
  EXPECT_NE(out.find("Ethernet 1, password: quillet\nlogin state: F\n"), std::string::npos);
  EXPECT_NE(out.find("Ethernet -1, password: admin quillet\nlogin state: S\n"), std::string::npos);
}

TEST_F(SimulatorTest, FailedLoginRaisesTheAuthenticationAlert) {
  // Mail and trap enabled, both towards loopback; the device's programs are stand-ins.
  const std::string ini = root_file("mnt/jffs2/station.ini");
  for (const auto& [section, key, value] : {std::tuple{"SNMP", "emailAlert2", "1"},
                                            {"SNMP", "trapAlert2", "1"},
                                            {"SNMP", "snmpTrapServer", "127.0.0.1"},
                                            {"SMTP", "smtpServer", "127.0.0.1"},
                                            {"SMTP", "sender", "unit@localhost"},
                                            {"SMTP", "receiver", "ops@localhost;desk@localhost"}})
    write_profile_string(section, key, value, ini.c_str());
  ASSERT_TRUE(start_simulator());
  auto client = greeted_client(kEth0Address);
  ASSERT_TRUE(client->send(frame(0, "admin nopass")));
  EXPECT_EQ(client->read(7), reply(0, "F"));

  EXPECT_TRUE(wait_for_text("var/log/messages",
                            "Authentication Failure (Manager Tool), SysName: 020000000001,"
                            " SysLocation: location\n"));
  EXPECT_EQ(read_file(root_file("var/log/messages")).rfind("alert user ", 0), 0u);
  const std::string alerts = read_file(root_file("var/log/alertd.log"));
  for (const char* line : {": sendSysLog(): start sendSysLog\n",
                           ": authenFailAlert(): call sendSnmpTrap(AUTH_FAIL_TRAP)\n"})
    EXPECT_NE(alerts.find(line), std::string::npos) << line << " in\n" << alerts;
  // The trap names eth0's address in this namespace as the agent; the mail goes to both
  // receivers, in the background.
  EXPECT_TRUE(wait_for_text("var/log/programs.log",
                            "mail -S 127.0.0.1 -f unit@localhost -s KV7731 Alert Message"
                            " ops@localhost desk@localhost\n"));
  const std::string programs = read_file(root_file("var/log/programs.log"));
  EXPECT_NE(programs.find("rtc2systime\n"), std::string::npos) << programs;
  EXPECT_NE(programs.find("snmptrap -v1 -c ormolu 127.0.0.1 0 10.77.0.1 4 0 \n"), std::string::npos)
      << programs;
  EXPECT_EQ(programs.find("route"), std::string::npos) << programs;  // the trap went out
  EXPECT_NE(read_file(root_file("tmp/mailmessage.1"))
                .find("Alert Condition: Authentication Failure (Manager Tool) \n"),
            std::string::npos);
}

TEST_F(SimulatorTest, EveryCodeButLoginIsRefusedBeforeLoginAndAnUnknownOneEndsTheBuffer) {
  ASSERT_TRUE(start_simulator());
  auto client = greeted_client(kLoopback);
  for (int first = 1; first < 256; first += 85) {
    std::string request, expected;
    for (int code = first; code < first + 85; ++code) {
      request += frame(code, "\x01");
      expected += error_reply(code);
    }
    ASSERT_TRUE(client->send(request));
    EXPECT_EQ(client->read(expected.size()), expected) << "codes from " << first;
  }
  // A frame without data, and a head without a tail (no frame: 255).
  ASSERT_TRUE(client->send(frame(1) + "\xFF\xFA\x2C\x01"));
  EXPECT_EQ(client->read(14), error_reply(1) + error_reply(255));
  EXPECT_TRUE(client->silent_for(200));
  EXPECT_EQ(sim_->out().find("Fetch command error"), std::string::npos);

  // An unknown code ends the buffer after the replies built before it.
  ASSERT_TRUE(client->send(frame(0, "quillet") + frame(97) + frame(0, "quillet") + frame(50) +
                           frame(0, "x")));
  EXPECT_EQ(client->read(14), reply(0, "S") + reply(0, "S"));
  EXPECT_TRUE(client->silent_for(200));
  // The failed login after the unknown code did not run: still logged in.
  ASSERT_TRUE(client->send(frame(98) + frame(0, "quillet")));
  EXPECT_EQ(client->read(7), reply(0, "S"));
  EXPECT_NE(sim_->out().find("Fetch command error\n"), std::string::npos);
}

}  // namespace
