// Alert delivery: the alert log, the system-log alert, mail through the device's mail program,
// SNMP version 1 traps and the default-gateway switch after a failed trap, and the four alerts
// built from them. This unit owns the process-wide mail sequence number and the command lines
// handed to the shell; every fixed path in them goes through the root prefix.
#pragma once

constexpr int AUTH_FAIL_TRAP = 4;  // SNMPv1 generic trap authenticationFailure

// Condition texts of the IP-change alerts: they carry a new and an old configuration text,
// and their mail runs in the foreground.
constexpr const char kIpChangedEth0[] = "IP Address Changed (eth0)";
constexpr const char kIpChangedEth1[] = "IP Address Changed (eth1)";

// Appends "year/mm/dd hh:mm:ss: text" to the alert log through the shell; its exit status.
// text goes inside echo "..." as it is: a value put into it must pass echo_quoted first.
int alertLog(const char* text);
// Alert-priority system-log message with the condition, for IP-change texts the new and old
// configuration (either may be nullptr otherwise), sysName and sysLocation. Returns 0.
int sendSysLog(const char* condition, const char* new_config, const char* old_config);
// Mails the condition to station.ini's receivers (';' separated) from its sender. number is
// only logged. Result of sendMail.
int sendMailAll(const char* condition, int number, const char* new_config, const char* old_config);
// Writes the mail body to /tmp/mailmessage.N and starts the mail program on it. -1 when the
// message file cannot be written, 0 when no SMTP server is set, 1 when the program was run
// or refused (server, sender, a blank-separated receiver, user or password that is not
// shell_safe_value: the alert log says kShellRefused and nothing runs).
int sendMail(const char* receivers, const char* sender, const char* condition, int number,
             int foreground, const char* new_config, const char* old_config);
// Sends generic trap `kind` to snmpTrapServer; after a failure switches the default gateway
// and tries once more. 0, -1 when the switch failed, else the second attempt's exit status.
int sendSnmpTrap(int kind);
// Moves the default route to the other interface's stored gateway (eth0 first), remembered
// in the gateway marker. 0 when the route was set, -1 otherwise.
int chgDefGateway();
// Replaces the default route by one via ip (4 bytes, first octet first); the exit status of
// the route-adding command.
int setGatewayIP(const unsigned char* ip);

// Cold or warm start alert from eeWarmStart, which is reset to 0. Result of the last mail or
// trap routine called, 0 when none.
int startAlert();
// Failed login: system log, then mail and trap where enabled. Result of the last mail or trap
// routine called, 0 when none; callers do not use it.
int authenFailAlert(const char* condition);
// Changed address: system log with new and old configuration, then mail where enabled.
// 0 when mail is not enabled, else sendMailAll's result.
int addressChangeAlert(const char* condition, int number, const char* new_config,
                       const char* old_config);
// Changed password: system log, then mail where enabled. 0 when mail is not enabled, else
// sendMailAll's result.
int passwdChangeAlert(const char* condition);
