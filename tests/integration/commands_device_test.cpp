// The device and system commands over real TCP: get-all reloading the port from station.ini
// for each link mode, the small per-port values and port selection (kept across connections),
// the name and password texts, and the EEPROM address fields of the session's interface.
#include "commands_support.h"
#include "storage/inifile.h"

namespace {

constexpr char kIni[] =
    "[COM1]\ncom_baud_rate=115200\ncom_data_bit=8\ncom_parity=Even\ncom_stop_bit=2\n"
    "com_flow_control=RTS/CTS\ncom_tcp_mode=Virtual_COM\ncom_uart_mode=RS-485\n"
    "com_link_mode=TCP_Server\ncom_local_port=258\ncom_ip_filter=1\ncom_source_ip=10.0.0.7\n"
    "com_max_connection=3\ncom_des1_ip=10.0.0.8\ncom_des1_port=80\ncom_des2_enable=1\n"
    "com_des2_ip=10.0.0.9\ncom_des2_port=81\ncom_udp_local_port=4001\ncom_udp1_enable=0\n"
    "com_udp1_des_port=4002\ncom_udp1_des_be_ip=10.0.1.1\ncom_udp1_des_ed_ip=10.0.1.9\n"
    "[SNMP]\nsysName=Tower\nsysContact=desk\n";

// The 15 frames of get-all for COM1 of kIni, with the link payload of its mode: 112 bytes
// and the payload.
std::string get_all_series(const std::string& link) {
  const std::string fixed = bytes({4, 3, 0xE7});
  return reply(1, bytes({0, 1, 0xC2, 0})) + reply(2, "\x08") + reply(3, "\x03") + reply(4, "\x02") +
         reply(5, "\x03") + reply(85, "\x01") + reply(89, bytes({1, 0})) + reply(90, "\x02") +
         reply(91, "\x05") + reply(92, link) + reply(93, bytes({0, 0})) + reply(99, "\x02") +
         reply(98, fixed) + reply(97, fixed) + reply(95);
}

TEST_F(CommandsTest, GetAllReloadsThePortForEachLinkMode) {
  start(kIni);
  // Memory-only values set before get-all do not survive its reload.
  const std::string server = bytes({1, 2, 1, 1, 10, 0, 0, 7, 3, 0, 0, 0, 0});
  EXPECT_EQ(ask(frame(99, "\x01") + frame(89, "\x01north") + frame(96), 7 + 13 + 112 + 13),
            reply(99, "\x01") + reply(89, named(1, "north")) + get_all_series(server));
  EXPECT_EQ(ask(frame(96, "\x01"), 7), error_reply(96));

  write_profile_string("COM1", "com_link_mode", "TCP_Client", ini_path().c_str());
  const std::string client = bytes({2, 10, 0, 0, 8, 80, 0, 1, 10, 0, 0, 9, 81, 0, 0});
  EXPECT_EQ(ask(frame(96), 112 + 15), get_all_series(client));

  write_profile_string("COM1", "com_link_mode", "UDP", ini_path().c_str());
  std::string udp = bytes({3, 0xA1, 0x0F, 1, 0xA2, 0x0F, 10, 0, 1, 1, 10, 0, 1, 9});
  udp += std::string(91 - udp.size(), '\0');
  EXPECT_EQ(ask(frame(96), 112 + 91), get_all_series(udp));
  EXPECT_NE(sim_->out().find("get all, udp port=4001\nparity=3\nget alias name=\nlength=1\n"
                             "mode=2\nlinkmode = 3\n"),
            std::string::npos)
      << sim_->out();
  expect_notices("1\n", '1');  // code 99 only
}

TEST_F(CommandsTest, PortSelectionSurvivesAReconnectAndSmallValues) {
  start(kIni);
  EXPECT_EQ(ask(frame(94, bytes({0})) + frame(94, "\x02") + frame(79, "\x02") + frame(91, "\x07") +
                    frame(93) + frame(93, "\x01") + frame(78, "\x07"),
                7 * 5 + 8 + 7),
            reply(94, "\x01") + reply(94, "\x02") + reply(79, "\x02") + reply(91, "\x05") +
                reply(93, bytes({0, 0})) + error_reply(93) + reply(78, "\x07"));
  // 79 with the value it holds changes nothing; echo and selection never notify.
  EXPECT_EQ(ask(frame(79, "\x02") + frame(78, "\x01") + frame(94, "\x09"), 21),
            reply(79, "\x02") + reply(78, "\x01") + reply(94, "\x01"));
  expect_notices("2\n", '1');

  // A new connection finds the port the previous one selected, but must begin with IAC SB
  // and log in again.
  EXPECT_EQ(ask(frame(94, "\x02"), 7), reply(94, "\x02"));
  client_.reset();
  client_ = greeted_client(kEth0Address);
  EXPECT_EQ(ask(frame(94, bytes({0})), 7), error_reply(94));
  EXPECT_EQ(ask(frame(0, "quillet") + frame(94, bytes({0})), 14),
            reply(0, "S") + reply(94, "\x02"));
}

TEST_F(CommandsTest, NamesAndThePassword) {
  start(kIni);
  write_profile_string("SNMP", "sysName", "Annex", ini_path().c_str());
  EXPECT_EQ(
      ask(frame(89, "\x02") + frame(89, named(5, "Hall")) + frame(89, "\x04"), 13 + 12 + 12),
      reply(89, named(3, "Annex")) + reply(89, named(5, "Hall")) + reply(89, named(5, "Hall")));
  EXPECT_NE(section("SNMP").find("sysLocation=Hall\n"), std::string::npos) << ini();

  EXPECT_EQ(ask(frame(89, named(9, "0123456789")), 18), reply(89, named(9, "0123456789")));
  EXPECT_EQ(read_file(root_file("dev/i2c-0")).substr(76, 8), "01234567");
  EXPECT_TRUE(wait_for_text("var/log/messages", "Password Changed"));
  EXPECT_EQ(ask(frame(0, "admin 01234567"), 7), reply(0, "S"));
  expect_notices("", '1');
}

TEST_F(CommandsTest, NetAddressUsesTheSessionsInterfaceOnly) {
  start(kIni);
  EXPECT_EQ(ask(frame(88, bytes({5, 255, 255, 0, 0})) + frame(88, "\x04") +
                    frame(88, bytes({1, 10, 77, 0, 5})) + frame(88, "\x01"),
                11 * 3 + 7),
            reply(88, bytes({5, 255, 255, 0, 0})) + reply(88, bytes({5, 255, 255, 0, 0})) +
                reply(88, bytes({1, 10, 77, 0, 5})) + error_reply(88));
  const std::string image = read_file(root_file("dev/i2c-0"));
  EXPECT_EQ(image.substr(114, 8), bytes({10, 77, 0, 5, 255, 255, 0, 0}));

  // Over loopback the session's interface is unknown: nothing is read or stored.
  client_->close();
  client_ = greeted_client(kLoopback, true);
  EXPECT_EQ(ask(frame(88, bytes({1, 10, 0, 0, 1})) + frame(88, bytes({0})), 14),
            error_reply(88) + error_reply(88));
  EXPECT_EQ(read_file(root_file("dev/i2c-0")), image);
  expect_notices("", '1');
}

}  // namespace
