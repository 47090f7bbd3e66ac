#include "model/port_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;
Bytes bytes(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return Bytes(b, b + n);
}

class PortLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.path() + "/mnt/jffs2");
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    std::memset(&table_, 0xAA, sizeof table_);  // so that bytes no load touches show
  }
  void TearDown() override { set_root(nullptr); }
  void ini(const std::string& text) { write_file(root_.file("mnt/jffs2/station.ini"), text); }
  const PortSettings& port(int n) { return table_.records[n - 1].settings; }

  TempDir root_;
  PortTable table_;
};

TEST_F(PortLoader, MissingSectionLoadsAPlainTcpServerPort) {
  ini("[SNMP]\nsysName=x\n");
  EXPECT_EQ(load_port_table(&table_, 2), 0);
  for (int n = 1; n <= 2; ++n) {
    const PortSettings& s = port(n);
    EXPECT_EQ(table_.records[n - 1].port_number, static_cast<uint32_t>(n));
    EXPECT_EQ(s.baud_rate, 0u);
    // data size, parity, stop bits, flow control; fixed98, fixed97; option99, uart_mode,
    // value91, option79, tcp_mode; link mode and its 11 layout bytes
    EXPECT_EQ(bytes(&s.data_bits, 32),
              (Bytes{0, 1, 1, 1, 4, 3, 0xE7, 4, 3, 0xE7, 2, 1,    5,    1,    2,    1,
                     0, 0, 0, 0, 0, 0, 0,    0, 0, 0,    0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(bytes(s.mode4_settings, 28), Bytes(28, 0xAA));  // and value93
    EXPECT_EQ(bytes(&s.alias_tag, 2), (Bytes{1, 0}));
    EXPECT_EQ(bytes(s.uart_delimiter, 20), Bytes(20, 0));
  }
}

TEST_F(PortLoader, TcpServerPortAndDelimitersInWireForm) {
  ini("[COM1]\ncom_link_mode=TCP_Server\ncom_local_port=258\ncom_ip_filter=1\n"
      "com_source_ip=10.0.0.7\ncom_max_connection=1\ncom_baud_rate=115200\ncom_data_bit=8\n"
      "com_parity=Even\ncom_stop_bit=2\ncom_flow_control=RTS/CTS\ncom_uart_mode=RS-422\n"
      "com_tcp_mode=Reverse_Telnet\n[+COM1]\nuart_deli_flag=258\nuart_deli_timer=10\n"
      "uart_deli_char=0x0d0a\nuart_deli_maxbyte=1024\ntcp_deli_flag=1\ntcp_deli_timer=70000\n"
      "tcp_deli_char=0x0d\ntcp_deli_maxbyte=3\n");
  load_port_table(&table_, 2);
  const PortSettings& s = port(1);
  EXPECT_EQ(s.baud_rate, 115200u);
  EXPECT_EQ(bytes(&s.data_bits, 4), (Bytes{8, 3, 2, 3}));
  EXPECT_EQ(s.uart_mode, 3);
  EXPECT_EQ(s.tcp_mode, 2);
  EXPECT_EQ(bytes(&s.link_mode, 12), (Bytes{1, 0x02, 0x01, 1, 10, 0, 0, 7, 1, 0, 0, 0}));
  EXPECT_EQ(bytes(s.uart_delimiter, 10), (Bytes{2, 1, 0x0A, 0, 2, 0x0D, 0x0A, 0, 0x00, 0x04}));
  // 70000 keeps its low 16 bits, 0x1170.
  EXPECT_EQ(bytes(s.tcp_delimiter, 10), (Bytes{1, 0, 0x70, 0x11, 1, 0x0D, 0, 0, 3, 0}));
  EXPECT_EQ(port(2).baud_rate, 0u);  // the sections of one port are not the other's
}

TEST_F(PortLoader, TcpClientAndUdpLayouts) {
  std::string text =
      "[COM2]\ncom_link_mode=TCP_Client\ncom_des1_ip=192.168.1.300\ncom_des1_port=4001\n"
      "com_des2_enable=1\ncom_des2_ip=10.0.0.2\ncom_des2_port=258\ncom_tcp_mode=Virtual_COM\n"
      "com_uart_mode=RS-485\n[COM1]\ncom_link_mode=UDP\ncom_udp_local_port=4660\n"
      "com_udp1_enable=0\n";
  for (int e = 1; e <= 8; ++e) {
    const std::string n = std::to_string(e);
    text += "com_udp" + n + "_des_port=" + std::to_string(1000 + e) + "\ncom_udp" + n +
            "_des_be_ip=10.0.0." + n + "\ncom_udp" + n + "_des_ed_ip=10.0.1." + n + "\n";
    if (e > 1) text += "com_udp" + n + "_enable=" + std::to_string(e % 2) + "\n";
  }
  ini(text);
  testing::internal::CaptureStdout();
  load_port_table(&table_, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "get all, udp port=4660\n");

  const PortSettings& c = port(2);
  EXPECT_EQ(bytes(&c.link_mode, 15),
            (Bytes{2, 192, 168, 1, 44, 0xA1, 0x0F, 1, 10, 0, 0, 2, 0x02, 0x01, 0xAA}));
  EXPECT_EQ(c.tcp_mode, 1);
  EXPECT_EQ(c.uart_mode, 2);

  const PortSettings& u = port(1);
  EXPECT_EQ(bytes(&u.link_mode, 3), (Bytes{3, 0x34, 0x12}));
  for (int e = 1; e <= 8; ++e) {  // entry 1 is enabled whatever station.ini says
    const auto n = static_cast<unsigned char>(e);
    const unsigned char on = e == 1 ? 1 : e % 2;
    EXPECT_EQ(bytes(u.link_settings + 2 + 11 * (e - 1), 11),
              (Bytes{on, static_cast<unsigned char>(0xE8 + e), 0x03, 10, 0, 0, n, 10, 0, 1, n}))
        << e;
  }
}

TEST_F(PortLoader, SnmpIdentityIsClearedAndCutToItsField) {
  ini("[SNMP]\nsysName=" + std::string(40, 'n') + "\nsysLocation=Lab 3\n");
  SnmpIdentity id;
  std::memset(&id, 'x', sizeof id);
  load_snmp_identity(&id);
  EXPECT_EQ(std::string(id.sysName), std::string(31, 'n'));
  EXPECT_STREQ(id.sysLocation, "Lab 3");
  EXPECT_EQ(bytes(id.sysContact, 32), Bytes(32, 0));
}

}  // namespace
