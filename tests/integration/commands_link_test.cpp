// The link and transfer-mode commands over real TCP. station.ini inserts a new key as the
// first line of its section, so a section that starts empty shows the keys a set wrote, last
// written first.
#include <vector>

#include "commands_support.h"
#include "storage/inifile.h"

namespace {

std::string reversed_lines(const std::vector<std::string>& written) {
  std::string s;
  for (const std::string& line : written) s = line + "\n" + s;
  return s;
}

TEST_F(CommandsTest, LinkModeSetsWriteTheirKeysInOrder) {
  start("[COM1]\n");
  const std::string server = bytes({1, 0x01, 0x02, 1, 10, 0, 0, 7, 3, 0, 0, 0});
  EXPECT_EQ(ask(frame(92, server), 19), reply(92, server + bytes({0})));
  EXPECT_EQ(section("COM1"),
            reversed_lines({"com_link_mode=TCP_Server", "com_local_port=513", "com_ip_filter=1",
                            "com_source_ip=10.0.0.7", "com_max_connection=3"}));

  write_file(ini_path(), "[COM1]\n");
  const std::string client = bytes({2, 10, 0, 0, 8, 80, 0, 1, 10, 0, 0, 9, 0x51, 0x01});
  EXPECT_EQ(ask(frame(92, client), 21), reply(92, client + bytes({0})));
  EXPECT_EQ(section("COM1"),
            reversed_lines({"com_link_mode=TCP_Client", "com_des1_ip=10.0.0.8", "com_des1_port=80",
                            "com_des2_enable=1", "com_des2_ip=10.0.0.9", "com_des2_port=337"}));

  write_file(ini_path(), "[COM1]\n");
  std::string udp = bytes({3, 0x10, 0x27});
  std::vector<std::string> keys = {"com_link_mode=UDP", "com_udp_local_port=10000"};
  for (int e = 1; e <= 8; ++e) {
    udp += bytes({e % 2, (2000 + e) & 0xFF, (2000 + e) >> 8, 10, 0, e, 1, 10, 0, e, 9});
    const std::string n = std::to_string(e);
    if (e > 1) keys.push_back("com_udp" + n + "_enable=" + std::to_string(e % 2));
    keys.push_back("com_udp" + n + "_des_port=" + std::to_string(2000 + e));
    keys.push_back("com_udp" + n + "_des_be_ip=10.0." + n + ".1");
    keys.push_back("com_udp" + n + "_des_ed_ip=10.0." + n + ".9");
  }
  EXPECT_EQ(ask(frame(92, udp), 97), reply(92, udp));
  EXPECT_EQ(section("COM1"), reversed_lines(keys));
  EXPECT_NE(sim_->out().find("link length = 91\nset linkmode = 3\nudp iport=10000\nudp enable=1\n"
                             "udp port=2001\nudp be ip=10.0.1.1\nudp ed ip=10.0.1.9\n"
                             "udp enable=0\nudp port=2002\n"),
            std::string::npos)
      << sim_->out();

  // Mode 4 is kept in memory only; a 13-byte payload is refused; mode 8 is not answered.
  const std::string before = ini();
  EXPECT_EQ(ask(frame(92, bytes({4}) + std::string(26, 'x')) + frame(92, std::string(13, '\1')) +
                    frame(92, "\x08") + frame(91, bytes({0})),
                6 + 7 + 7),
            reply(92) + error_reply(92) + reply(91, "\x05"));
  EXPECT_EQ(ini(), before);
  // Each set reports a change; the 13-byte refusal and mode 8 after mode 4 replace it by 0.
  expect_notices("1\n1\n1\n", '1');
}

TEST_F(CommandsTest, LinkModeQueriesReportStationIni) {
  start(
      "[COM1]\ncom_local_port=258\ncom_ip_filter=1\ncom_source_ip=10.0.0.7\n"
      "com_max_connection=1\ncom_des1_ip=10.0.0.8\ncom_des1_port=80\ncom_des2_enable=1\n"
      "com_des2_ip=10.0.0.9\ncom_des2_port=81\ncom_udp_local_port=4001\ncom_udp1_enable=0\n"
      "com_udp1_des_port=4002\ncom_udp1_des_be_ip=10.0.1.1\ncom_udp1_des_ed_ip=10.0.1.9\n"
      "com_udp2_enable=1\ncom_udp2_des_port=4003\n");
  const std::string server = bytes({1, 2, 1, 1, 10, 0, 0, 7, 1, 0, 0, 0, 0});
  const std::string client = bytes({2, 10, 0, 0, 8, 80, 0, 1, 10, 0, 0, 9, 81, 0, 0});
  std::string udp = bytes({3, 0xA1, 0x0F, 1, 0xA2, 0x0F, 10, 0, 1, 1, 10, 0, 1, 9, 1, 0xA3, 0x0F});
  udp += std::string(91 - udp.size(), '\0');
  // No com_link_mode: the TCP server.
  EXPECT_EQ(ask(frame(92, bytes({0})) + frame(92, "\x05") + frame(92, "\x06") + frame(92, "\x07"),
                19 + 19 + 21 + 97),
            reply(92, server) + reply(92, server) + reply(92, client) + reply(92, udp));
  // A mode-4 set leaves station.ini's mode, which the query reports.
  write_profile_string("COM1", "com_link_mode", "UDP", ini_path().c_str());
  EXPECT_EQ(ask(frame(92, bytes({4}) + std::string(26, '\0')) + frame(92, bytes({0})), 6 + 97),
            reply(92) + reply(92, udp));
  expect_notices("1\n1\n", '1');
}

TEST_F(CommandsTest, DelimitersInterfaceAndTcpMode) {
  start("[COM1]\ncom_link_mode=UDP\n[+COM1]\n[COM2]\n[+COM2]\n");
  const std::string block = bytes({1, 0, 10, 0, 2, 0x0D, 0x0A, 0, 0, 4});
  EXPECT_EQ(ask(frame(77, block) + frame(77, bytes({0})) + frame(76, std::string(9, '\1')) +
                    frame(77, std::string(9, '\1')),
                16 + 16 + 7 + 7),
            reply(77, block) + reply(77, block) + error_reply(76) + error_reply(98));
  EXPECT_EQ(section("+COM1"),
            "uart_deli_maxbyte=1024\nuart_deli_char=0x0d0a\nuart_deli_timer=10\n"
            "uart_deli_flag=1\n");
  EXPECT_EQ(ask(frame(94, "\x02") + frame(76, block), 7 + 16),
            reply(94, "\x02") + reply(76, block));
  EXPECT_EQ(section("+COM2"),
            "tcp_deli_maxbyte=1024\ntcp_deli_char=0x0d0a\ntcp_deli_timer=10\n"
            "tcp_deli_flag=1\n");

  // The interface type and Virtual COM on the TCP server COM2; UDP forces RAW on COM1.
  EXPECT_EQ(ask(frame(90, "\x02") + frame(90, "\x03") + frame(85, "\x01"), 21),
            reply(90, "\x02") + reply(90, "\x03") + reply(85, "\x01"));
  EXPECT_EQ(section("COM2"), "com_tcp_mode=Virtual_COM\ncom_uart_mode=RS-422\n");
  EXPECT_EQ(ask(frame(94, "\x01") + frame(85, "\x01") + frame(99, "\x03") + frame(99, "\x01"), 28),
            reply(94, "\x01") + reply(85, "\x02") + reply(99, "\x02") + reply(99, "\x01"));
  EXPECT_EQ(section("COM1"), "com_tcp_mode=RAW\ncom_link_mode=UDP\n");
  // The two delimiter sets, the interface types, code 99; neither code 85 told anybody.
  expect_notices("1\n2\n2\n1\n", '1');
}

}  // namespace
