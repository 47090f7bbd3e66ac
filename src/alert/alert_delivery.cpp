#include "alert/alert_delivery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "alert/shell_value.h"
#include "net/interface_address.h"
#include "platform/root.h"
#include "platform/shell.h"
#include "platform/syslog.h"
#include "storage/eeprom_map.h"
#include "storage/station_ini.h"

namespace {

constexpr const char kAlertLog[] = "/var/log/alertd.log";
constexpr const char kMailMessage[] = "/tmp/mailmessage";
constexpr const char kMailProgram[] = "/usr/sbin/mail";
constexpr const char kClockUpdate[] = "/usr/sbin/rtc2systime";
constexpr const char kEmailEcho[] = "/tmp/email";
constexpr const char kStartMarker[] = "/tmp/alert";
constexpr const char kGatewayMarker[] = "/tmp/dfgw_ethx";
constexpr const char kMailSubject[] = "KV7731 Alert Message";
constexpr const char kTrapCommunity[] = "ormolu";
constexpr int kMessageMax = 1024;  // syslog message and mail body
constexpr int kCommandMax = 4096;  // room for a mail command line inside an alert-log line

// Incremented before each mail, so the first mail of a process uses ".1" and the 256th ".0".
uint8_t g_mail_sequence = 0;

// The exit status of a shell command; -1 when it was refused or did not exit normally.
int shell_status(const char* command) {
  const int result = run_shell(command);
  if (result == -1 || !WIFEXITED(result)) return -1;
  return WEXITSTATUS(result);
}

const char* or_null(const char* text) { return text ? text : "(null)"; }

bool is_ip_change(const char* condition) {
  return std::strcmp(condition, kIpChangedEth0) == 0 || std::strcmp(condition, kIpChangedEth1) == 0;
}

std::tm local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm fields{};
  localtime_r(&now, &fields);
  return fields;
}

// Appends a formatted piece to a text buffer, as the composing "%s..." formats do.
__attribute__((format(printf, 3, 4))) void append(char* buffer, std::size_t size,
                                                  const char* format, ...) {
  const std::size_t used = std::strlen(buffer);
  if (used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer + used, size - used, format, args);
  va_end(args);
}

__attribute__((format(printf, 1, 2))) int alert_logf(const char* format, ...) {
  char text[kCommandMax];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return alertLog(text);
}

// Texts are read into fields one byte larger than the key's size, so a full field still ends
// in a terminator.
struct IdentityTexts {
  char sysName[33] = {};
  char sysLocation[33] = {};
};

IdentityTexts read_identity() {
  IdentityTexts texts;
  get_sysName(texts.sysName);
  get_sysLocation(texts.sysLocation);
  return texts;
}

}  // namespace

int alertLog(const char* text) {
  const std::tm now = local_now();
  char command[kCommandMax + 128];
  std::snprintf(command, sizeof command, "echo \"%d/%02d/%02d %02d:%02d:%02d: %s\" >> %s",
                now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min,
                now.tm_sec, text, rooted(kAlertLog).c_str());
  return shell_status(command);
}

int sendSysLog(const char* condition, const char* new_config, const char* old_config) {
  alertLog("sendSysLog(): start sendSysLog");
  const IdentityTexts identity = read_identity();
  alertLog("sendSysLog(): create buf");
  char message[kMessageMax] = "";
  append(message, sizeof message, "%s, ", condition);
  if (is_ip_change(condition)) {
    append(message, sizeof message, "New: %s, ", or_null(new_config));
    append(message, sizeof message, "Old: %s, ", or_null(old_config));
  }
  append(message, sizeof message, "SysName: %s, ", identity.sysName);
  append(message, sizeof message, "SysLocation: %s", identity.sysLocation);
  // No openlog first: the process's default identity and facility apply.
  platform_syslog(1, "%s\n", message);
  return 0;
}

int sendMailAll(const char* condition, int number, const char* new_config, const char* old_config) {
  char sender[49] = {};
  char receivers[129] = {};
  get_sender(sender);
  get_receiver(receivers);
  // Each address becomes one argument of the mail program.
  for (char* c = receivers; *c; ++c)
    if (*c == ';') *c = ' ';
  alert_logf("sendMailAll(): call sendMail(%s, %s, %s, %d, 0, %s, %s)",
             echo_quoted(receivers).c_str(), echo_quoted(sender).c_str(),
             echo_quoted(condition).c_str(), number, echo_quoted(or_null(new_config)).c_str(),
             echo_quoted(or_null(old_config)).c_str());
  return sendMail(receivers, sender, condition, number, 0, new_config, old_config);
}

