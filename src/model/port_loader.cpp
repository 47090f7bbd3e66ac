#include "model/port_loader.h"

#include <cstdio>
#include <cstring>

#include "storage/station_ini.h"

namespace {

constexpr unsigned char kFixedGroup[3] = {0x04, 0x03, 0xE7};  // the byte 4, then 999 as BE16

uint32_t number(int value) { return static_cast<uint32_t>(value); }

// The wire code of a station.ini word's index; fallback for an index without one.
uint8_t wire_of(const ValueTable& values, int ini_index, int fallback) {
  const ValueRow* row = row_of_index(values, ini_index);
  return static_cast<uint8_t>(row ? row->wire : fallback);
}

// Flag, timer and maximum as numbers; the DelimiterSet as the accessor delivers it (four zero
// bytes when the key is missing).
void load_uart_delimiter(int port, unsigned char* b) {
  using namespace delimiter;
  put_field(b, kFlag, number(get_uart_deli_flag(port)));
  put_field(b, kTimer, number(get_uart_deli_timer(port)));
  get_uart_deli_char(port, field_at(b, kChars));
  put_field(b, kMaxByte, number(get_uart_deli_maxbyte(port)));
}

void load_tcp_delimiter(int port, unsigned char* b) {
  using namespace delimiter;
  put_field(b, kFlag, number(get_tcp_deli_flag(port)));
  put_field(b, kTimer, number(get_tcp_deli_timer(port)));
  get_tcp_deli_char(port, field_at(b, kChars));
  put_field(b, kMaxByte, number(get_tcp_deli_maxbyte(port)));
}

}  // namespace

void read_link_layout(int port, int mode, unsigned char* b, bool report_udp_port) {
  if (mode == kLinkTcpServer) {
    using namespace tcp_server;
    put_field(b, kLocalPort, number(get_com_local_port(port)));
    put_field(b, kIpFilter, number(get_com_ip_filter(port)));
    get_com_source_ip(port, field_at(b, kSourceIp));
    put_field(b, kMaxConnection, number(get_com_max_connection(port)));
  } else if (mode == kLinkTcpClient) {
    using namespace tcp_client;
    get_com_des1_ip(port, field_at(b, kDes1Ip));
    put_field(b, kDes1Port, number(get_com_des1_port(port)));
    put_field(b, kDes2Enable, number(get_com_des2_enable(port)));
    get_com_des2_ip(port, field_at(b, kDes2Ip));
    put_field(b, kDes2Port, number(get_com_des2_port(port)));
  } else if (mode == kLinkUdp) {
    using namespace udp;
    const int local_port = get_com_udp_local_port(port);
    if (report_udp_port) std::printf("get all, udp port=%d\n", local_port);
    put_field(b, kLocalPort, number(local_port));
    for (int e = 1; e <= kEntryCount; ++e) {
      unsigned char* entry_bytes = b + entry(e);
      // Destination 1 is always in use; station.ini's enable key for it is never read.
      put_field(entry_bytes, kEnable, e == 1 ? 1 : number(get_com_udp_enable(port, e)));
      put_field(entry_bytes, kDesPort, number(get_com_udp_des_port(port, e)));
      get_com_udp_des_be_ip(port, field_at(entry_bytes, kBeginIp), e);
      get_com_udp_des_ed_ip(port, field_at(entry_bytes, kEndIp), e);
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
  // The readers give the index of a word of the key's table, 0 for a missing one.
  s.parity = wire_of(kParityValues, get_com_parity(port), 1);
  s.stop_bits = wire_of(kStopBitValues, get_com_stop_bit(port), 1);
  s.flow_control = wire_of(kFlowValues, get_com_flow_control(port), 1);
  std::memcpy(s.fixed98, kFixedGroup, sizeof kFixedGroup);
  std::memcpy(s.fixed97, kFixedGroup, sizeof kFixedGroup);

  load_uart_delimiter(port, s.uart_delimiter);
  load_tcp_delimiter(port, s.tcp_delimiter);

  s.uart_mode = wire_of(kInterfaceValues, get_com_uart_mode(port), 1);
  s.value91 = 5;
  // "Reverse_Telnet" has no wire code: it is RAW on the wire.
  s.tcp_mode = wire_of(kTcpModeValues, get_com_tcp_mode(port), kTcpModeRaw);
  s.link_mode = wire_of(kLinkModeValues, get_com_link_mode(port), kLinkTcpServer);
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
