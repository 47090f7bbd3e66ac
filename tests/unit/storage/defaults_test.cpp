#include "storage/defaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/i2c_port.h"
#include "support/temp_dir.h"

namespace {

using Image = std::vector<unsigned char>;
using Text = std::string;
constexpr unsigned kIf0 = 108, kIf1 = 238;

void put(Image& img, unsigned offset, const std::vector<unsigned char>& bytes) {
  std::copy(bytes.begin(), bytes.end(), img.begin() + offset);
}
void put_text(Image& img, unsigned offset, unsigned width, const Text& text) {
  std::fill_n(img.begin() + offset, width, 0);
  std::copy(text.begin(), text.end(), img.begin() + offset);
}

// Where two EEPROM images first differ, -1 when they are equal (8 KB is too much to print).
long first_difference(const Image& got, const Image& want) {
  if (got.size() != want.size()) return static_cast<long>(std::min(got.size(), want.size()));
  auto at = std::mismatch(got.begin(), got.end(), want.begin()).first;
  return at == got.end() ? -1 : at - got.begin();
}

// A unit from manufacturing whose factory values differ per interface and name server, so
// every copy shows where it came from. The user name fills its field: no terminator.
Image manufactured(const Text& model, unsigned char ip_mode) {
  Image img(8192, 0xFF);
  if (!model.empty()) put_text(img, 10, 16, model);
  put_text(img, 88, 8, "operator");
  for (unsigned char i = 0; i < 4; ++i) {
    unsigned b = kIf0 + 130 * i;
    put(img, b, {0x00, 0x11, 0x22, 0xAA, 0xBB, static_cast<unsigned char>(0xCC + i)});
    put(img, b + 68, {10, 0, i, 1, 255, 255, 255, i, 10, 0, i, 254, 0, ip_mode});
    for (unsigned k = 0; k < 16; ++k) img[b + 82 + k] = static_cast<unsigned char>(16 * i + k);
    put(img, 644 + 4 * i, {10, 9, 9, static_cast<unsigned char>(i + 1)});
  }
  return img;
}

// station.ini as the INI rules build it: a new key becomes the first line of its section,
// a new section is appended after an empty line, a known key keeps its place.
struct IniModel {
  std::vector<std::pair<Text, std::vector<Text>>> sections;
  void set(const Text& section, const Text& key, const Text& value) {
    auto s =
        std::find_if(sections.begin(), sections.end(), [&](auto& e) { return e.first == section; });
    if (s == sections.end()) s = sections.insert(sections.end(), {section, {}});
    auto& lines = s->second;
    auto l = std::find_if(lines.begin(), lines.end(),
                          [&](const Text& t) { return t.rfind(key + "=", 0) == 0; });
    if (l == lines.end()) l = lines.insert(lines.begin(), "");
    *l = key + "=" + value;
  }
  // "key=value" lines of one section, written in this order.
  void set(const Text& section, std::initializer_list<Text> lines) {
    for (const Text& t : lines) set(section, t.substr(0, t.find('=')), t.substr(t.find('=') + 1));
  }
  Text text() const {
    Text out;
    for (auto& [name, lines] : sections) {
      out += (out.empty() ? "[" : "\n[") + name + "]\n";
      for (auto& l : lines) out += l + "\n";
    }
    return out;
  }
};

// The per-port keys with their default and factory texts, in the order of the default
// export; "P" is 4659 + n, nullptr "not written", "UDP" the family of destinations 1..8.
struct PortKey {
  const char *section, *key, *dflt, *factory;
};
// clang-format off
constexpr PortKey kPortKeys[] = {
    {"COM", "com_link_mode", "TCP_Server", "TCP_Server"}, {"COM", "com_tcp_mode", "RAW", "RAW"},
    {"COM", "com_local_port", "P", "P"}, {"COM", "com_ip_filter", "0", "0"},
    {"COM", "com_source_ip", "0.0.0.0", "0.0.0.0"}, {"COM", "com_des1_ip", "0.0.0.0", "0.0.0.0"},
    {"COM", "com_des1_port", "P", "P"}, {"COM", "com_des2_enable", "0", "0"},
    {"COM", "com_des2_ip", "0.0.0.0", "0.0.0.0"}, {"COM", "com_des2_port", "P", "P"},
    {"COM", "com_udp_local_port", "P", "P"}, {"COM", "UDP", "", ""},
    {"COM", "com_max_connection", "1", "1"}, {"COM", "com_baud_rate", "9600", "9600"},
    {"COM", "com_parity", "None", "None"}, {"COM", "com_data_bit", "8", "8"},
    {"COM", "com_stop_bit", "1", "1"}, {"COM", "com_flow_control", "None", "None"},
    {"COM", "com_special_xon_xoff", "0", nullptr}, {"COM", "com_uart_mode", "", "RS-232"},
    {"+COM", "uart_deli_flag", "1", "0"}, {"+COM", "uart_deli_timer", "32770", "10"},
    {"+COM", "uart_deli_char", "0x0d0a", "0x0d0a"}, {"+COM", "tcp_deli_flag", "0", "0"},
    {"+COM", "tcp_deli_timer", "10", "10"}, {"+COM", "tcp_deli_char", "0x0d0a", "0x0d0a"},
    {"+COM", "uart_deli_maxbyte", "1452", nullptr}, {"+COM", "tcp_deli_maxbyte", "1452", nullptr},
    {"+COM", "fifo_flag", "0", nullptr}, {"+COM", "connect_time_out", "3600", nullptr},
    {"+COM", "send_interval", "0", nullptr}, {"COM", "com_transparent_mode", "0", nullptr},
    {"COM", "com_reply_all", "1", nullptr}, {"+COM", "tranaction_timeout", "1000", nullptr},
    {"+COM", "com_always_open", "0", nullptr}, {"COM", "com_ixon", "0x11", nullptr},
    {"COM", "com_ixoff", "0x13", nullptr}};

// The factory routine's own order of its port keys.
constexpr const char* kFactoryPortOrder[] = {
    "com_max_connection", "com_link_mode", "com_tcp_mode", "com_local_port", "com_des1_ip",
    "com_des1_port", "com_des2_enable", "com_des2_ip", "com_des2_port", "com_baud_rate",
    "com_parity", "com_data_bit", "com_stop_bit", "com_flow_control", "com_uart_mode",
    "com_ip_filter", "com_source_ip", "uart_deli_flag", "uart_deli_timer", "uart_deli_char",
    "tcp_deli_flag", "tcp_deli_timer", "tcp_deli_char", "com_udp_local_port", "UDP"};
// clang-format on

void set_port_key(IniModel& ini, const PortKey& row, int n, bool factory, const Text& uart) {
  const Text port = std::to_string(4659 + n), section = row.section + std::to_string(n);
  for (int k = 1; Text(row.key) == "UDP" && k <= 8; ++k) {
    Text udp = "com_udp" + std::to_string(k);
    ini.set(section,
            {udp + "_des_be_ip=0.0.0.0", udp + "_des_ed_ip=0.0.0.0", udp + "_des_port=" + port});
    if (factory || k >= 2) ini.set(section, udp + "_enable", "0");
  }
  Text value = factory ? row.factory : row.dflt;
  if (Text(row.key) != "UDP")
    ini.set(section, row.key, value == "P" ? port : value.empty() ? uart : value);
}

void factory_keys(IniModel& ini) {
  ini.set("SNMP",
          {"enable=0", "snmpTrapServer=0.0.0.0", "readCommunity=ormolu", "writeCommunity=sextant",
           "sysName=001122AABBCC", "sysLocation=location", "sysContact=contact"});
  for (int n = 1; n <= 2; ++n)
    for (Text key : kFactoryPortOrder)
      set_port_key(ini,
                   *std::find_if(std::begin(kPortKeys), std::end(kPortKeys),
                                 [&](auto& r) { return key == r.key; }),
                   n, true, "");
  ini.set("NTP", {"enable=0", "city_index=22", "timezone=0", "server="});
}

void default_keys(IniModel& ini, const Text& ip_mode, const Text& uart) {
  ini.set("ADMIN", {"username=operator", "passwd=quillet"});
  ini.set("NETWORK", {"ip=10.0.0.1", "netmask=255.255.255.0", "gateway=10.0.0.254",
                      "ip_mode=" + ip_mode, "dns1=10.9.9.1", "dns2=10.9.9.2"});
  ini.set("SNMP", {"enable=1", "sysName=001122AABBCC", "sysLocation=location", "sysContact=contact",
                   "snmpTrapServer=0.0.0.0", "readCommunity=ormolu", "writeCommunity=sextant"});
  for (int n = 1; n <= 2; ++n)
    for (auto& row : kPortKeys) set_port_key(ini, row, n, false, uart);
  ini.set("NTP", {"enable=0", "city_index=22", "timezone=0", "server=pool.ntp.org"});
  ini.set("SNMP", {"emailAlert0=0", "emailAlert1=0", "emailAlert2=0", "emailAlert3=0",
                   "emailAlert4=0", "trapAlert0=0", "trapAlert1=0", "trapAlert2=0"});
  ini.set("SMTP",
          {"smtpServer=", "sender=", "smtpUser=", "smtpPasswd=", "receiver=", "smtpAuth=0"});
  ini.set("SYSLOG", {"log_to_flash=0", "log_level=4", "enable_syslog_server=0", "syslog_ip=0.0.0.0",
                     "syslog_port=514"});
  ini.set("COMLOG", {"log_com=0", "log_type=0", "comlog_to_server=0", "comlog_server_ip=0.0.0.0",
                     "comlog_server_port=514"});
}

Image image_of(const Text& path) {
  Text bytes = read_file(path);
  return Image(bytes.begin(), bytes.end());
}

// A device root holding the EEPROM image and station.ini, with the block write's 10 ms
// pause made instant.
struct DeviceRoot {
  TempDir dir;
  DeviceRoot(const Image& image, const IniModel& ini) {
    set_i2c_pause([](unsigned) {});
    EXPECT_EQ(prepare_device_root(dir.path().c_str()), 0);
    write_file(dir.file("dev/i2c-0"), Text(image.begin(), image.end()));
    write_file(dir.file("mnt/jffs2/station.ini"), ini.text());
  }
  Image image() const { return image_of(dir.file("dev/i2c-0")); }
  Text ini() const { return read_file(dir.file("mnt/jffs2/station.ini")); }
};

TEST(Defaults, FactoryInitializeWritesItsFieldsAndKeysAndLeavesTheRest) {
  Image expected = manufactured("", 3);
  IniModel ini;  // keys the factory routine does not write, which must stay as they are
  for (Text at :
       {"ADMIN/passwd", "NETWORK/ip", "SMTP/smtpServer", "SYSLOG/log_level", "COMLOG/log_com",
        "SNMP/trapAlert1", "SNMP/emailAlert4", "COM1/com_permit_xon_xoff", "COM2/com_ixon",
        "+COM1/connect_time_out", "+COM2/fifo_flag"})
    ini.set(at.substr(0, at.find('/')), at.substr(at.find('/') + 1), "kept");
  DeviceRoot root(expected, ini);

  factory_initialize();

  factory_keys(ini);
  EXPECT_EQ(root.ini(), ini.text());
  put_text(expected, 10, 16, "KV7731");
  put_text(expected, 68, 8, "admin");
  put_text(expected, 76, 8, "");
  // Interfaces 0 and 1: address, netmask, gateway, mode and block from their factory copies.
  for (unsigned b : {kIf0, kIf1})
    std::copy_n(expected.begin() + b + 68, 30, expected.begin() + b + 6);
  std::copy_n(expected.begin() + 644, 16, expected.begin() + 628);
  std::fill(expected.begin() + 1206, expected.begin() + 1526, 0);
  std::fill(expected.begin() + 1662, expected.begin() + 1748, 0);  // up to eeWord1746
  put(expected, 1742, {0, 1, 0, 1});
  put(expected, 1752, {0, 0});
  std::fill(expected.begin() + 1760, expected.begin() + 1890, 0);  // up to eeWord1888
  EXPECT_EQ(first_difference(root.image(), expected), -1);

  EXPECT_EQ(read_file(root.dir.file("var/log/programs.log")),
            "date -s 2000.01.01-00:00:00\nsystime2rtc\n");
}

TEST(Defaults, LoadDefaultSettingsExportsTheFactoryValues) {
  // Only the exact model name selects RS-422; the IP mode is copied whole, exported as bit 0.
  for (auto [model, mode, uart, exported] : {std::tuple{"", 3, "RS-232", "1"},
                                             {"KV7731-Qor-M12", 2, "RS-422", "0"},
                                             {"KV7731-Qor-M12X", 1, "RS-232", "1"},
                                             {"KV7731-Qor-M1", 0, "RS-232", "0"}}) {
    Image expected = manufactured(model, static_cast<unsigned char>(mode));
    IniModel ini;  // written by neither routine, and destination 1's enable flag
    ini.set("COM1", {"com_permit_xon_xoff=7", "com_udp1_enable=1"});
    DeviceRoot root(expected, ini);

    testing::internal::CaptureStdout();
    load_default_settings();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ixonoff=13H, 11Hixon[1] = 11H, ixoff[1] = 13H\n"
              "ixonoff=13H, 11Hixon[2] = 11H, ixoff[2] = 13H\n");

    default_keys(ini, exported, uart);
    EXPECT_EQ(root.ini(), ini.text()) << model;
    std::copy_n(expected.begin() + 88, 8, expected.begin() + 68);
    put_text(expected, 76, 8, "quillet");
    std::copy_n(expected.begin() + kIf0 + 68, 14, expected.begin() + kIf0 + 6);
    std::copy_n(expected.begin() + 644, 8, expected.begin() + 628);
    EXPECT_EQ(first_difference(root.image(), expected), -1) << model;
    EXPECT_FALSE(file_exists(root.dir.file("var/log/programs.log")));
  }
}

