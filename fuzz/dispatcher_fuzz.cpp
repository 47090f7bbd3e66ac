// The dispatcher over one received buffer (first byte: bit 0 logged in, bit 1 from eth0) on a
// device root whose stores are put back before each input, notices going to a private IPC
// namespace: the answer stays in its buffer, the login state 0 or 1, the EEPROM lock released.
#include <fcntl.h>
#include <sched.h>
#include <sys/msg.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "model/port_loader.h"
#include "platform/device_root.h"
#include "protocol/change_notice.h"
#include "protocol/dispatcher.h"
#include "service/session.h"
#include "storage/defaults.h"
#include "storage/eeprom_map.h"
#include "storage/station_ini.h"
#include "support/fake_i2c.h"

namespace {

char g_root[] = "/tmp/dispatcher_fuzz.XXXXXX";
int g_home = -1, g_queue = -1;
FakeI2c* g_chip = nullptr;
PortTable g_table;
struct {  // what each input starts from
  std::array<unsigned char, 8192> chip;
  std::string ini;
  PortTable table;
  SnmpIdentity identity;
} g_start;

void require(bool condition) {
  if (!condition) abort();
}
std::string at(const char* path) { return std::string(g_root) + path; }
std::string read_ini() {
  std::ifstream ini(at(kStationIniPath), std::ios::binary);
  return {std::istreambuf_iterator<char>(ini), {}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Queue 1234 must be this process's own: a notice may never reach a real queue.
  require(unshare(CLONE_NEWIPC) == 0 || unshare(CLONE_NEWUSER | CLONE_NEWIPC) == 0);
  require((g_queue = msgget(kChangeNoticeKey, IPC_CREAT | 0600)) >= 0);
  require((g_home = open(".", O_RDONLY | O_DIRECTORY)) >= 0 && mkdtemp(g_root) != nullptr);
  std::atexit([] { std::filesystem::remove_all(g_root); });
  require(prepare_device_root(g_root) == 0);  // and moves into it, until the end of set-up
  require(std::freopen("/dev/null", "w", stdout) != nullptr);  // the handlers' chatter
  static FakeI2c chip;
  g_chip = &chip;
  factory_initialize();
  load_default_settings();
  set_eePassword("secret\0\0");  // so seeds can log in: "secret", or "<user> secret"
  load_port_table(&g_table, get_port_count());
  load_snmp_identity(process_snmp_identity());
  g_start = {chip.chip, read_ini(), g_table, *process_snmp_identity()};
  set_session_context(&g_table, get_port_count(), process_snmp_identity());
  return fchdir(g_home);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1 || size > 1 + kReceiveBufferSize) return 0;
  g_chip->chip = g_start.chip;
  g_chip->transfers.clear();
  if (read_ini() != g_start.ini)
    std::ofstream(at(kStationIniPath), std::ios::binary) << g_start.ini;
  g_table = g_start.table;
  *process_snmp_identity() = g_start.identity;
  set_current_port(1);

  int logged_in = bytes[0] & 1, length = -7;
  auto* answer = new unsigned char[kAnswerBufferSize];  // exact size: ASan sees an overrun
  require(chdir(g_root) == 0);  // the shell commands' "2>@1" lands in the root
  const int result = dispatch_commands(bytes + 1, static_cast<int>(size - 1), bytes[0] & 2 ? 1 : -1,
                                       &logged_in, answer, kAnswerBufferSize, &length);
  require(fchdir(g_home) == 0 && (result == 0 || result == -1) && length >= 0 &&
          length <= kAnswerBufferSize && (logged_in == 0 || logged_in == 1));
  delete[] answer;
  require(access(at("/tmp/eeprom.lock").c_str(), F_OK) != 0);
  for (ChangeNotice n; msgrcv(g_queue, &n, sizeof n.text, 0, IPC_NOWAIT) >= 0;) continue;
  for (const char* log : {"/var/log/alertd.log", "/var/log/messages", "/var/log/programs.log"})
    truncate(at(log).c_str(), 0);  // logs would grow without bound over millions of inputs
  return 0;
}
