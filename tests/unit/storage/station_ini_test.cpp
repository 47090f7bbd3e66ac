#include "storage/station_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/root.h"
#include "support/temp_dir.h"

namespace {

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

TEST_F(StationIni, DecimalsReadLeadingDigitsAndWriteTheirText) {
  set_com_baud_rate(2, 9600);
  EXPECT_EQ(stored(), "[COM2]\ncom_baud_rate=9600\n");

  store("[COM1]\ncom_baud_rate=9600   \n[COM2]\ncom_baud_rate=\n[+COM1]\nuart_deli_timer=-5\n");
  EXPECT_EQ(get_com_baud_rate(1), 9600);
  EXPECT_EQ(get_com_baud_rate(2), 0);
  EXPECT_EQ(get_uart_deli_timer(1), -5);
  EXPECT_EQ(get_com_data_bit(1), 0);  // missing
}

TEST_F(StationIni, WordsMatchExactlyAndACodeWithoutWordIsNotWritten) {
  store("[COM1]\ncom_link_mode=tcp_server\ncom_stop_bit=2\ncom_tcp_mode=Reverse_Telnet\n"
        "com_uart_mode=RS-485\n[COM2]\ncom_link_mode=TCP_Client\ncom_stop_bit=1\n");
  EXPECT_EQ(get_com_link_mode(1), 0);
  EXPECT_EQ(get_com_link_mode(2), 1);
  EXPECT_EQ(get_com_stop_bit(1), 1);
  EXPECT_EQ(get_com_stop_bit(2), 0);
  EXPECT_EQ(get_com_tcp_mode(1), 2);
  EXPECT_EQ(get_com_uart_mode(1), 2);
  EXPECT_EQ(get_com_parity(1), 0);  // missing

  set_com_parity(1, 2);
  set_com_flow_control(1, 2);
  set_com_stop_bit(2, 1);
  EXPECT_TRUE(has_line("com_parity=Even"));
  EXPECT_TRUE(has_line("com_flow_control=RTS/CTS"));
  EXPECT_EQ(get_com_stop_bit(2), 1);
  EXPECT_EQ(set_com_parity(1, 7), 0);
  EXPECT_EQ(set_com_link_mode(1, -1), 0);
  EXPECT_TRUE(has_line("com_parity=Even"));
  EXPECT_TRUE(has_line("com_link_mode=tcp_server"));
}

TEST_F(StationIni, LogComAndLogTypeWriteEveryValue) {
  set_log_com(0);
  EXPECT_TRUE(has_line("log_com=0"));
  set_log_com(3);
  EXPECT_TRUE(has_line("log_com=COM1|COM2"));
  EXPECT_EQ(get_log_com(), 3);
  set_log_com(9);
  EXPECT_TRUE(has_line("log_com=0"));

  set_log_type(0x8000);
  EXPECT_TRUE(has_line("log_type=0"));
  set_log_type(0x0001);
  EXPECT_TRUE(has_line("log_type=HEX"));
  EXPECT_EQ(get_log_type(), 0x0001);
  set_log_type(0x8001);
  EXPECT_TRUE(has_line("log_type=ASCII"));
  EXPECT_EQ(get_log_type(), 0x8001);
  store("[COMLOG]\nlog_type=hex\nlog_com=COM2\n");
  EXPECT_EQ(get_log_type(), 0);
  EXPECT_EQ(get_log_com(), 2);
}

TEST_F(StationIni, DottedQuadsKeepLowBitsAndMissingPartsAreZero) {
  store("[COM1]\ncom_des1_ip=192.168.1.300\ncom_source_ip=10.1\n[SNMP]\nsnmpTrapServer=\n");
  unsigned char ip[4];
  get_com_des1_ip(1, ip);
  EXPECT_EQ(std::string(ip, ip + 4), std::string("\xC0\xA8\x01\x2C", 4));
  get_com_source_ip(1, ip);
  EXPECT_EQ(std::string(ip, ip + 4), std::string("\x0A\x01\x00\x00", 4));
  std::memset(ip, 0xAA, sizeof ip);
  get_snmpTrapServer(ip);
  EXPECT_EQ(std::string(ip, ip + 4), std::string(4, '\0'));

  const unsigned char address[4] = {127, 0, 0, 255};
  set_syslog_ip(address);
  set_com_udp_des_ed_ip(2, address, 8);
  set_com_udp_des_port(2, 4661, 8);
  EXPECT_TRUE(has_line("syslog_ip=127.0.0.255"));
  EXPECT_TRUE(has_line("com_udp8_des_ed_ip=127.0.0.255"));
  EXPECT_TRUE(has_line("com_udp8_des_port=4661"));
  get_com_udp_des_ed_ip(2, ip, 8);
  EXPECT_EQ(std::string(ip, ip + 4), std::string("\x7F\x00\x00\xFF", 4));
  EXPECT_EQ(get_com_udp_des_port(2, 8), 4661);
}

TEST_F(StationIni, DelimiterSetsAreToldApartByLength) {
  store("[+COM1]\nuart_deli_char=0x0d0a\ntcp_deli_char=0x0d\n"
        "[+COM2]\nuart_deli_char=0xd\ntcp_deli_char=\n");
  unsigned char set[4];
  get_uart_deli_char(1, set);
  EXPECT_EQ(std::string(set, set + 4), std::string("\x02\x0D\x0A\x00", 4));
  get_tcp_deli_char(1, set);
  EXPECT_EQ(std::string(set, set + 4), std::string("\x01\x0D\x00\x00", 4));
  std::memset(set, 0xAA, sizeof set);
  get_uart_deli_char(2, set);
  EXPECT_EQ(std::string(set, set + 4), std::string(4, '\0'));
  std::memset(set, 0xAA, sizeof set);
  get_tcp_deli_char(2, set);
  EXPECT_EQ(std::string(set, set + 4), std::string(4, '\0'));

  const unsigned char none[4] = {0, 0x0d, 0x0a, 0};
  const unsigned char two[4] = {2, 0x1b, 0xff, 0};
  const unsigned char three[4] = {3, 1, 2, 0};
  set_uart_deli_char(2, none);
  EXPECT_TRUE(has_line("uart_deli_char="));
  set_tcp_deli_char(2, two);
  EXPECT_TRUE(has_line("tcp_deli_char=0x1bff"));
  EXPECT_EQ(set_tcp_deli_char(2, three), 0);
  EXPECT_TRUE(has_line("tcp_deli_char=0x1bff"));
}

TEST_F(StationIni, HexBytesWriteTwoDigitsAndReadTheWholeNumber) {
  const unsigned char xon = 0x11;
  set_com_ixon(1, &xon);
  EXPECT_TRUE(has_line("com_ixon=0x11"));
  EXPECT_EQ(get_com_ixon(1), 0x11);
  store("[COM2]\ncom_ixon=0x1234\ncom_ixoff=13\n");
  EXPECT_EQ(get_com_ixon(2), 0x1234);
  EXPECT_EQ(get_com_ixoff(2), 0x13);
  EXPECT_EQ(get_com_ixoff(1), 0);
}

TEST_F(StationIni, TextsAreCutToTheirSize) {
  set_sysName(std::string(40, 'n').c_str());
  set_receiver(std::string(200, 'r').c_str());
  EXPECT_TRUE(has_line("sysName=" + std::string(31, 'n')));
  EXPECT_TRUE(has_line("receiver=" + std::string(127, 'r')));

  store("[SNMP]\nreadCommunity=" + std::string(20, 'c') + "\n");
  char out[StationIniSize::readCommunity + 4];
  std::memset(out, 0x55, sizeof out);
  get_readCommunity(out);
  EXPECT_EQ(std::string(out), std::string(15, 'c'));
  EXPECT_EQ(out[StationIniSize::readCommunity], 0x55);
  char location[StationIniSize::sysLocation];
  get_sysLocation(location);
  EXPECT_STREQ(location, "");
}

TEST_F(StationIni, SmtpReadersFillTheWholeFieldAndDropHighBytes) {
  store("[SMTP]\nsender=ab\xE9" "cd\nreceiver=x\x80y\nsmtpAuth=258\n");
  char out[StationIniSize::receiver + 4];
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
  EXPECT_EQ(out[StationIniSize::smtpServer], 0x55);
  EXPECT_EQ(get_smtpAuth(), 2);
}

TEST_F(StationIni, FlagSetsStoreFourBitsAndRefuseFlagsOutOfRange) {
  const unsigned char trap[3] = {1, 0x12, 0xFF};
  const unsigned char mail[5] = {0, 1, 0, 0, 0x21};
  set_trapAlert(trap);
  set_emailAlert(mail);
  EXPECT_TRUE(has_line("trapAlert0=1"));
  EXPECT_TRUE(has_line("trapAlert1=2"));
  EXPECT_TRUE(has_line("trapAlert2=15"));
  EXPECT_TRUE(has_line("emailAlert4=1"));
  EXPECT_EQ(get_emailAlert(1), 1);

  store("[SNMP]\ntrapAlert3=1\nemailAlert5=1\n");
  EXPECT_EQ(get_trapAlert(3), -1);
  EXPECT_EQ(get_trapAlert(-1), -1);
  EXPECT_EQ(get_emailAlert(5), 0);
  EXPECT_EQ(get_emailAlert(-1), 0);
  EXPECT_EQ(get_trapAlert(0), 0);
}

TEST_F(StationIni, PortsAndTheirTwoSectionsAreIndependent) {
  set_com_local_port(1, 4660);
  set_uart_deli_flag(1, 1);
  set_com_local_port(2, 4661);
  set_uart_deli_flag(2, 0);
  set_com_tcp_mode(2, 1);
  EXPECT_EQ(get_com_local_port(1), 4660);
  EXPECT_EQ(get_uart_deli_flag(1), 1);
  EXPECT_EQ(get_com_tcp_mode(1), 0);
  EXPECT_EQ(get_com_tcp_mode(2), 1);
  EXPECT_EQ(stored(),
            "[COM1]\ncom_local_port=4660\n\n[+COM1]\nuart_deli_flag=1\n"
            "\n[COM2]\ncom_tcp_mode=Virtual_COM\ncom_local_port=4661\n\n[+COM2]\nuart_deli_flag=0\n");
}

TEST_F(StationIni, PortsOutsideOneAndTwoAreNeverTouched) {
  const unsigned char ip[4] = {10, 0, 0, 1};
  EXPECT_EQ(set_com_baud_rate(0, 9600), 0);
  EXPECT_EQ(set_com_des1_ip(3, ip), 0);
  EXPECT_FALSE(file_exists(ini()));

  store("[COM3]\ncom_baud_rate=9600\ncom_des1_ip=10.0.0.1\n[+COM0]\ntcp_deli_char=0x0d\n");
  unsigned char out[4];
  EXPECT_EQ(get_com_baud_rate(3), 0);
  std::memset(out, 0xAA, sizeof out);
  get_com_des1_ip(3, out);
  EXPECT_EQ(std::string(out, out + 4), std::string(4, '\0'));
  std::memset(out, 0xAA, sizeof out);
  get_tcp_deli_char(0, out);
  EXPECT_EQ(std::string(out, out + 4), std::string(4, '\0'));
}

}  // namespace