int sendMail(const char* receivers, const char* sender, const char* condition, int /*number*/,
             int foreground, const char* new_config, const char* old_config) {
  alertLog("sendMail(): start sendMail");
  std::puts("sendMail(): start sendMail");
  char command[kCommandMax];
  std::snprintf(command, sizeof command, "%s >/dev/null 2>@1", rooted(kClockUpdate).c_str());
  run_shell(command);
  usleep(10000);

  const std::tm now = local_now();
  const IdentityTexts identity = read_identity();
  alertLog("sendMail(): create buf");
  char body[kMessageMax] = "";
  append(body, sizeof body, "Sender: %s\n", sender);
  append(body, sizeof body, "Alert Condition: %s \n", condition);
  if (is_ip_change(condition)) {
    append(body, sizeof body, "New Config: %s\n", or_null(new_config));
    append(body, sizeof body, "Old Config: %s\n", or_null(old_config));
    foreground = 1;
  }
  append(body, sizeof body, "SysName: %s\n", identity.sysName);
  append(body, sizeof body, "SysLocation: %s\n", identity.sysLocation);
  append(body, sizeof body, "Date: %d/%02d/%02d\n", now.tm_year + 1900, now.tm_mon + 1,
         now.tm_mday);
  append(body, sizeof body, "Time: %02d:%02d:%02d\n", now.tm_hour, now.tm_min, now.tm_sec);

  ++g_mail_sequence;
  char message_file[kRootedPathMax + 8];
  std::snprintf(message_file, sizeof message_file, "%s.%d", rooted(kMailMessage).c_str(),
                g_mail_sequence);
  alert_logf("sendMail(): write buf to %s", message_file);
  const int fd = open(message_file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  fchmod(fd, 0644);  // the documented mode, whatever the umask or an older file had
  const std::size_t length = std::strlen(body);
  const ssize_t written = write(fd, body, length);
  if (written < 0 || static_cast<std::size_t>(written) < length) {
    close(fd);
    return -1;
  }
  close(fd);

  char server[33] = {};
  get_smtpServer(server);
  if (server[0] == '\0') return 0;  // the message file stays; no mail is sent

  const RootedPath program = rooted(kMailProgram);
  const bool authenticate = (get_smtpAuth() & 0xFF) != 0;
  char user[33] = {};
  char password[17] = {};
  if (authenticate) {
    get_smtpUser(user);
    get_smtpPasswd(password);
  }
  // Every value lands bare in the command line (and in its echo): a value the shell would
  // read as more than a word stops the mail, as a failing mail program would.
  if (!shell_safe_value(server) || !shell_safe_value(sender) ||
      !shell_safe_value(receivers, ' ') || !shell_safe_value(user) ||
      !shell_safe_value(password)) {
    alertLog(kShellRefused);
    return 1;
  }
  if (authenticate) {
    std::snprintf(command, sizeof command, "%s -S %s -f %s -s \"%s\" -U %s -E %s %s < %s",
                  program.c_str(), server, sender, kMailSubject, user, password, receivers,
                  message_file);
    char echo[kCommandMax + kRootedPathMax + 16];
    std::snprintf(echo, sizeof echo, "echo %s > %s", command, rooted(kEmailEcho).c_str());
    run_shell(echo);
  } else {
    std::snprintf(command, sizeof command, "%s -S %s -f %s -s \"%s\" %s < %s", program.c_str(),
                  server, sender, kMailSubject, receivers, message_file);
  }
  if (!foreground) append(command, sizeof command, " &");
  alert_logf("sendMail(): call %s", command);
  run_shell(command);
  return 1;
}

int sendSnmpTrap(int kind) {
  unsigned char agent[4];
  unsigned char server[4] = {};
  get_if_addr(0, agent);
  get_snmpTrapServer(server);
  char agent_text[16], server_text[16];
  std::snprintf(agent_text, sizeof agent_text, "%d.%d.%d.%d", agent[0], agent[1], agent[2],
                agent[3]);
  std::snprintf(server_text, sizeof server_text, "%d.%d.%d.%d", server[0], server[1], server[2],
                server[3]);
  char command[256];
  std::snprintf(command, sizeof command, "%s -v%d -c %s %s 0 %s %d 0 '' >/dev/null 2>@1",
                "snmptrap", 1, kTrapCommunity, server_text, agent_text, kind);
  alert_logf("sendSnmpTrap(%d): call %s", kind, command);
  if (shell_status(command) == 0) return 0;
  if (chgDefGateway() != 0) return -1;
  return shell_status(command);
}

int chgDefGateway() {
  const RootedPath marker = rooted(kGatewayMarker);
  char next = '0';  // no marker, or anything but '0' in it: eth0's gateway
  if (std::FILE* file = std::fopen(marker.c_str(), "r")) {
    if (std::fgetc(file) == '0') next = '1';
    std::fclose(file);
  } else {
    alert_logf("chgDefGateway(): File not found [%s]", marker.c_str());
  }
  const int target = next - '0';
  char command[kRootedPathMax + 32];
  std::snprintf(command, sizeof command, "echo '%c' > %s", next, marker.c_str());
  alert_logf("chgDefGateway(): call %s", command);
  run_shell(command);

  unsigned char gateway[4] = {};
  get_eeGateway(target, gateway);
  alert_logf("chgDefGateway(): call setGatewayIP(%d.%d.%d.%d)", gateway[0], gateway[1], gateway[2],
             gateway[3]);
  if (setGatewayIP(gateway) == 0) {
    alertLog("chgDefGateway(): Success");
    return 0;
  }
  alertLog("chgDefGateway(): Failed");
  return -1;
}

int setGatewayIP(const unsigned char* ip) {
  char address[16];
  std::snprintf(address, sizeof address, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  run_shell(
      "route del -net 0.0.0.0 eth0 >/dev/null 2>@1; "
      "route del -net 0.0.0.0 eth1 >/dev/null 2>@1");
  char command[64];
  std::snprintf(command, sizeof command, "route add default gw %s >/dev/null 2>@1", address);
  alert_logf("setGatewayIP(%s): call %s", address, command);
  return shell_status(command);
}

int startAlert() {
  const unsigned warm = get_eeWarmStart();
  set_eeWarmStart(0);
  sendSysLog(warm != 0 ? "Warm Start" : "Cold Start", nullptr, nullptr);
  if (warm > 1) return 0;  // only 0 and 1 name a start kind

  const int flag = static_cast<int>(warm);
  const char* condition = warm == 0 ? "Cold Start" : "Warm Start";
  int result = 0;
  if (get_trapAlert(flag) == 1) {
    result = sendSnmpTrap(flag);
    char command[kRootedPathMax + 32];
    std::snprintf(command, sizeof command, "echo %s > %s", warm == 0 ? "Cold_Start" : "Warm_Start",
                  rooted(kStartMarker).c_str());
    run_shell(command);
  }
  if (get_emailAlert(flag) == 1) result = sendMailAll(condition, 0, nullptr, nullptr);
  return result;
}

int authenFailAlert(const char* condition) {
  sendSysLog(condition, nullptr, nullptr);
  int result = 0;
  if (get_emailAlert(2) == 1) {
    alert_logf("authenFailAlert(): call sendMailAll(%s, 0, NULL, NULL)",
               echo_quoted(condition).c_str());
    result = sendMailAll(condition, 0, nullptr, nullptr);
  }
  if (get_trapAlert(2) == 1) {
    alertLog("authenFailAlert(): call sendSnmpTrap(AUTH_FAIL_TRAP)");
    result = sendSnmpTrap(AUTH_FAIL_TRAP);
  }
  return result;
}

int addressChangeAlert(const char* condition, int number, const char* new_config,
                       const char* old_config) {
  sendSysLog(condition, new_config, old_config);
  if (get_emailAlert(3) != 1) return 0;
  alert_logf("addressChangeAlert(): call sendMailAll(%s, %d, %s, %s)",
             echo_quoted(condition).c_str(), number, echo_quoted(or_null(new_config)).c_str(),
             echo_quoted(or_null(old_config)).c_str());
  return sendMailAll(condition, number, new_config, old_config);
}

int passwdChangeAlert(const char* condition) {
  sendSysLog(condition, nullptr, nullptr);
  if (get_emailAlert(4) != 1) return 0;
  alert_logf("passwdChangeAlert(): call sendMailAll(%s, 0, NULL, NULL)",
             echo_quoted(condition).c_str());
  return sendMailAll(condition, 0, nullptr, nullptr);
}
