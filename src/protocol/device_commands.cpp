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
#include "protocol/frame_codec.h"
#include "protocol/link_commands.h"
#include "service/session.h"
#include "storage/eeprom_map.h"
#include "storage/station_ini.h"

namespace {

constexpr int kEcho78Code = 78;
constexpr int kOption79Code = 79;
constexpr int kNetAddressCode = 88;
constexpr int kNamePasswordCode = 89;
constexpr int kValue91Code = 91;
constexpr int kValue93Code = 93;
constexpr int kSelectPortCode = 94;
constexpr int kEndOfSeriesCode = 95;
constexpr int kGetAllCode = 96;

constexpr int kPasswordSize = 8;  // eePassword
constexpr int kAddressSize = 4;
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
  put_reply(pos, size, kNamePasswordCode, payload, n + 2);
}

int text_length(const char* field, int field_size) {
  return static_cast<int>(strnlen(field, static_cast<size_t>(field_size)));
}

}  // namespace

unsigned cmd_option79(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kOption79Code, pos, size);
  PortSettings& record = *current_port_record();
  unsigned report = 0;
  if ((data[0] == 1 || data[0] == 2) && data[0] != record.option79) {
    record.option79 = data[0];  // memory only
    report = 1;
  }
  put_reply(pos, size, kOption79Code, &record.option79, 1);
  return report;
}

unsigned cmd_value91(const unsigned char*, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kValue91Code, pos, size);
  put_reply(pos, size, kValue91Code, &current_port_record()->value91, 1);
  return 1;
}

unsigned cmd_select_port(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kSelectPortCode, pos, size);
  // set_current_port falls back to port 1 for a number the device does not have.
  if (data[0] != 0) set_current_port(data[0]);
  const unsigned char port = static_cast<unsigned char>(act_g());
  put_reply(pos, size, kSelectPortCode, &port, 1);
  return 1;
}

unsigned cmd_value93(const unsigned char*, int length, unsigned char* pos, int* size) {
  if (length != 0) return refuse(kValue93Code, pos, size);
  put_reply(pos, size, kValue93Code, current_port_record()->value93, 2);
  return 1;
}

unsigned cmd_echo78(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length != 1) return refuse(kEcho78Code, pos, size);
  put_reply(pos, size, kEcho78Code, data, 1);
  return data[0] == 1 || data[0] == 2 ? 1 : 0;
}

unsigned cmd_get_all(const unsigned char*, int length, unsigned char* pos, int* size) {
  if (length != 0) return refuse(kGetAllCode, pos, size);
  // The reload drops every memory-only value of the port: what follows is station.ini's.
  load_port_record(session_context().port_table, act_g() - 1);
  const PortSettings& s = *current_port_record();

  Series series = {pos, *size, 0};
  unsigned char rate[4];
  put_be32(s.baud_rate, rate);
  series.add(1, rate, sizeof rate);
  series.add(2, &s.data_bits, 1);
  std::printf("parity=%d\n", s.parity);
  series.add(3, &s.parity, 1);
  series.add(4, &s.stop_bits, 1);
  series.add(5, &s.flow_control, 1);
  series.add(85, &s.tcp_mode, 1);

  const int alias_length = text_length(s.alias_name, kAliasNameSize);
  std::printf("get alias name=%s\n", s.alias_name);
  std::printf("length=%d\n", alias_length + 1);
  unsigned char alias[1 + kAliasNameSize + 1] = {};
  alias[0] = s.alias_tag;
  std::memcpy(alias + 1, s.alias_name, static_cast<size_t>(alias_length));
  series.add(kNamePasswordCode, alias, alias_length + 2);

  std::printf("mode=%d\n", s.uart_mode);
  series.add(90, &s.uart_mode, 1);
  series.add(kValue91Code, &s.value91, 1);
  std::printf("linkmode = %d\n", s.link_mode);
  unsigned char link[kLinkPayloadMax];
  series.add(92, link, get_link_payload(s, link));
  series.add(kValue93Code, s.value93, 2);
  series.add(99, &s.option99, 1);
  series.add(98, s.fixed98, 3);
  series.add(97, s.fixed97, 3);
  series.add(kEndOfSeriesCode, nullptr, 0);
  *size = series.total;
  return 1;
}

unsigned set_namepassword(const unsigned char* data, int length, int, unsigned char* pos,
                          int* size) {
  std::puts("set_namepassword function");
  if (length < 1) {
    put_error_reply(pos, size, kNamePasswordCode);
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

  switch (sub) {
    case 0:
    case 1:
      if (sub == 1) store_text(record.alias_name, kAliasNameSize, text, n);  // memory only
      put_text_reply(pos, size, 1, record.alias_name,
                     text_length(record.alias_name, kAliasNameSize));
      return sub == 1 ? 1 : 0;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7: {
      const SnmpText& t = snmp_texts[(sub - 2) / 2];
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
    case 9: {
      // The old password is not asked for: being logged in is enough to replace it.
      put_text_reply(pos, size, 9, reinterpret_cast<const char*>(text), n);
      passwdChangeAlert("Password Changed");
      unsigned char password[kPasswordSize] = {};
      std::memcpy(password, text, static_cast<size_t>(n < kPasswordSize ? n : kPasswordSize));
      set_eePassword(password);
      return 1;
    }
    default:
      put_reply(pos, size, kNamePasswordCode, nullptr, 0);
      return 0;
  }
}

unsigned cmd_net_address(const unsigned char* data, int length, int eth_index, unsigned char* pos,
                         int* size) {
  if (length != 5 && length != 1) return refuse(kNetAddressCode, pos, size);
  // Only the interface the session came in on has a block; an unknown one touches nothing.
  const int i = eth_index - 1;
  if (i < 0 || i >= kInterfaceCount) return refuse(kNetAddressCode, pos, size);
  const unsigned char sub = data[0];
  const bool is_set = sub == 1 || sub == 3 || sub == 5;
  // A set without an address has nothing to store.
  if (is_set && length != 5) return refuse(kNetAddressCode, pos, size);

  unsigned char reply[1 + kAddressSize] = {};
  reply[0] = sub;
  if (sub <= 5) {
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
  put_reply(pos, size, kNetAddressCode, reply, sizeof reply);
  return is_set ? 1 : 0;
}
