// The port loader's own rules: the codes of a port station.ini says nothing about, the words
// without a wire code, UDP destination 1 always in use, one port's sections not the other's,
// and the SNMP texts cleared and cut. Where each field lies is the wire format's own test.
#include "model/port_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

TEST(PortLoader, LoadsTheRulesOfEachPortAndTheSnmpTexts) {
  TempDir root;
  std::filesystem::create_directories(root.path() + "/mnt/jffs2");
  ASSERT_EQ(set_root(root.path().c_str()), 0);
  write_file(
      root.file("mnt/jffs2/station.ini"),
      "[COM2]\ncom_link_mode=UDP\ncom_udp_local_port=4660\ncom_udp1_enable=0\n"
      "com_udp2_enable=1\ncom_udp3_enable=2\ncom_udp3_des_port=7\ncom_tcp_mode=Reverse_Telnet\n"
      "[+COM2]\ntcp_deli_timer=70000\n[SNMP]\nsysName=" +
          std::string(40, 'n') + "\nsysLocation=Lab 3\n");
  PortTable table;
  std::memset(&table, 0xAA, sizeof table);
  testing::internal::CaptureStdout();
  EXPECT_EQ(load_port_table(&table, 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(table.records[1].port_number, 0xAAAAAAAAu);  // only the ports asked for

  // COM1 has no section: a plain TCP server port, RAW, RS-232, 8N1 codes, no flow control.
  const PortSettings& plain = table.records[0].settings;
  EXPECT_EQ(table.records[0].port_number, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&plain.parity), 14),
            "\x01\x01\x01\x04\x03\xE7\x04\x03\xE7\x02\x01\x05\x01\x02");
  EXPECT_EQ(plain.link_mode, 1);
  EXPECT_EQ(get_field(plain.link_settings, tcp_server::kMaxConnection), 0u);
  EXPECT_EQ(plain.alias_tag, 1);
  EXPECT_EQ(plain.alias_name[0], '\0');

  testing::internal::CaptureStdout();
  load_port_record(&table, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "get all, udp port=4660\n");
  const PortSettings& udp = table.records[1].settings;
  EXPECT_EQ(udp.tcp_mode, kTcpModeRaw);  // Reverse_Telnet has no wire code
  EXPECT_EQ(get_field(udp.tcp_delimiter, delimiter::kTimer), 0x1170u);  // 70000, 16 bits
  for (int e = 1; e <= 3; ++e)  // destination 1 is in use whatever station.ini says
    EXPECT_EQ(get_field(udp.link_settings + udp::entry(e), udp::kEnable), e == 3 ? 2u : 1u) << e;
  EXPECT_EQ(get_field(udp.link_settings + udp::entry(3), udp::kDesPort), 7u);

  SnmpIdentity id;
  std::memset(&id, 'x', sizeof id);
  load_snmp_identity(&id);
  EXPECT_EQ(std::string(id.sysName), std::string(31, 'n'));
  EXPECT_STREQ(id.sysLocation, "Lab 3");
  EXPECT_EQ(std::string(id.sysContact, 32), std::string(32, '\0'));
  set_root(nullptr);
}

}  // namespace
