// Runs the dispatcher over one received buffer, logged in or not, from eth0 or elsewhere, on a
// temporary device root with a factory station.ini and EEPROM image. The EEPROM is a chip in
// memory behind an instant pause; the change-notice queue lives in a private IPC namespace
// and is drained after each input. Every input starts from the same stores, and must leave
// the answer within its buffer, the login state 0 or 1 and the EEPROM lock released.
#include <sched.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/port_loader.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "protocol/change_notice.h"
#include "protocol/dispatcher.h"
#include "service/control_loop.h"
#include "service/session.h"
#include "storage/defaults.h"
#include "storage/eeprom_map.h"
#include "storage/station_ini.h"
#include "support/fake_i2c.h"

namespace {

// The chip: the tests' EEPROM in memory (tests/support/fake_i2c), with an instant pause.
// What it records of each input's transfers is dropped before the next.
FakeI2c* g_chip = nullptr;
std::array<unsigned char, 8192> g_chip_start;

char g_root[] = "/tmp/dispatcher_fuzz.XXXXXX";
std::string g_ini_start;
int g_queue = -1;
PortTable* g_table = nullptr;
PortTable g_table_start;
SnmpIdentity g_identity_start;

void require(bool condition) {
  if (!condition) abort();
}

std::string at(const char* path) { return std::string(g_root) + path; }

void remove_root() { std::filesystem::remove_all(g_root); }

std::string read_ini() {
  std::ifstream ini(at(kStationIniPath), std::ios::binary);
  std::stringstream text;
  text << ini.rdbuf();
  return text.str();
}

// Puts station.ini back when an input changed it; rewriting it every time would cost more
// than the dispatch.
void restore_ini() {
  if (read_ini() != g_ini_start)
    std::ofstream(at(kStationIniPath), std::ios::binary | std::ios::trunc) << g_ini_start;
}

bool prepare() {
  // Queue 1234 must be this process's own: a notice may never reach a real queue.
  // Without the privilege for that, a user namespace of its own grants it.
  if (unshare(CLONE_NEWIPC) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWIPC) != 0) {
    std::fputs("dispatcher_fuzz: no private IPC namespace\n", stderr);
    abort();
  }
  g_queue = msgget(kChangeNoticeKey, IPC_CREAT | 0600);
  require(g_queue >= 0);
  require(mkdtemp(g_root) != nullptr);
  std::atexit(remove_root);
  require(prepare_device_root(g_root) == 0);  // and moves into it: "2>@1" lands there
  std::fflush(stdout);
  require(std::freopen("/dev/null", "w", stdout) != nullptr);  // the handlers' chatter

  static FakeI2c chip;
  g_chip = &chip;
  factory_initialize();
  load_default_settings();
  set_eePassword("secret\0\0");  // so seeds can log in: "secret", or "<user> secret"
  g_chip_start = g_chip->chip;
  g_ini_start = read_ini();

  g_table = static_cast<PortTable*>(std::calloc(1, sizeof(PortTable)));
  require(g_table != nullptr);
  load_port_table(g_table, get_port_count());
  load_snmp_identity(process_snmp_identity());
  g_table_start = *g_table;
  g_identity_start = *process_snmp_identity();
  set_session_context(g_table, get_port_count(), process_snmp_identity());
  return true;
}

}  // namespace

// The root becomes the working directory, so relative corpus folders and the default artifact
// place are made absolute first; libFuzzer reads its flags after this.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> texts;
  static std::vector<char*> args;
  char cwd[4096];
  require(getcwd(cwd, sizeof cwd) != nullptr);
  bool artifact_prefix = false;
  for (int i = 0; i < *argc; ++i) {
    const std::string arg = (*argv)[i];
    artifact_prefix |= arg.rfind("-artifact_prefix=", 0) == 0;
    texts.push_back(i > 0 && arg[0] != '-' && arg[0] != '/' ? std::string(cwd) + "/" + arg : arg);
  }
  if (!artifact_prefix) texts.push_back(std::string("-artifact_prefix=") + cwd + "/");
  for (std::string& text : texts) args.push_back(text.data());
  args.push_back(nullptr);
  *argc = static_cast<int>(texts.size());
  *argv = args.data();
  return prepare() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  // First byte: bit 0 logged in, bit 1 the connection is on eth0.
  int logged_in = bytes[0] & 1;
  const int eth_index = (bytes[0] & 2) ? 1 : -1;
  const int count = static_cast<int>(std::min<size_t>(size - 1, kReceiveBufferSize));
  std::vector<unsigned char> received(bytes + 1, bytes + 1 + count);

  g_chip->chip = g_chip_start;
  g_chip->transfers.clear();
  restore_ini();
  *g_table = g_table_start;
  *process_snmp_identity() = g_identity_start;
  set_current_port(1);

  auto* answer = new unsigned char[kAnswerBufferSize];  // exact size: ASan sees an overrun
  int length = -7;
  const int result = dispatch_commands(received.data(), count, eth_index, &logged_in, answer,
                                       kAnswerBufferSize, &length);
  require(result == 0 || result == -1);
  require(length >= 0 && length <= kAnswerBufferSize);
  require(logged_in == 0 || logged_in == 1);
  delete[] answer;
  require(access(at("/tmp/eeprom.lock").c_str(), F_OK) != 0);

  ChangeNotice notice;
  while (msgrcv(g_queue, &notice, sizeof notice.text, 0, IPC_NOWAIT) >= 0) {
  }
  // Logs would grow without bound over millions of inputs.
  for (const char* log : {"/var/log/alertd.log", "/var/log/messages", "/var/log/programs.log"})
    truncate(at(log).c_str(), 0);
  return 0;
}
