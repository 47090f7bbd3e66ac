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

Bytes bytes(const unsigned char* p, size_t n) { return Bytes(p, p + n); }

// A device root whose station.ini holds the given text.
class PortLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.path() + "/mnt/jffs2");
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    // Whatever the table held before loading, so untouched bytes show.
    std::memset(&table_, 0xAA, sizeof table_);
  }
  void TearDown() override { set_root(nullptr); }
  void ini(const std::string& text) { write_file(root_.file("mnt/jffs2/station.ini"), text); }

  TempDir root_;
  PortTable table_;
};

TEST_F(PortLoader, MissingSectionLoadsAPlainTcpServerPort) {
  ini("[SNMP]\nsysName=x\n");
  EXPECT_EQ(load_port_table(&table_, 2), 0);
  for (int i = 0; i < 2; ++i) {
    const PortRecord& r = table_.records[i];
    const PortSettings& s = r.settings;
    EXPECT_EQ(r.port_number, static_cast<uint32_t>(i + 1));
    EXPECT_EQ(s.baud_rate, 0u);
    EXPECT_EQ(s.data_bits, 0);
    EXPECT_EQ(s.parity, 1);
    EXPECT_EQ(s.stop_bits, 1);
    EXPECT_EQ(s.flow_control, 1);
    EXPECT_EQ(s.uart_mode, 1);
    EXPECT_EQ(s.tcp_mode, 2);
    EXPECT_EQ(s.link_mode, 1);
    EXPECT_EQ(bytes(s.fixed98, 3), (Bytes{0x04, 0x03, 0xE7}));
    EXPECT_EQ(bytes(s.fixed97, 3), (Bytes{0x04, 0x03, 0xE7}));
    EXPECT_EQ(s.option99, 2);
    EXPECT_EQ(s.value91, 5);
    EXPECT_EQ(s.option79, 1);
    EXPECT_EQ(s.alias_tag, 1);
    EXPECT_EQ(s.alias_name[0], '\0');
    EXPECT_EQ(bytes(s.link_settings, 11), Bytes(11, 0));
    // Beyond the TCP-server layout, and the blocks no load touches, nothing changed.
    EXPECT_EQ(bytes(s.link_settings + 11, 79), Bytes(79, 0xAA));
    EXPECT_EQ(bytes(s.mode4_settings, 26), Bytes(26, 0xAA));
    EXPECT_EQ(bytes(s.value93, 2), Bytes(2, 0xAA));
    EXPECT_EQ(bytes(s.uart_delimiter, 10), Bytes(10, 0));
    EXPECT_EQ(bytes(s.tcp_delimiter, 10), Bytes(10, 0));
  }
}

