#include "storage/station_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

// The four bytes a reader left in a buffer that held 0xAA before.
template <typename Read>
std::string four(Read read) {
  unsigned char b[4];
  std::memset(b, 0xAA, sizeof b);
  read(b);
  return std::string(b, b + 4);
}

// The common forms of every kind of key are read by the port loader's tests and written,
// byte for byte, by the factory routines' tests; these are the edges of each kind.
class StationIni : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(set_root(dir_.path().c_str()), 0);
    ::mkdir(dir_.file("mnt").c_str(), 0755);
    ::mkdir(dir_.file("mnt/jffs2").c_str(), 0755);
  }
  void TearDown() override { set_root(nullptr); }

  std::string ini() const { return dir_.file("mnt/jffs2/station.ini"); }
  void store(const std::string& text) const { write_file(ini(), text); }
  std::string stored() const { return read_file(ini()); }
  bool has_line(const std::string& line) const {
    return ("\n" + stored()).find("\n" + line + "\n") != std::string::npos;
  }

  TempDir dir_;
};

TEST_F(StationIni, DecimalsReadLeadingDigitsAndHexBytesTheWholeNumber) {
  store("[COM1]\ncom_baud_rate=9600   \n[COM2]\ncom_baud_rate=\ncom_ixon=0x1234\n"
        "com_ixoff=13\n[+COM1]\nuart_deli_timer=-5\n");
  EXPECT_EQ(get_com_baud_rate(1), 9600);
  EXPECT_EQ(get_com_baud_rate(2), 0);
  EXPECT_EQ(get_uart_deli_timer(1), -5);
  EXPECT_EQ(get_com_data_bit(1), 0);  // missing
  EXPECT_EQ(get_com_ixon(2), 0x1234);
  EXPECT_EQ(get_com_ixoff(2), 0x13);
}

TEST_F(StationIni, WordsMatchExactlyAndACodeWithoutWordIsNotWritten) {
  store("[COM1]\ncom_link_mode=tcp_server\n[COMLOG]\nlog_type=hex\nlog_com=COM2\n");
  EXPECT_EQ(get_com_link_mode(1), 0);
  EXPECT_EQ(get_com_parity(1), 0);  // missing
  EXPECT_EQ(get_log_type(), 0);
  EXPECT_EQ(get_log_com(), 2);

  set_com_parity(1, 2);
  set_com_flow_control(1, 2);
  EXPECT_EQ(set_com_parity(1, 7), 0);
  EXPECT_EQ(set_com_link_mode(1, -1), 0);
  EXPECT_TRUE(has_line("com_parity=Even"));
  EXPECT_TRUE(has_line("com_flow_control=RTS/CTS"));
  EXPECT_TRUE(has_line("com_link_mode=tcp_server"));

  // Logging writes every value, unknown ones as 0.
  const struct {
    int (*set)(int);
    int value;
    const char* line;
  } logs[] = {{set_log_com, 3, "log_com=COM1|COM2"}, {set_log_com, 9, "log_com=0"},
              {set_log_type, 0x8000, "log_type=0"},  {set_log_type, 0x0001, "log_type=HEX"},
              {set_log_type, 0x8001, "log_type=ASCII"}};
  for (const auto& l : logs) {
    l.set(l.value);
    EXPECT_TRUE(has_line(l.line)) << l.line;
  }
  EXPECT_EQ(get_log_type(), 0x8001);
}

TEST_F(StationIni, DottedQuadsKeepLowBitsAndMissingPartsAreZero) {
  store("[COM1]\ncom_source_ip=10.1\n[SNMP]\nsnmpTrapServer=\n");
  EXPECT_EQ(four([](unsigned char* b) { get_com_source_ip(1, b); }), std::string("\x0A\x01\0\0", 4));
  EXPECT_EQ(four([](unsigned char* b) { get_snmpTrapServer(b); }), std::string(4, '\0'));

  const unsigned char address[4] = {127, 0, 0, 255};
  set_syslog_ip(address);
  set_com_udp_des_ed_ip(2, address, 8);
  EXPECT_TRUE(has_line("syslog_ip=127.0.0.255"));
  EXPECT_TRUE(has_line("com_udp8_des_ed_ip=127.0.0.255"));
}

