// Round trips over loopback TCP: the daemon (the simulator on a scratch root, or the
// daemon's entry point in a child of this program when no simulator is given) against a
// plain TCP echo server moving the same bytes, in the same run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "access_count.h"
#include "bench_files.h"
#include "bench_suite.h"
#include "control_client.h"
#include "platform/root.h"
#include "service/daemon_main.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"

namespace {

const unsigned char kQuery[] = {0xFF, 0xFA, 0x2C, 0x5E, 0x00, 0xFF, 0xF0};
const unsigned char kSelectPort1[] = {0xFF, 0xFA, 0x2C, 0x5E, 0x01, 0xFF, 0xF0};
const unsigned char kGetAll[] = {0xFF, 0xFA, 0x2C, 0x60, 0xFF, 0xF0};

pid_t daemon_pid = -1, echo_pid = -1;
int daemon_fd = -1, echo_fd = -1;
std::vector<unsigned char> get_all_reply;
unsigned char reply[1024];

uint16_t free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

// Runs a program with its output sent to `log`; its PID, or -1.
pid_t spawn(const std::vector<std::string>& args, const std::string& log) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // the simulator ends with this program, however it ends
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  dup2(fd, 1);
  dup2(fd, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// The simulator on a root of its own, prepared fresh; or, without one, the daemon's entry
// point in a child on this program's root. The station.ini it uses, or "" on failure.
std::string start_daemon(const char* sim, uint16_t port) {
  if (sim == nullptr) {
    daemon_pid = fork();
    if (daemon_pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      _exit(daemon_main(port));
    }
    return rooted(kStationIniPath).c_str();
  }
  const std::string root = bench_files().root + "/sim";
  const std::string log = bench_files().root + "/sim.log";
  const pid_t prepare = spawn({sim, "--root", root, "--prepare-only"}, log);
  int status = 0;
  if (prepare < 0 || waitpid(prepare, &status, 0) != prepare || status != 0) return "";
  // The daemon's own round trips: the stand-in, not the forwarder, beside it.
  daemon_pid = spawn({sim, "--root", root, "--port", std::to_string(port), "--no-forwarder"}, log);
  return root + kStationIniPath;
}

void time_round_trips(benchmark::State& state, int fd, const unsigned char* request, int length,
                      int reply_length) {
  time_steps(state,
             [&] { return round_trip(fd, request, length, reply, reply_length) == reply_length; });
}

void query(benchmark::State& state, int) {
  time_round_trips(state, daemon_fd, kQuery, sizeof kQuery, 7);
}

void query_echo(benchmark::State& state, int) {
  time_round_trips(state, echo_fd, kQuery, sizeof kQuery, 7);
}

void get_all(benchmark::State& state, int length) {
  time_round_trips(state, daemon_fd, kGetAll, sizeof kGetAll, length);
}

void get_all_echo(benchmark::State& state, int length) {
  time_round_trips(state, echo_fd, get_all_reply.data(), length, length);
}

// As many key reads of the daemon's station.ini as a get-all makes, timed like the round
// trips: what the file reads of a get-all cost by themselves.
std::string daemon_ini;
void key_reads(benchmark::State& state, int count) {
  char value[32];
  time_steps(state, [&] {
    for (int i = 0; i < count; ++i)
      read_profile_string(kBenchSection, kBenchKey, value, sizeof value, nullptr,
                          daemon_ini.c_str());
    return true;
  });
}

void one_get_all(int length) { round_trip(daemon_fd, kGetAll, sizeof kGetAll, reply, length); }

}  // namespace

void register_tcp_benchmarks(const char* sim) {
  std::atexit(stop_tcp_benchmarks);  // also when the benchmark library exits on an error
  uint16_t echo_port = 0;
  echo_pid = start_echo_server(&echo_port);
  const uint16_t port = free_port();
  const std::string ini = start_daemon(sim, port);
  const char* who = sim ? "stationd-sim" : "daemon_main";
  daemon_fd = ini.empty() ? -1 : control_connect(port, 30000);
  echo_fd = echo_pid > 0 ? tcp_connect(echo_port, 1000) : -1;
  if (daemon_fd < 0 || echo_fd < 0 || !control_login(daemon_fd) ||
      round_trip(daemon_fd, kSelectPort1, sizeof kSelectPort1, reply, 7) != 7) {
    bench_note(std::string("round trips: ") + who + " or the echo server could not be reached");
    return;
  }
  const int length = learn_reply(daemon_fd, kGetAll, sizeof kGetAll, reply, sizeof reply);
  if (length <= 0) return;
  get_all_reply.assign(reply, reply + length);
  const IniAccess access = count_ini_access(ini, one_get_all, length);

  daemon_ini = ini;
  const std::string query_group = "query round trip (code 94 with 0)";
  bench_register(query_group + "/echo of 7 bytes", query_echo, 0, Clock::kWall);
  bench_register(query_group + "/" + who, query, 0, Clock::kWall);
  bench_target(query_group + "/" + who, {{query_group + "/echo of 7 bytes", 1}}, 1.3);

  const std::string group = "get-all round trip";
  const std::string echo = group + "/echo of " + std::to_string(length) + " bytes";
  const std::string reads = group + "/" + std::to_string(access.reads) + " key reads, in process";
  bench_register(echo, get_all_echo, length, Clock::kWall);
  bench_register(reads, key_reads, access.reads, Clock::kWall);
  bench_register(group + "/" + who, get_all, length, Clock::kWall);
  bench_target(group + "/" + who, {{echo, 1}, {reads, 1}}, 1.3);
  char note[200];
  std::snprintf(note, sizeof note,
                "get-all: %d reply bytes, %d station.ini reads and %d writes per request "
                "(counted with inotify)",
                length, access.reads, access.writes);
  bench_note(note);
}

void stop_tcp_benchmarks() {
  if (daemon_fd >= 0) close(daemon_fd);
  if (echo_fd >= 0) close(echo_fd);
  stop_child(daemon_pid);
  stop_child(echo_pid);
  daemon_fd = echo_fd = -1;
  daemon_pid = echo_pid = -1;
}
