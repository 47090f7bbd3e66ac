// The daemon's own paths, in process: loading both port records, and the dispatcher over a
// get-all buffer and over a set-baud buffer. Each group's floor is the file I/O the
// operation cannot avoid: as many whole-file reads and rewrites of station.ini as it makes,
// counted with inotify.
#include <sys/msg.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "access_count.h"
#include "bench_files.h"
#include "bench_suite.h"
#include "model/port_loader.h"
#include "platform/root.h"
#include "protocol/change_notice.h"
#include "protocol/dispatcher.h"
#include "service/session.h"
#include "storage/station_ini.h"

namespace {

PortTable table;
unsigned char answer[kAnswerBufferSize];
int change_queue = -1;

// Port 2 becomes current; then 96, get all.
const unsigned char kGetAll[] = {0xFF, 0xFA, 0x2C, 0x5E, 0x02, 0xFF, 0xF0,
                                 0xFF, 0xFA, 0x2C, 0x60, 0xFF, 0xF0};
// Port 2 becomes current; then code 1 sets the baud rate (9600 or 4800, most significant
// byte first), so that every buffer changes the file.
unsigned char set_baud[] = {0xFF, 0xFA, 0x2C, 0x5E, 0x02, 0xFF, 0xF0, 0xFF, 0xFA,
                            0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0};

int dispatch(const unsigned char* buffer, int count) {
  int logged_in = 1, length = 0;
  dispatch_commands(buffer, count, -1, &logged_in, answer, sizeof answer, &length);
  return length;
}

void toggle_baud() {
  const bool fast = set_baud[13] == 0x25;
  set_baud[13] = fast ? 0x12 : 0x25;  // 4800 = 0x12C0, 9600 = 0x2580
  set_baud[14] = fast ? 0xC0 : 0x80;
}

// The ChangeNotice goes to queue 1234, which only a private IPC namespace may hold here.
bool private_ipc_namespace() {
  char mine[64] = "", init[64] = "";
  if (readlink("/proc/self/ns/ipc", mine, sizeof mine - 1) < 0) return false;
  if (readlink("/proc/1/ns/ipc", init, sizeof init - 1) < 0) return true;  // not ours to see
  return std::strcmp(mine, init) != 0;
}

void drain_change_notices() {
  ChangeNotice message;
  while (msgrcv(change_queue, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0) {
  }
}

void run_load(int) { load_port_table(&table, 2); }
void run_get_all(int) { dispatch(kGetAll, sizeof kGetAll); }
void run_set_baud(int) {
  toggle_baud();
  dispatch(set_baud, sizeof set_baud);
  drain_change_notices();
}

void bench_load(benchmark::State& state, int) {
  time_calls(state, [] { return load_port_table(&table, 2) == 0; });
}

void bench_get_all(benchmark::State& state, int) {
  time_calls(state, [] { return dispatch(kGetAll, sizeof kGetAll) > 0; });
}

void bench_set_baud(benchmark::State& state, int) {
  if (change_queue < 0) {
    state.SkipWithError("needs a private IPC namespace (run scripts/bench.sh)");
    for (auto _ : state) {
    }
    return;
  }
  // The serial-forwarding side's work, reading the notice, is not the daemon's.
  time_calls(
      state,
      [] {
        toggle_baud();
        return dispatch(set_baud, sizeof set_baud) > 0;
      },
      drain_change_notices);
}

// The floor: `reads` whole-file reads and `writes` whole-file rewrites of the default file.
std::string floor_copy;
void bench_floor(benchmark::State& state, int access) {
  const int reads = access / 1000, writes = access % 1000;
  const char* pristine = bench_files().path[0].c_str();
  if (floor_copy.empty()) floor_copy = bench_copy(0, "daemon-floor");
  time_calls(state, [&] {
    bool ok = true;
    for (int i = 0; i < reads; ++i) ok = floor_read(pristine) > 0 && ok;
    for (int i = 0; i < writes; ++i) ok = floor_write(floor_copy.c_str()) == 0 && ok;
    return ok;
  });
}

std::string floor_label(IniAccess a) {
  char text[64];
  std::snprintf(text, sizeof text, "floor: %d reads, %d writes", a.reads, a.writes);
  return text;
}

void add_group(const std::string& group, void (*trial)(int), BenchFunction fn, const char* label) {
  const IniAccess a = count_ini_access(rooted(kStationIniPath).c_str(), trial, 0);
  if (a.reads >= 0)
    bench_register(group + "/" + floor_label(a), bench_floor, a.reads * 1000 + a.writes);
  bench_register(group + "/" + label, fn, 0);
}

}  // namespace

void register_daemon_benchmarks() {
  if (private_ipc_namespace()) change_queue = msgget(kChangeNoticeKey, IPC_CREAT | 0600);
  load_port_table(&table, 2);
  load_snmp_identity(process_snmp_identity());
  set_session_context(&table, 2, process_snmp_identity());
  set_current_port(1);

  add_group("load both ports", run_load, bench_load, "load_port_table");
  add_group("dispatch get-all", run_get_all, bench_get_all, "dispatch_commands");
  if (change_queue >= 0)
    add_group("dispatch set-baud", run_set_baud, bench_set_baud, "dispatch_commands");
  else
    bench_register("dispatch set-baud/dispatch_commands", bench_set_baud, 0);
}

void remove_change_queue() {
  if (change_queue >= 0) msgctl(change_queue, IPC_RMID, nullptr);
}
