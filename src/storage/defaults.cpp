#include "storage/defaults.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/root.h"
#include "platform/shell.h"
#include "storage/eeprom_map.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"

namespace {

constexpr int kPorts = 2;
constexpr char kModelName[] = "KV7731";
constexpr char kFactoryUserName[] = "admin";
constexpr char kDefaultPassword[] = "quillet";
// The model whose serial ports default to RS-422.
constexpr char kRs422Model[] = "KV7731-Qor-M12";
constexpr unsigned char kNoAddress[4] = {0, 0, 0, 0};
constexpr unsigned char kNoFlags[5] = {0, 0, 0, 0, 0};

// Every default TCP or UDP port number of serial port n.
int default_tcp_port(int port) { return 4659 + port; }

// DelimiterSet of count 2: CR then LF, stored as "0x0d0a".
constexpr unsigned char kCrLf[kDelimiterSetSize] = {2, 13, 10, 0};

// A text field's bytes: the text, NUL-padded to the field's width.
template <unsigned N>
struct FieldText {
  unsigned char bytes[N] = {};
  explicit FieldText(const char* text) { std::strncpy(reinterpret_cast<char*>(bytes), text, N); }
};

// The text of a field of width N: up to its first NUL, at most N characters.
template <unsigned N>
struct TextOf {
  char text[N + 1] = {};
  explicit TextOf(const unsigned char (&bytes)[N]) { std::memcpy(text, bytes, N); }
};

struct DottedQuad {
  char text[16];
  explicit DottedQuad(const unsigned char* ip) {
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  }
};

// The default SNMP system name: interface 0's hardware address as twelve hex digits.
struct MacName {
  char text[13];
  MacName() {
    unsigned char mac[6] = {};
    get_eeMacAddress(0, mac);
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
  }
};

// ADMIN and NETWORK have no accessors: only these routines write them, straight to the file.
void write_direct(const char* section, const char* key, const char* value) {
  RootedPath path = rooted(kStationIniPath);
  write_profile_string(section, key, value, path.c_str());
}

// The factory password slot is read by both routines and its text goes nowhere: a unit from
// the factory logs in with the empty password, a restored one with the default password.
void read_factory_password() {
  unsigned char unused[8];
  get_eeDefaultPassword(unused);
}

// The interface 0..1 network copies of the factory routine, field by field as the map has them.
void copy_interface(int i) {
  unsigned char ip[4], mask[4], gw[4], block[16];
  get_eeDefaultIpAddress(i, ip);
  set_eeIpAddress(i, ip);
  get_eeDefaultNetmask(i, mask);
  set_eeNetmask(i, mask);
  get_eeDefaultGateway(i, gw);
  set_eeGateway(i, gw);
  set_eeIpMode(i, get_eeDefaultIpMode(i));
  get_eeDefaultIfBlock(i, block);
  set_eeIfBlock(i, block);
}

void copy_name_server(int i, unsigned char* ip) {
  get_eeDefaultNameServer(i, ip);
  set_eeNameServer(i, ip);
}

void factory_port_keys(int n) {
  const int port = default_tcp_port(n);
  set_com_max_connection(n, 1);
  set_com_link_mode(n, 0);  // TCP_Server
  set_com_tcp_mode(n, 0);   // RAW
  set_com_local_port(n, port);
  set_com_des1_ip(n, kNoAddress);
  set_com_des1_port(n, port);
  set_com_des2_enable(n, 0);
  set_com_des2_ip(n, kNoAddress);
  set_com_des2_port(n, port);
  set_com_baud_rate(n, 9600);
  set_com_parity(n, 0);  // None
  set_com_data_bit(n, 8);
  set_com_stop_bit(n, 0);      // "1"
  set_com_flow_control(n, 0);  // None
  set_com_uart_mode(n, 0);     // RS-232
  set_com_ip_filter(n, 0);
  set_com_source_ip(n, kNoAddress);
  set_uart_deli_flag(n, 0);
  set_uart_deli_timer(n, 10);
  set_uart_deli_char(n, kCrLf);
  set_tcp_deli_flag(n, 0);
  set_tcp_deli_timer(n, 10);
  set_tcp_deli_char(n, kCrLf);
  set_com_udp_local_port(n, port);
  for (int k = 1; k <= 8; ++k) {
    set_com_udp_des_be_ip(n, kNoAddress, k);
    set_com_udp_des_ed_ip(n, kNoAddress, k);
    set_com_udp_des_port(n, port, k);
    set_com_udp_enable(n, 0, k);
  }
}

// RS-422 only for the one model whose name is exactly kRs422Model.
int default_uart_mode() {
  unsigned char model[16] = {};
  get_eeModelName(model);
  return std::strcmp(TextOf<16>(model).text, kRs422Model) == 0 ? 1 : 0;
}

void default_port_keys(int n) {
  const int port = default_tcp_port(n);
  set_com_link_mode(n, 0);  // TCP_Server
  set_com_tcp_mode(n, 0);   // RAW
  set_com_local_port(n, port);
  set_com_ip_filter(n, 0);
  set_com_source_ip(n, kNoAddress);
  set_com_des1_ip(n, kNoAddress);
  set_com_des1_port(n, port);
  set_com_des2_enable(n, 0);
  set_com_des2_ip(n, kNoAddress);
  set_com_des2_port(n, port);
  set_com_udp_local_port(n, port);
  // Destination 1 is always in use: its enable key is left as it is.
  for (int k = 1; k <= 8; ++k) {
    set_com_udp_des_be_ip(n, kNoAddress, k);
    set_com_udp_des_ed_ip(n, kNoAddress, k);
    set_com_udp_des_port(n, port, k);
    if (k >= 2) set_com_udp_enable(n, 0, k);
  }
  set_com_max_connection(n, 1);
  set_com_baud_rate(n, 9600);
  set_com_parity(n, 0);  // None
  set_com_data_bit(n, 8);
  set_com_stop_bit(n, 0);      // "1"
  set_com_flow_control(n, 0);  // None
  set_com_special_xon_xoff(n, 0);
  set_com_uart_mode(n, default_uart_mode());
  set_uart_deli_flag(n, 1);
  set_uart_deli_timer(n, 32770);
  set_uart_deli_char(n, kCrLf);
  set_tcp_deli_flag(n, 0);
  set_tcp_deli_timer(n, 10);
  set_tcp_deli_char(n, kCrLf);
  set_uart_deli_maxbyte(n, 1452);
  set_tcp_deli_maxbyte(n, 1452);
  set_fifo_flag(n, 0);
  set_connect_time_out(n, 3600);
  set_send_interval(n, 0);
  set_com_transparent_mode(n, 0);
  set_com_reply_all(n, 1);
  set_tranaction_timeout(n, 1000);
  set_com_always_open(n, 0);
  const unsigned char xon = 0x11, xoff = 0x13;
  set_com_ixon(n, &xon);
  set_com_ixoff(n, &xoff);
  // Read back, so the maintenance log shows what the file now holds.
  unsigned ixon = static_cast<unsigned>(get_com_ixon(n));
  std::printf("ixonoff=%02xH, %02xH", xoff, ixon);
  unsigned ixoff = static_cast<unsigned>(get_com_ixoff(n));
  std::printf("ixon[%d] = %02xH, ", n, ixon);
  std::printf("ixoff[%d] = %02xH\n", n, ixoff);
}

}  // namespace

