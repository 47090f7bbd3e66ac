// The INI library against tests/data/inifile.txt; the station.ini readers and port loader.
#include "storage/inifile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "model/port_loader.h"
#include "platform/root.h"
#include "storage/station_ini.h"
#include "support/case_table.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

TEST(IniFile, EachCallFindsWritesOrRefusesAsItsRowSays) {
  std::map<std::string, std::string> texts;
  for (const CaseRow& row : read_case_table("inifile.txt")) {
    SCOPED_TRACE(row.where);
    const std::string op = *row[0], call = op.substr(0, op.find('.')),
                      mode = op.substr(call.size());
    if (op == "text") {
      texts[*row[1]] = *row[2];
      continue;
    }
    std::optional<std::string> before = row[1];
    if (before && before->starts_with("@")) before = texts.at(*before);
    TempDir dir;
    const std::string path = dir.file(mode == ".nodir" ? "none/station.ini" : "station.ini");
    if (mode == ".dir") mkdir(path.c_str(), 0755);
    if (before) write_file(path, *before);
    const char *p = path.c_str(), *section = row[2]->c_str(), *key = row[3]->c_str();
    if (call == "read") {
      std::string value(128, '#');
      const int found = read_profile_string(section, key, value.data(), 128, nullptr, p);
      EXPECT_EQ(std::to_string(found) + value.c_str(),
                (row[4] ? "1" + *row[4] : "0" + std::string(128, '#')));
    } else if (call == "int") {
      EXPECT_EQ(read_profile_int(section, key, std::stoi(*row[4]), p), std::stoi(*row[5]));
    } else {
      EXPECT_EQ(write_profile_string(section, key, row[4]->c_str(), p), std::stoi(*row[5]));
      const auto after =
          file_exists(path) && mode != ".dir" ? std::optional(read_file(path)) : before;
      EXPECT_TRUE(after == (row[6] ? row[6] : before)) << after.value_or("(none)").substr(0, 80);
    }
  }
}

// The accessors at their edges: SMTP texts fill their whole field and a byte above 0x80 ends
// them; a port outside 1..2 reads as nothing; the loader and the writers keep to their forms.
TEST(StationIni, ReadersLoaderAndWritersKeepToTheirForms) {
  TempDir dir;
  ASSERT_EQ(set_root(dir.path().c_str()), 0);
  std::filesystem::create_directories(dir.file("mnt/jffs2"));
  write_file(dir.file("mnt/jffs2/station.ini"),
             "[COM2]\ncom_tcp_mode=Reverse_Telnet\n[+COM2]\ntcp_deli_timer=70000\n[COM3]\n"
             "com_baud_rate=9600\ncom_des1_ip=1.2.3.4\n[SNMP]\nsysName=" + std::string(40, 'n') +
                 "\n[SMTP]\nsender=ab\xE9"
                 "cd\nreceiver=x\x80y\n");
  const auto text = [](void (*get)(char*), std::size_t n) {  // the first n bytes of 0x55s
    char b[160];
    std::memset(b, 0x55, sizeof b);
    get(b);
    return std::string(b, n);
  };
  EXPECT_EQ(text(get_sender, 49), "ab\0cd"s + std::string(43, '\0') + "\x55");
  EXPECT_EQ(text(get_receiver, 4), "x\x80y\0"s);
  unsigned char ip[5] = {1, 1, 1, 1, 0x55};
  get_com_des1_ip(3, ip);
  EXPECT_EQ(std::string(ip, ip + 5), "\0\0\0\0\x55"s);
  EXPECT_EQ(get_com_baud_rate(3) + get_com_ixon(0), 0);
  // The loader: a word without a wire code is raw, a timer keeps its low 16 bits, texts are cut.
  PortTable table;
  load_port_record(&table, 1);
  EXPECT_EQ(table.records[1].settings.tcp_mode, kTcpModeRaw);
  EXPECT_EQ(get_field(table.records[1].settings.tcp_delimiter, delimiter::kTimer), 70000u % 65536);
  SnmpIdentity id;
  std::memset(&id, 'x', sizeof id);
  load_snmp_identity(&id);
  EXPECT_EQ(std::string(id.sysName) + std::string(id.sysContact, sizeof id.sysContact),
            std::string(31, 'n') + std::string(32, '\0'));
  // The writers: a hex byte in two digits, a text cut within its size.
  const unsigned char xon = 0x01;
  EXPECT_EQ(set_com_ixon(1, &xon) + set_sysName(std::string(40, 'n').c_str()), 2);
  const std::string written = read_file(dir.file("mnt/jffs2/station.ini"));
  EXPECT_TRUE(written.find("\nsysName=" + std::string(31, 'n') + "\n") != std::string::npos &&
              written.ends_with("\n[COM1]\ncom_ixon=0x01\n"))
      << written;
  set_root(nullptr);
}

}  // namespace
