// The INI library against tests/data/inifile.txt, one call per row on a file as the row gives
// it; then the station.ini accessors at their edges. A read-only or full file system under
// station.ini is the daemon's fault test.
#include "storage/inifile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/root.h"
#include "storage/station_ini.h"
#include "support/case_table.h"
#include "support/temp_dir.h"

// Fails the n-th array new(nothrow) from now on (1: the next one), taking the library's
// working buffers away; 0 never fails.
static int g_fail_nothrow_new = 0;
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (g_fail_nothrow_new > 0 && --g_fail_nothrow_new == 0) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

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
    const char *p = path.c_str(), *section = row.fields.size() > 4 ? row[2]->c_str() : "",
               *key = row.fields.size() > 4 ? row[3]->c_str() : "";
    testing::internal::CaptureStdout();
    g_fail_nothrow_new = mode.starts_with(".nomem") ? mode.back() - '0' : 0;
    if (call == "read") {
      std::string value(128, '#');
      const int found = read_profile_string(section, key, value.data(), 128, nullptr, p);
      EXPECT_EQ(std::to_string(found) + value.c_str(),
                (row[4] ? "1" + *row[4] : "0" + std::string(128, '#')));
    } else if (call == "int") {
      EXPECT_EQ(read_profile_int(section, key, std::stoi(*row[4]), p), std::stoi(*row[5]));
    } else if (call == "load") {
      std::vector<char> buffer(kIniBufferSize);
      int length = -1;
      const int loaded = load_ini_file(p, buffer.data(), &length);
      EXPECT_EQ(std::to_string(loaded) + " " + std::to_string(length), *row[2] + " " + *row[3]);
    } else {
      EXPECT_EQ(write_profile_string(section, key, row[4]->c_str(), p), std::stoi(*row[5]));
      const auto after =
          file_exists(path) && mode != ".dir" ? std::optional(read_file(path)) : before;
      EXPECT_TRUE(after == (row[6] ? row[6] : before)) << after.value_or("(none)").substr(0, 80);
    }
    g_fail_nothrow_new = 0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              mode.starts_with(".nomem") ? "Warning: No buffer to process ini files\nIngore this " +
                                               call + "_profile_string\n"
                                         : "");
  }
}

// The readers take what their form holds and nothing of other ports; the writers store their
// form and nothing they cannot hold.
TEST(StationIni, ReadersAndWritersKeepToTheirForms) {
  TempDir dir;
  ASSERT_EQ(set_root(dir.path().c_str()), 0);
  std::filesystem::create_directories(dir.file("mnt/jffs2"));
  const std::string ini = dir.file("mnt/jffs2/station.ini");
  const auto left = []<typename Read>(Read read, std::size_t n) {  // the first n bytes of 0x55
    char b[160];
    std::memset(b, 0x55, sizeof b);
    if constexpr (std::is_invocable_v<Read, char*>)
      read(b);
    else
      read(reinterpret_cast<unsigned char*>(b));
    return std::string(b, n);
  };
  write_file(ini,
             "[COM1]\ncom_baud_rate=9600   \ncom_source_ip=10.1.300\n[COM2]\ncom_ixon=0x1234\n"
             "com_ixoff=13\n[+COM1]\nuart_deli_timer=-5\n[+COM2]\nuart_deli_char=0xd\n"
             "tcp_deli_char=0x1bff\n[COM3]\ncom_baud_rate=9600\ncom_des1_ip=1.2.3.4\n"
             "[SNMP]\ntrapAlert0=1\ntrapAlert3=1\nemailAlert5=1\nreadCommunity=" +
                 std::string(20, 'c') +
                 "\n[SMTP]\nsender=ab\xE9"
                 "cd\nreceiver=x\x80y\nsmtpAuth=258\n[COMLOG]\nlog_type=hex\nlog_com=COM2\n");
  EXPECT_EQ(get_com_baud_rate(1), 9600);
  EXPECT_EQ(get_uart_deli_timer(1), -5);
  EXPECT_EQ(get_com_data_bit(1), 0);
  EXPECT_EQ(get_com_ixon(2), 0x1234);  // hex bytes: the whole number
  EXPECT_EQ(get_com_ixoff(2), 0x13);
  EXPECT_EQ(get_log_type(), 0);  // words match exactly
  EXPECT_EQ(get_log_com(), 2);
  EXPECT_EQ(left([](unsigned char* b) { get_com_source_ip(1, b); }, 5), "\x0a\x01\x2c\0\x55"s);
  EXPECT_EQ(left([](unsigned char* b) { get_uart_deli_char(2, b); }, 5), "\0\0\0\0\x55"s);
  EXPECT_EQ(left([](unsigned char* b) { get_tcp_deli_char(2, b); }, 5), "\x02\x1b\xff\0\x55"s);
  EXPECT_EQ(get_com_baud_rate(3) + get_com_ixon(0), 0);
  EXPECT_EQ(left([](unsigned char* b) { get_com_des1_ip(3, b); }, 4), std::string(4, '\0'));
  EXPECT_EQ(get_trapAlert(0) * 100 + get_trapAlert(3) * 10 + get_trapAlert(-1), 100 - 10 - 1);
  EXPECT_EQ(get_emailAlert(5) + get_emailAlert(-1), 0);
  // Texts end within their size; SMTP texts fill their whole field, a byte above 0x80 made 0.
  EXPECT_EQ(left(get_readCommunity, 17), std::string(15, 'c') + "\0\x55"s);
  EXPECT_EQ(left(get_sender, 49), "ab\0cd"s + std::string(43, '\0') + "\x55");
  EXPECT_EQ(left(get_receiver, 4), "x\x80y\0"s);
  EXPECT_EQ(left(get_smtpServer, 33), std::string(32, '\0') + "\x55");
  EXPECT_EQ(get_smtpAuth(), 2);

  std::filesystem::remove(ini);
  const unsigned char ip[4] = {127, 0, 0, 255}, two[4] = {2, 0x1b, 0xff, 0},
                      none[4] = {0, 13, 10, 0}, three[4] = {3, 1, 2, 0}, xon = 0x11,
                      trap[3] = {1, 0x12, 0xFF};
  EXPECT_EQ(set_com_baud_rate(0, 9600) + set_com_des1_ip(3, ip) + set_com_parity(1, 7) +
                set_tcp_deli_char(2, three) + set_log_type(0x8000),
            1);  // log_type is written, as "0"
  set_com_parity(1, 2);
  set_com_udp_des_ed_ip(2, ip, 8);
  set_uart_deli_char(2, none);
  set_tcp_deli_char(2, two);
  set_com_ixon(1, &xon);
  set_sysName(std::string(40, 'n').c_str());
  set_receiver(std::string(200, 'r').c_str());
  set_trapAlert(trap);
  set_log_com(1);
  EXPECT_EQ(get_log_com(), 1);
  set_log_com(9);
  set_syslog_ip(ip);
  EXPECT_EQ(read_file(ini),
            "[COMLOG]\nlog_com=0\nlog_type=0\n\n[COM1]\ncom_ixon=0x11\ncom_parity=Even\n\n[COM2]\n"
            "com_udp8_des_ed_ip=127.0.0.255\n\n[+COM2]\ntcp_deli_char=0x1bff\nuart_deli_char=\n\n"
            "[SNMP]\ntrapAlert2=15\ntrapAlert1=2\ntrapAlert0=1\nsysName=" +
                std::string(31, 'n') + "\n\n[SMTP]\nreceiver=" + std::string(127, 'r') +
                "\n\n[SYSLOG]\nsyslog_ip=127.0.0.255\n");
  set_root(nullptr);
}

}  // namespace