int factory_initialize() {
  set_eeModelName(FieldText<16>(kModelName).bytes);
  set_eeUserName(FieldText<8>(kFactoryUserName).bytes);
  read_factory_password();
  set_eePassword(FieldText<8>("").bytes);
  for (int i = 0; i < 2; ++i) copy_interface(i);
  unsigned char ip[4];
  for (int i = 0; i < 4; ++i) copy_name_server(i, ip);

  set_snmp_enable(0);
  set_snmpTrapServer(kNoAddress);
  set_readCommunity("ormolu");
  set_writeCommunity("sextant");
  set_sysName(MacName().text);
  set_sysLocation("location");
  set_sysContact("contact");
  for (int n = 1; n <= kPorts; ++n) factory_port_keys(n);

  const unsigned char zero[64] = {};
  set_eeBlock1662(zero);
  for (int n = 1; n <= 5; ++n) set_eeBlock1206(n, zero);
  for (int n = 1; n <= 5; ++n) {
    set_eeWord1726(n, 0);
    if (n <= 3) set_eeWord1736(n, 0);
  }
  set_eeWord1742(1);
  set_eeWord1744(1);
  set_eeWord1746(0);
  set_eeWord1752(0);
  set_eeBlock1760(zero);
  set_eeWord1888(0);
  set_eeBlock1824(zero);
  set_eeBlock1856(zero);

  usleep(10000);
  set_ntp_enable(0);
  usleep(10000);
  set_ntp_city_index(22);
  set_ntp_timezone(0);
  set_ntp_server("");

  run_shell("date -s 2000.01.01-00:00:00 >/dev/null 2>@1");
  return run_shell("systime2rtc >/dev/null 2>@1");
}

