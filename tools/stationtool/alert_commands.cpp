// stationtool commands of the alert and network units: the syslog daemon set-up, a single
// system-log message, the start-up and address-change alerts, and the network queries.
#include <cstdio>

#include "alert/alert_delivery.h"
#include "alert/syslogd_config.h"
#include "net/interface_address.h"
#include "net/routes.h"
#include "tool_command.h"

namespace {

int run_set_syslogd(char**, const uint32_t*) { return setSysLogd() == 0 ? kToolOk : kToolFailed; }

int run_write_syslog(char** argv, const uint32_t* n) {
  writeSysLog(argv[0], static_cast<int>(n[0] << 3), static_cast<int>(n[1]), argv[3]);
  return kToolOk;
}

int run_start_alert(char**, const uint32_t*) {
  return startAlert() < 0 ? tool_failed("start-up alert: the mail or trap failed") : kToolOk;
}

int run_address_change(char** argv, const uint32_t* n) {
  const int result = addressChangeAlert(argv[0], static_cast<int>(n[0]), argv[2], argv[3]);
  return result < 0 ? tool_failed("address-change alert: the mail failed") : kToolOk;
}

int run_net_summary(char**, const uint32_t* n) {
  char text[kNetSummaryMax];
  get_net_summary(text, static_cast<int>(n[0]));
  std::printf("%s\n", text);
  return kToolOk;
}

// The single-address queries differ only in the routine (a name server stays 0.0.0.0 when
// there is no such server).
template <auto Query>
int run_address_query(char**, const uint32_t* n) {
  unsigned char address[4] = {};
  Query(static_cast<int>(n[0]), address);
  std::printf("%d.%d.%d.%d\n", address[0], address[1], address[2], address[3]);
  return kToolOk;
}

constexpr NumberArgument kIfindex = {0, 3, "%s: interface index 0..3 expected"};

// clang-format off
const ToolCommand kAlertCommands[] = {
    {"set-syslogd", 0, 0, "",
     "write /sbin/run_syslog.sh from station.ini [SYSLOG] and restart the logger",
     false, {}, nullptr, run_set_syslogd},
    {"write-syslog", 4, 4, "IDENT FACILITY PRIORITY TEXT",
     "one system-log message; FACILITY is the code 0..23 (1 user, 16 local0), PRIORITY 0..7",
     false, {{1, 23, "%s: facility code 0..23 expected"}, {2, 7, "%s: priority 0..7 expected"}},
     nullptr, run_write_syslog},
    {"start-alert", 0, 0, "", "the cold or warm start alert from eeWarmStart (reset to 0)",
     true, {}, nullptr, run_start_alert},
    {"address-change-alert", 4, 4, "TEXT NUM NEW OLD",
     "the address-change alert with condition TEXT and the new and old configuration",
     true, {{1, 0x7FFFFFFF, "%s: a number expected"}}, nullptr, run_address_change},
    {"net-summary", 1, 1, "IFINDEX", "the addressing summary of eth<IFINDEX>",
     true, {kIfindex}, nullptr, run_net_summary},
    {"gateway", 1, 1, "IFINDEX", "the default gateway of eth<IFINDEX>",
     true, {kIfindex}, nullptr, run_address_query<get_if_gateway>},
    {"name-server", 1, 1, "N", "DNS name server N (0..4)",
     true, {{0, 4, "%s: name server index 0..4 expected"}}, nullptr,
     run_address_query<get_name_server>},
    {"if-addr", 1, 1, "IFINDEX", "the IPv4 address of eth<IFINDEX>",
     true, {kIfindex}, nullptr, run_address_query<get_if_addr>},
    {"if-netmask", 1, 1, "IFINDEX", "the netmask of eth<IFINDEX>",
     true, {kIfindex}, nullptr, run_address_query<get_if_netmask>},
};
// clang-format on

const ToolCommandGroup kAlertGroup(kAlertCommands);

}  // namespace
