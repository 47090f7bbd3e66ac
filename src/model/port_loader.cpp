#include "model/port_loader.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "storage/station_ini.h"

namespace {

constexpr unsigned char kFixedGroup[3] = {0x04, 0x03, 0xE7};  // the byte 4, then 999 as BE16

// Flag, timer and maximum as LE16; the DelimiterSet as the accessor delivers it (four zero
// bytes when the key is missing).
void load_uart_delimiter(int port, unsigned char* b) {
  using namespace delimiter_block;
  put_le16(static_cast<uint16_t>(get_uart_deli_flag(port)), b + kFlag);
  put_le16(static_cast<uint16_t>(get_uart_deli_timer(port)), b + kTimer);
  get_uart_deli_char(port, b + kChars);
  put_le16(static_cast<uint16_t>(get_uart_deli_maxbyte(port)), b + kMaxByte);
}

void load_tcp_delimiter(int port, unsigned char* b) {
  using namespace delimiter_block;
  put_le16(static_cast<uint16_t>(get_tcp_deli_flag(port)), b + kFlag);
  put_le16(static_cast<uint16_t>(get_tcp_deli_timer(port)), b + kTimer);
  get_tcp_deli_char(port, b + kChars);
  put_le16(static_cast<uint16_t>(get_tcp_deli_maxbyte(port)), b + kMaxByte);
}

}  // namespace

void read_link_layout(int port, int mode, unsigned char* b, bool report_udp_port) {
  if (mode == kLinkTcpServer) {
    using namespace tcp_server_layout;
    put_le16(static_cast<uint16_t>(get_com_local_port(port)), b + kLocalPort);
    b[kIpFilter] = static_cast<unsigned char>(get_com_ip_filter(port));
    get_com_source_ip(port, b + kSourceIp);
    put_le32(static_cast<uint32_t>(get_com_max_connection(port)), b + kMaxConnection);
  } else if (mode == kLinkTcpClient) {
    using namespace tcp_client_layout;
    get_com_des1_ip(port, b + kDes1Ip);
    put_le16(static_cast<uint16_t>(get_com_des1_port(port)), b + kDes1Port);
    b[kDes2Enable] = static_cast<unsigned char>(get_com_des2_enable(port));
    get_com_des2_ip(port, b + kDes2Ip);
    put_le16(static_cast<uint16_t>(get_com_des2_port(port)), b + kDes2Port);
  } else if (mode == kLinkUdp) {
    using namespace udp_layout;
    const int local_port = get_com_udp_local_port(port);
    if (report_udp_port) std::printf("get all, udp port=%d\n", local_port);
    put_le16(static_cast<uint16_t>(local_port), b + kLocalPort);
    for (int e = 1; e <= kEntryCount; ++e) {
      unsigned char* entry_bytes = b + entry(e);
      // Destination 1 is always in use; station.ini's enable key for it is never read.
      entry_bytes[kEnable] = e == 1 ? 1 : static_cast<unsigned char>(get_com_udp_enable(port, e));
      put_le16(static_cast<uint16_t>(get_com_udp_des_port(port, e)), entry_bytes + kDesPort);
      get_com_udp_des_be_ip(port, entry_bytes + kBeginIp, e);
      get_com_udp_des_ed_ip(port, entry_bytes + kEndIp, e);
    }
  }
}

void load_port_record(PortTable* table, int index) {
  PortRecord& record = table->records[index];
  PortSettings& s = record.settings;
  const int port = index + 1;

  record.port_number = static_cast<uint32_t>(port);
  s.baud_rate = static_cast<uint32_t>(get_com_baud_rate(port));
  s.data_bits = static_cast<uint8_t>(get_com_data_bit(port));
  s.parity = static_cast<uint8_t>(get_com_parity(port) + 1);
  s.stop_bits = static_cast<uint8_t>(get_com_stop_bit(port) + 1);
  s.flow_control = static_cast<uint8_t>(get_com_flow_control(port) + 1);
  std::memcpy(s.fixed98, kFixedGroup, sizeof kFixedGroup);
  std::memcpy(s.fixed97, kFixedGroup, sizeof kFixedGroup);

  load_uart_delimiter(port, s.uart_delimiter);
  load_tcp_delimiter(port, s.tcp_delimiter);

  // station.ini names the interfaces in another order than the wire codes them:
  // "RS-422" (index 1) is 3, "RS-485" (index 2) is 2, anything else RS-232.
  const int uart_index = get_com_uart_mode(port);
  s.uart_mode = uart_index == 1 ? 3 : uart_index == 2 ? 2 : 1;
  s.value91 = 5;
  // "RAW" (index 0) and "Reverse_Telnet" (2) are both RAW on the wire.
  const int tcp_mode = get_com_tcp_mode(port);
  s.tcp_mode = static_cast<uint8_t>(tcp_mode == 0 ? 2 : tcp_mode);

  s.link_mode = static_cast<uint8_t>(get_com_link_mode(port) + 1);
  read_link_layout(port, s.link_mode, s.link_settings, true);

  s.option99 = 2;
  s.alias_tag = 1;
  s.alias_name[0] = '\0';
  s.option79 = 1;
}

int load_port_table(PortTable* table, int count) {
  for (int i = 0; i < count; ++i) load_port_record(table, i);
  return 0;
}

void load_snmp_identity(SnmpIdentity* identity) {
  std::memset(identity->sysName, 0, sizeof identity->sysName);
  get_sysName(identity->sysName);
  std::memset(identity->sysContact, 0, sizeof identity->sysContact);
  get_sysContact(identity->sysContact);
  std::memset(identity->sysLocation, 0, sizeof identity->sysLocation);
  get_sysLocation(identity->sysLocation);
}