void load_default_settings() {
  unsigned char name[8] = {};
  get_eeDefaultUserName(name);
  set_eeUserName(name);
  write_direct("ADMIN", "username", TextOf<8>(name).text);
  read_factory_password();
  set_eePassword(FieldText<8>(kDefaultPassword).bytes);
  write_direct("ADMIN", "passwd", kDefaultPassword);

  unsigned char ip[4] = {};
  get_eeDefaultIpAddress(0, ip);
  set_eeIpAddress(0, ip);
  write_direct("NETWORK", "ip", DottedQuad(ip).text);
  get_eeDefaultNetmask(0, ip);
  set_eeNetmask(0, ip);
  write_direct("NETWORK", "netmask", DottedQuad(ip).text);
  get_eeDefaultGateway(0, ip);
  set_eeGateway(0, ip);
  write_direct("NETWORK", "gateway", DottedQuad(ip).text);
  unsigned mode = get_eeDefaultIpMode(0);
  set_eeIpMode(0, mode);
  char mode_text[4];
  std::snprintf(mode_text, sizeof mode_text, "%d", static_cast<int>(mode & 1));
  write_direct("NETWORK", "ip_mode", mode_text);
  copy_name_server(0, ip);
  write_direct("NETWORK", "dns1", DottedQuad(ip).text);
  copy_name_server(1, ip);
  write_direct("NETWORK", "dns2", DottedQuad(ip).text);

  set_snmp_enable(1);
  set_sysName(MacName().text);
  set_sysLocation("location");
  set_sysContact("contact");
  set_snmpTrapServer(kNoAddress);
  set_readCommunity("ormolu");
  set_writeCommunity("sextant");
  for (int n = 1; n <= kPorts; ++n) default_port_keys(n);

  set_ntp_enable(0);
  set_ntp_city_index(22);
  set_ntp_timezone(0);
  set_ntp_server(kDefaultNtpServer);

  set_emailAlert(kNoFlags);
  set_trapAlert(kNoFlags);

  set_smtpServer("");
  set_sender("");
  set_smtpUser("");
  set_smtpPasswd("");
  set_receiver("");
  set_smtpAuth(0);

  set_log_to_flash(0);
  set_log_level(4);
  set_enable_syslog_server(0);
  set_syslog_ip(kNoAddress);
  set_syslog_port(514);

  set_log_com(0);
  set_log_type(0);
  set_comlog_to_server(0);
  set_comlog_server_ip(kNoAddress);
  set_comlog_server_port(514);
}
