// The port loader's rules no command scenario reaches: a word without a wire code, a timer
// beyond its 16 bits, SNMP texts cut and cleared.
#include "model/port_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

TEST(PortLoader, WordsWithoutAWireCodeAndValuesBeyondTheirFields) {
  TempDir root;
  std::filesystem::create_directories(root.file("mnt/jffs2"));
  ASSERT_EQ(set_root(root.path().c_str()), 0);
  write_file(
      root.file("mnt/jffs2/station.ini"),
      "[COM2]\ncom_tcp_mode=Reverse_Telnet\n[+COM2]\ntcp_deli_timer=70000\n[SNMP]\nsysName=" +
          std::string(40, 'n') + "\n");
  PortTable table;
  load_port_record(&table, 1);
  const PortSettings& settings = table.records[1].settings;
  EXPECT_EQ(settings.tcp_mode, kTcpModeRaw);  // Reverse_Telnet has no wire code
  EXPECT_EQ(get_field(settings.tcp_delimiter, delimiter::kTimer), 70000u % 65536);
  SnmpIdentity id;
  std::memset(&id, 'x', sizeof id);
  load_snmp_identity(&id);
  EXPECT_EQ(std::string(id.sysName), std::string(31, 'n'));
  EXPECT_EQ(std::string(id.sysContact, sizeof id.sysContact), std::string(32, '\0'));
  set_root(nullptr);
}

}  // namespace
