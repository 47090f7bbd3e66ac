// stationtool commands of the alert and network units: the syslog daemon set-up, a single
// system-log message, the start-up and address-change alerts, and the network queries.
#include <sys/stat.h>

#include <cstdio>

#include "alert/alert_delivery.h"
#include "alert/syslogd_config.h"
#include "net/interface_address.h"
#include "net/routes.h"
#include "platform/root.h"
#include "tool_command.h"

namespace {

// With a root the EEPROM is an image file; without one every field read would complain.
bool eeprom_image_missing() {
  if (!has_root()) return false;
  struct stat st;
  const RootedPath node = rooted("/dev/i2c-0");
  if (::stat(node.c_str(), &st) == 0) return false;
  tool_failed("%s: no EEPROM image", node.c_str());
  return true;
}

void print_address(const unsigned char* a) { std::printf("%d.%d.%d.%d\n", a[0], a[1], a[2], a[3]); }

int check_ifindex(int, char** argv) {
  unsigned long index;
  if (!parse_number(argv[0], 3, &index))
    return bad_args("%s: interface index 0..3 expected", argv[0]);
  return 0;
}

int ifindex(char** argv) {
  unsigned long index = 0;
  parse_number(argv[0], 3, &index);
  return static_cast<int>(index);
}

int check_write_syslog(int, char** argv) {
  unsigned long value;
  if (!parse_number(argv[1], 23, &value))
    return bad_args("%s: facility code 0..23 expected", argv[1]);
  if (!parse_number(argv[2], 7, &value)) return bad_args("%s: priority 0..7 expected", argv[2]);
  return 0;
}

int check_address_change(int, char** argv) {
  unsigned long number;
  if (!parse_number(argv[1], 0x7FFFFFFF, &number))
    return bad_args("%s: a number expected", argv[1]);
  return 0;
}

int check_name_server(int, char** argv) {
  unsigned long n;
  if (!parse_number(argv[0], 4, &n))
    return bad_args("%s: name server index 0..4 expected", argv[0]);
  return 0;
}

int run_set_syslogd(int, char**) { return setSysLogd() == 0 ? kToolOk : kToolFailed; }

int run_write_syslog(int, char** argv) {
  unsigned long facility = 0, priority = 0;
  parse_number(argv[1], 23, &facility);
  parse_number(argv[2], 7, &priority);
  writeSysLog(argv[0], static_cast<int>(facility << 3), static_cast<int>(priority), argv[3]);
  return kToolOk;
}

int run_start_alert(int, char**) {
  if (eeprom_image_missing()) return kToolFailed;
  return startAlert() < 0 ? tool_failed("start-up alert: the mail or trap failed") : kToolOk;
}

int run_address_change(int, char** argv) {
  if (eeprom_image_missing()) return kToolFailed;
  unsigned long number = 0;
  parse_number(argv[1], 0x7FFFFFFF, &number);
  const int result = addressChangeAlert(argv[0], static_cast<int>(number), argv[2], argv[3]);
  return result < 0 ? tool_failed("address-change alert: the mail failed") : kToolOk;
}

int run_net_summary(int, char** argv) {
  if (eeprom_image_missing()) return kToolFailed;
  char text[kNetSummaryMax];
  get_net_summary(text, ifindex(argv));
  std::printf("%s\n", text);
  return kToolOk;
}

// The three single-address queries differ only in the routine.
template <int (*Query)(int, unsigned char*)>
int run_address_query(int, char** argv) {
  if (eeprom_image_missing()) return kToolFailed;
  unsigned char address[4] = {};
  Query(ifindex(argv), address);
  print_address(address);
  return kToolOk;
}

int run_name_server(int, char** argv) {
  if (eeprom_image_missing()) return kToolFailed;
  unsigned long n = 0;
  parse_number(argv[0], 4, &n);
  unsigned char address[4] = {};  // stays 0.0.0.0 when there is no such server
  get_name_server(static_cast<int>(n), address);
  print_address(address);
  return kToolOk;
}

const ToolCommand kAlertCommands[] = {
    {"set-syslogd", 0, 0, "",
     "write /sbin/run_syslog.sh from station.ini [SYSLOG] and restart the logger", nullptr,
     run_set_syslogd},
    {"write-syslog", 4, 4, "IDENT FACILITY PRIORITY TEXT",
     "one system-log message; FACILITY is the code 0..23 (1 user, 16 local0), PRIORITY 0..7",
     check_write_syslog, run_write_syslog},
    {"start-alert", 0, 0, "", "the cold or warm start alert from eeWarmStart (reset to 0)", nullptr,
     run_start_alert},
    {"address-change-alert", 4, 4, "TEXT NUM NEW OLD",
     "the address-change alert with condition TEXT and the new and old configuration",
     check_address_change, run_address_change},
    {"net-summary", 1, 1, "IFINDEX", "the addressing summary of eth<IFINDEX>", check_ifindex,
     run_net_summary},
    {"gateway", 1, 1, "IFINDEX", "the default gateway of eth<IFINDEX>", check_ifindex,
     run_address_query<get_if_gateway>},
    {"name-server", 1, 1, "N", "DNS name server N (0..4)", check_name_server, run_name_server},
    {"if-addr", 1, 1, "IFINDEX", "the IPv4 address of eth<IFINDEX>", check_ifindex,
     run_address_query<get_if_addr>},
    {"if-netmask", 1, 1, "IFINDEX", "the netmask of eth<IFINDEX>", check_ifindex,
     run_address_query<get_if_netmask>},
};

const ToolCommandGroup kAlertGroup(kAlertCommands);

}  // namespace