// stationtool as a real process, through the emulator on the device build; args are words
// for the shell.
struct ToolRun {
  int status;
  Text out, err;
};
ToolRun stationtool(const TempDir& scratch, const Text& args) {
  const char* emulator = std::getenv("STATION_EMULATOR");
  Text command = "cd " + scratch.path() + " && " + (emulator ? emulator : "") + " " +
                 std::getenv("STATION_BIN_DIR") + "/stationtool " + args + " >" +
                 scratch.file("out") + " 2>" + scratch.file("err");
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(scratch.file("out")),
          read_file(scratch.file("err"))};
}

TEST(Stationtool, RefusesBadArgumentsAndRunsSingleKeysAndBytes) {
  TempDir scratch;
  const Text root = "--root " + scratch.file("root") + " ";
  std::vector<Text> bad;
  // Missing and non-numeric arguments are refused by the same parser the alert commands use.
  for (Text args :
       {"eeprom-write-byte 8192 1", "eeprom-write-byte 1 256", "ini-set COM1 a=b v", "frobnicate"})
    bad.push_back(root + args);
#ifndef STATION_DEVICE_BUILD
  bad.push_back("eeprom-dump");  // a PC build never runs without a root
  bad.push_back("--root / eeprom-dump");
#endif
  for (auto& args : bad) {
    ToolRun run = stationtool(scratch, args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "") << args;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(file_exists(scratch.file("root"))) << args;
  }

  ASSERT_EQ(::mkdir(scratch.file("root").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(scratch.file("root/dev").c_str(), 0700), 0);
  write_file(scratch.file("root/dev/i2c-0"), Text(8192, '\xff'));
  EXPECT_EQ(stationtool(scratch, root + "ini-set COM2 com_baud_rate 19200").status, 0);
  ToolRun got = stationtool(scratch, root + "ini-get COM2 com_baud_rate");
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "19200\n");
  EXPECT_EQ(stationtool(scratch, root + "ini-get COM1 com_baud_rate").status, 1);
  EXPECT_EQ(read_file(scratch.file("root/mnt/jffs2/station.ini")), "[COM2]\ncom_baud_rate=19200\n");

  EXPECT_EQ(stationtool(scratch, root + "eeprom-write-byte 0x1fff 0xA5").status, 0);
  EXPECT_EQ(stationtool(scratch, root + "eeprom-write-byte 374 10").status, 0);
  EXPECT_EQ(stationtool(scratch, root + "eeprom-read-byte 8191").out, "0xa5\n");
  Image image(8192, 0xFF);
  image[374] = 0x0a;
  image[8191] = 0xa5;
  EXPECT_EQ(first_difference(image_of(scratch.file("root/dev/i2c-0")), image), -1);
  Text dump = stationtool(scratch, root + "eeprom-dump").out;
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 512);
  EXPECT_NE(dump.find("\n0170: ff ff ff ff ff ff 0a ff"), Text::npos);
  EXPECT_TRUE(dump.ends_with("\n1ff0: ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff a5\n"));
}

}  // namespace