TEST_F(PortLoader, TcpServerPortAndDelimitersInWireForm) {
  ini("[COM1]\ncom_link_mode=TCP_Server\ncom_local_port=258\ncom_ip_filter=1\n"
      "com_source_ip=10.0.0.7\ncom_max_connection=1\ncom_baud_rate=115200\ncom_data_bit=8\n"
      "com_parity=Even\ncom_stop_bit=2\ncom_flow_control=RTS/CTS\ncom_uart_mode=RS-422\n"
      "com_tcp_mode=Reverse_Telnet\n"
      "[+COM1]\nuart_deli_flag=258\nuart_deli_timer=10\nuart_deli_char=0x0d0a\n"
      "uart_deli_maxbyte=1024\ntcp_deli_flag=1\ntcp_deli_timer=70000\ntcp_deli_char=0x0d\n"
      "tcp_deli_maxbyte=3\n");
  load_port_record(&table_, 0);
  const PortSettings& s = table_.records[0].settings;
  EXPECT_EQ(s.baud_rate, 115200u);
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_EQ(s.parity, 3);
  EXPECT_EQ(s.stop_bits, 2);
  EXPECT_EQ(s.flow_control, 3);
  EXPECT_EQ(s.uart_mode, 3);
  EXPECT_EQ(s.tcp_mode, 2);
  // The mode byte and the layout leave as one payload.
  EXPECT_EQ(bytes(&s.link_mode, 12),
            (Bytes{0x01, 0x02, 0x01, 0x01, 10, 0, 0, 7, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(bytes(s.uart_delimiter, 10),
            (Bytes{0x02, 0x01, 0x0A, 0x00, 0x02, 0x0D, 0x0A, 0x00, 0x00, 0x04}));
  // A timer above 16 bits keeps its low 16 (70000 = 0x11170).
  EXPECT_EQ(bytes(s.tcp_delimiter, 10),
            (Bytes{0x01, 0x00, 0x70, 0x11, 0x01, 0x0D, 0x00, 0x00, 0x03, 0x00}));
  // Port 2 has none of it.
  load_port_record(&table_, 1);
  EXPECT_EQ(table_.records[1].settings.baud_rate, 0u);
}

TEST_F(PortLoader, TcpClientAndModeWords) {
  ini("[COM2]\ncom_link_mode=TCP_Client\ncom_des1_ip=192.168.1.300\ncom_des1_port=4001\n"
      "com_des2_enable=1\ncom_des2_ip=10.0.0.2\ncom_des2_port=258\n"
      "com_tcp_mode=Virtual_COM\ncom_uart_mode=RS-485\ncom_parity=Space\n");
  load_port_record(&table_, 1);
  const PortSettings& s = table_.records[1].settings;
  EXPECT_EQ(table_.records[1].port_number, 2u);
  EXPECT_EQ(bytes(&s.link_mode, 14), (Bytes{0x02, 192, 168, 1, 44, 0xA1, 0x0F, 0x01, 10, 0, 0,
                                           2, 0x02, 0x01}));
  EXPECT_EQ(s.link_settings[13], 0xAA);
  EXPECT_EQ(s.tcp_mode, 1);
  EXPECT_EQ(s.uart_mode, 2);
  EXPECT_EQ(s.parity, 5);
}

TEST_F(PortLoader, UdpEntryOneIsAlwaysEnabled) {
  std::string text = "[COM1]\ncom_link_mode=UDP\ncom_udp_local_port=4660\ncom_udp1_enable=0\n";
  for (int e = 1; e <= 8; ++e) {
    const std::string n = std::to_string(e);
    if (e > 1) text += "com_udp" + n + "_enable=" + (e % 2 ? "1" : "0") + "\n";
    text += "com_udp" + n + "_des_port=" + std::to_string(1000 + e) + "\n";
    text += "com_udp" + n + "_des_be_ip=10.0.0." + n + "\n";
    text += "com_udp" + n + "_des_ed_ip=10.0.1." + n + "\n";
  }
  ini(text);
  testing::internal::CaptureStdout();
  load_port_record(&table_, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "get all, udp port=4660\n");
  const PortSettings& s = table_.records[0].settings;
  EXPECT_EQ(s.link_mode, 3);
  EXPECT_EQ(bytes(s.link_settings, 2), (Bytes{0x34, 0x12}));
  for (int e = 1; e <= 8; ++e) {
    const unsigned char* entry = s.link_settings + 2 + 11 * (e - 1);
    const unsigned char on = e == 1 ? 1 : (e % 2 ? 1 : 0);
    const unsigned char port_lo = static_cast<unsigned char>((1000 + e) & 0xFF);
    const auto n = static_cast<unsigned char>(e);
    EXPECT_EQ(bytes(entry, 11), (Bytes{on, port_lo, 0x03, 10, 0, 0, n, 10, 0, 1, n})) << e;
  }
}

TEST_F(PortLoader, SnmpIdentityIsClearedAndCutToItsField) {
  ini("[SNMP]\nsysName=" + std::string(40, 'n') + "\nsysLocation=Lab 3\n");
  SnmpIdentity id;
  std::memset(&id, 'x', sizeof id);
  load_snmp_identity(&id);
  EXPECT_EQ(std::string(id.sysName), std::string(31, 'n'));
  EXPECT_STREQ(id.sysLocation, "Lab 3");
  EXPECT_EQ(bytes(reinterpret_cast<unsigned char*>(id.sysContact), 32), Bytes(32, 0));
}

}  // namespace
