// Device and system commands: port selection (94), the get-all series (96), the port alias,
// SNMP texts and login password (89), the stored address, gateway and netmask of the
// session's interface (88), and four small per-port values (78, 79, 91, 93). Only code 79's
// change report leads to a ChangeNotice; the dispatcher drops the others.
#include <cstdio>
#include <cstring>

#include "alert/alert_delivery.h"
#include "common/byte_order.h"
#include "model/port_loader.h"
#include "protocol/command_handlers.h"
#include "protocol/command_table.h"
#include "protocol/frame_codec.h"
#include "protocol/link_commands.h"
#include "service/session.h"
#include "storage/eeprom_map.h"
#include "storage/station_ini.h"

namespace {

constexpr int kInterfaceCount = 4;  // eth0 .. eth3
// A request text never exceeds the received buffer the dispatcher works on.
constexpr int kRequestTextMax = 1024;

unsigned refuse(int code, unsigned char* pos, int* size) {
  put_error_reply(pos, size, code);
  return 0;
}

// Appends one frame of the get-all series where the previous one ended.
struct Series {
  unsigned char* pos;
  int space;
  int total;
  void add(int code, const unsigned char* payload, int length) {
    int n = space;
    put_reply(pos + total, &n, code, payload, length);
    total += n;
    space -= n;
  }
};

// The text of a name request: payload byte 1 up to the first NUL or the payload's end.
int request_text_length(const unsigned char* data, int length) {
  const void* nul = std::memchr(data + 1, 0, static_cast<size_t>(length - 1));
  return nul ? static_cast<int>(static_cast<const unsigned char*>(nul) - (data + 1)) : length - 1;
}

// Stores a request text in a 32-byte text field, cut to 31 characters so the NUL fits.
void store_text(char* field, int field_size, const unsigned char* text, int n) {
  if (n > field_size - 1) n = field_size - 1;
  std::memset(field, 0, static_cast<size_t>(field_size));
  std::memcpy(field, text, static_cast<size_t>(n));
}

// Reply 89: the tag, the text and its NUL.
void put_text_reply(unsigned char* pos, int* size, unsigned char tag, const char* text, int n) {
  unsigned char payload[kRequestTextMax + 2];
  if (n > kRequestTextMax) n = kRequestTextMax;
  payload[0] = tag;
  std::memcpy(payload + 1, text, static_cast<size_t>(n));
  payload[n + 1] = 0;
  put_reply(pos, size, kNamePassword, payload, n + 2);
}

int text_length(const char* field, int field_size) {
  return static_cast<int>(strnlen(field, static_cast<size_t>(field_size)));
}

}  // namespace

unsigned cmd_option79(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  PortSettings& record = *current_port_record();
  unsigned report = 0;
  if ((data[0] == 1 || data[0] == 2) && data[0] != record.option79) {
    record.option79 = data[0];  // memory only
    report = 1;
  }
  put_reply(pos, size, kOption79, &record.option79, 1);
  return report;
}

unsigned cmd_value91(const unsigned char*, int, int, unsigned char* pos, int* size) {
  put_reply(pos, size, kValue91, &current_port_record()->value91, 1);
  return 1;
}

unsigned cmd_select_port(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  // set_current_port falls back to port 1 for a number the device does not have.
  if (data[0] != 0) set_current_port(data[0]);
  const unsigned char port = static_cast<unsigned char>(act_g());
  put_reply(pos, size, kSelectPort, &port, 1);
  return 1;
}

unsigned cmd_value93(const unsigned char*, int, int, unsigned char* pos, int* size) {
  put_reply(pos, size, kValue93, current_port_record()->value93, 2);
  return 1;
}

unsigned cmd_echo78(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  put_reply(pos, size, kEcho78, data, 1);
  return data[0] == 1 || data[0] == 2 ? 1 : 0;
}

unsigned cmd_get_all(const unsigned char*, int, int, unsigned char* pos, int* size) {
  // The reload drops every memory-only value of the port: what follows is station.ini's.
  load_port_record(session_context().port_table, act_g() - 1);
  const PortSettings& s = *current_port_record();

  Series series = {pos, *size, 0};
  unsigned char rate[4];
  put_be32(s.baud_rate, rate);
  series.add(kSetBaudrate, rate, sizeof rate);
  series.add(kSetDatasize, &s.data_bits, 1);
  std::printf("parity=%d\n", s.parity);
  series.add(kSetParity, &s.parity, 1);
  series.add(kSetStopsize, &s.stop_bits, 1);
  series.add(kSetControl, &s.flow_control, 1);
  series.add(kTcpMode, &s.tcp_mode, 1);

  const int alias_length = text_length(s.alias_name, kAliasNameSize);
  std::printf("get alias name=%s\n", s.alias_name);
  std::printf("length=%d\n", alias_length + 1);
  unsigned char alias[1 + kAliasNameSize + 1] = {};
  alias[0] = s.alias_tag;
  std::memcpy(alias + 1, s.alias_name, static_cast<size_t>(alias_length));
  series.add(kNamePassword, alias, alias_length + 2);

  std::printf("mode=%d\n", s.uart_mode);
  series.add(kUartMode, &s.uart_mode, 1);
  series.add(kValue91, &s.value91, 1);
  std::printf("linkmode = %d\n", s.link_mode);
  unsigned char link[kLinkReplyMax];
  series.add(kLinkMode, link, get_link_payload(s, link));
  series.add(kValue93, s.value93, 2);
  series.add(kOption99, &s.option99, 1);
  series.add(kFixed98, s.fixed98, 3);
  series.add(kFixed97, s.fixed97, 3);
  series.add(kEndOfSeries, nullptr, 0);
  *size = series.total;
  return 1;
}