TEST_F(StationIni, DelimiterSetsAreToldApartByLength) {
  store("[+COM2]\nuart_deli_char=0xd\ntcp_deli_char=\n");
  EXPECT_EQ(four([](unsigned char* b) { get_uart_deli_char(2, b); }), std::string(4, '\0'));
  EXPECT_EQ(four([](unsigned char* b) { get_tcp_deli_char(2, b); }), std::string(4, '\0'));

  const unsigned char none[4] = {0, 0x0d, 0x0a, 0}, two[4] = {2, 0x1b, 0xff, 0},
                      three[4] = {3, 1, 2, 0};
  set_uart_deli_char(2, none);
  set_tcp_deli_char(2, two);
  EXPECT_EQ(set_tcp_deli_char(2, three), 0);
  EXPECT_TRUE(has_line("uart_deli_char="));
  EXPECT_TRUE(has_line("tcp_deli_char=0x1bff"));
}

TEST_F(StationIni, TextsAreCutToTheirSizeAndSmtpReadersFillTheirField) {
  set_sysName(std::string(40, 'n').c_str());
  set_receiver(std::string(200, 'r').c_str());
  EXPECT_TRUE(has_line("sysName=" + std::string(31, 'n')));
  EXPECT_TRUE(has_line("receiver=" + std::string(127, 'r')));

  store("[SNMP]\nreadCommunity=" + std::string(20, 'c') + "\n" +
        "[SMTP]\nsender=ab\xE9" "cd\nreceiver=x\x80y\nsmtpAuth=258\n");
  char out[StationIniSize::receiver + 4];
  std::memset(out, 0x55, sizeof out);
  get_readCommunity(out);
  EXPECT_EQ(std::string(out), std::string(15, 'c'));
  EXPECT_EQ(out[StationIniSize::readCommunity], 0x55);
  get_sysLocation(out);
  EXPECT_STREQ(out, "");

  // SMTP texts fill their whole field; a byte above 0x80 becomes 0, 0x80 itself stays.
  std::memset(out, 0x55, sizeof out);
  get_sender(out);
  EXPECT_STREQ(out, "ab");
  for (int i = 5; i < StationIniSize::sender; ++i) EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(out[StationIniSize::sender], 0x55);
  get_receiver(out);
  EXPECT_STREQ(out, "x\x80y");
  std::memset(out, 0x55, sizeof out);
  get_smtpServer(out);
  EXPECT_EQ(std::string(out, StationIniSize::smtpServer), std::string(32, '\0'));
  EXPECT_EQ(get_smtpAuth(), 2);
}

TEST_F(StationIni, FlagSetsStoreFourBitsAndRefuseFlagsOutOfRange) {
  const unsigned char trap[3] = {1, 0x12, 0xFF}, mail[5] = {0, 1, 0, 0, 0x21};
  set_trapAlert(trap);
  set_emailAlert(mail);
  for (const char* line : {"trapAlert0=1", "trapAlert1=2", "trapAlert2=15", "emailAlert4=1"})
    EXPECT_TRUE(has_line(line)) << line;

  store("[SNMP]\ntrapAlert3=1\nemailAlert5=1\n");
  EXPECT_EQ(get_trapAlert(3), -1);
  EXPECT_EQ(get_trapAlert(-1), -1);
  EXPECT_EQ(get_emailAlert(5), 0);
  EXPECT_EQ(get_emailAlert(-1), 0);
  EXPECT_EQ(get_trapAlert(0), 0);
}

TEST_F(StationIni, PortsOutsideOneAndTwoAreNeverTouched) {
  const unsigned char ip[4] = {10, 0, 0, 1};
  EXPECT_EQ(set_com_baud_rate(0, 9600), 0);
  EXPECT_EQ(set_com_des1_ip(3, ip), 0);
  EXPECT_FALSE(file_exists(ini()));

  store("[COM3]\ncom_baud_rate=9600\ncom_des1_ip=10.0.0.1\n[+COM0]\ntcp_deli_char=0x0d\n");
  EXPECT_EQ(get_com_baud_rate(3), 0);
  EXPECT_EQ(four([](unsigned char* b) { get_com_des1_ip(3, b); }), std::string(4, '\0'));
  EXPECT_EQ(four([](unsigned char* b) { get_tcp_deli_char(0, b); }), std::string(4, '\0'));
}

}  // namespace