unsigned set_namepassword(const unsigned char* data, int length, int, unsigned char* pos,
                          int* size) {
  std::puts("set_namepassword function");
  if (!request_length_ok(*find_command(kNamePassword), data, length)) {
    put_error_reply(pos, size, kNamePassword);
    std::puts("set_namepassword function error");
    return 0;
  }
  const unsigned char sub = data[0];
  const unsigned char* text = data + 1;
  const int n = request_text_length(data, length);
  PortSettings& record = *current_port_record();
  SnmpIdentity& identity = *session_context().snmp_identity;

  // Sub-commands 2..7 come in pairs over the three SNMP texts: even reloads and reads,
  // odd stores and writes.
  struct SnmpText {
    char* field;
    int (*write)(const char* text);
  };
  const SnmpText snmp_texts[] = {{identity.sysName, set_sysName},
                                 {identity.sysLocation, set_sysLocation},
                                 {identity.sysContact, set_sysContact}};

  using namespace name_password;
  switch (sub) {
    case kAliasQuery:
    case kAlias:
      if (sub == kAlias) store_text(record.alias_name, kAliasNameSize, text, n);  // memory only
      put_text_reply(pos, size, 1, record.alias_name,
                     text_length(record.alias_name, kAliasNameSize));
      return sub == kAlias ? 1 : 0;
    case kSysNameQuery:
    case kSysName:
    case kSysLocationQuery:
    case kSysLocation:
    case kSysContactQuery:
    case kSysContact: {
      const SnmpText& t = snmp_texts[(sub - kSysNameQuery) / 2];
      if (sub % 2 == 1) {
        store_text(t.field, kSnmpTextSize, text, n);
        t.write(t.field);
      } else {
        load_snmp_identity(&identity);
      }
      put_text_reply(pos, size, static_cast<unsigned char>(sub | 1), t.field,
                     text_length(t.field, kSnmpTextSize));
      return sub % 2;
    }
    case kPassword: {
      // The old password is not asked for: being logged in is enough to replace it.
      put_text_reply(pos, size, kPassword, reinterpret_cast<const char*>(text), n);
      passwdChangeAlert("Password Changed");
      unsigned char password[kPasswordMax] = {};
      std::memcpy(password, text, static_cast<size_t>(n < kPasswordMax ? n : kPasswordMax));
      set_eePassword(password);
      return 1;
    }
    default:
      put_reply(pos, size, kNamePassword, nullptr, 0);
      return 0;
  }
}

unsigned cmd_net_address(const unsigned char* data, int length, int eth_index, unsigned char* pos,
                         int* size) {
  // Only the interface the session came in on has a block; an unknown one touches nothing.
  const int i = eth_index - 1;
  if (i < 0 || i >= kInterfaceCount) return refuse(kNetAddress, pos, size);
  using namespace net_address;
  const unsigned char sub = data[0];
  const bool is_set = sub == kIp || sub == kGateway || sub == kNetmask;
  // A set without an address has nothing to store.
  if (is_set && length != 1 + kAddressSize) return refuse(kNetAddress, pos, size);

  unsigned char reply[1 + kAddressSize] = {};
  reply[0] = sub;
  if (sub <= kNetmask) {
    using Reader = int (*)(int index, void* dst);
    using Writer = int (*)(int index, const void* src);
    struct Field {
      Reader read;
      Writer write;
    };
    const Field fields[] = {{get_eeIpAddress, set_eeIpAddress},
                            {get_eeGateway, set_eeGateway},
                            {get_eeNetmask, set_eeNetmask}};
    const Field& f = fields[sub / 2];
    if (is_set) f.write(i, data + 1);
    // The reply shows what the EEPROM gives back, not what was asked for.
    f.read(i, reply + 1);
    reply[0] = static_cast<unsigned char>(sub | 1);
  }
  put_reply(pos, size, kNetAddress, reply, sizeof reply);
  return is_set ? 1 : 0;
}
