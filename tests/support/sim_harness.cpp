#include "support/sim_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <utility>

#include "client/tcp_transport.h"

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

long long now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool wait_until(const std::function<bool()>& done, int timeout_ms, int step_ms = 20) {
  for (const long long deadline = now_ms() + timeout_ms; !done();) {
    if (now_ms() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
  return true;
}

// fork and exec; standard input /dev/null, the outputs appended to the files.
pid_t spawn(const std::vector<std::string>& command, const std::string& out,
            const std::string& err) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t parent = getpid(), pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test killed by a CTest time-out takes its child along
  if (getppid() != parent) _exit(125);
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
  if (dup2(open(out.c_str(), flags, 0644), 1) != 1 || dup2(open(err.c_str(), flags, 0644), 2) != 2)
    _exit(126);
  execvp(argv[0], argv.data());
  _exit(127);
}

// The wait status, or -1 after SIGKILL and a reap when the time runs out.
int wait_end(pid_t pid, int timeout_ms) {
  int status = -1;
  if (wait_until([&] { return waitpid(pid, &status, WNOHANG) != 0; }, timeout_ms)) return status;
  return kill(pid, SIGKILL), waitpid(pid, nullptr, 0), -1;
}

// Whether a row of this namespace's TCP socket table (ports, state, receive queue) matches.
bool tcp_row(const std::function<bool(unsigned, unsigned, unsigned, unsigned long)>& match) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  unsigned local = 0, remote = 0, state = 0;
  unsigned long tx = 0, rx = 0;
  while (std::getline(in, line))  // the heading does not scan
    if (std::sscanf(line.c_str(), " %*d: %*x:%x %*x:%x %x %lx:%lx", &local, &remote, &state, &tx,
                    &rx) == 5 &&
        match(local, remote, state, rx))
      return true;
  return false;
}

}  // namespace

bool tcp_listening(uint16_t port) {
  return tcp_row([&](unsigned local, unsigned, unsigned state, unsigned long) {
    return local == port && state == 0x0A;  // TCP_LISTEN
  });
}

std::vector<std::string> program_command(const std::string& program,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> command;
  std::istringstream words(env("STATION_EMULATOR"));
  for (std::string word; words >> word;) command.push_back(word);
  command.push_back(env("STATION_BIN_DIR") + "/" + program);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::string fresh_root_template(std::string* why) {
  // One per simulator binary, named by its time; the first test to need it makes it.
  std::error_code ec;
  const std::string bin = env("STATION_BIN_DIR"), sim = bin + "/stationd-sim";
  const auto built = fs::last_write_time(sim, ec).time_since_epoch().count();
  const std::string base = bin + "/../sim-fresh-root-" + std::to_string(built);
  const std::string mine = base + "." + std::to_string(getpid());
  if (file_exists(base)) return base;
  std::string out, err;
  const int status = run_to_end(program_command("stationd-sim", {"--root", mine, "--prepare-only"}),
                                &out, &err, 600000);
  if (status != 0)
    return *why = sim + " --prepare-only: status " + std::to_string(status) + "\n" + err, "";
  fs::rename(mine, base, ec);  // unless a test beside this one was first
  fs::remove_all(mine, ec);
  return base;
}

bool copy_tree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  return !ec;
}

int run_to_end(const std::vector<std::string>& command, std::string* out, std::string* err,
               int timeout_ms) {
  TempDir scratch;
  const pid_t pid = spawn(command, scratch.file("out"), scratch.file("err"));
  const int status = pid < 0 ? -1 : wait_end(pid, timeout_ms);
  *out = read_file(scratch.file("out")), *err = read_file(scratch.file("err"));
  return status;
}

bool Simulator::start(const std::vector<std::string>& extra_args) {
  std::vector<std::string> args = {"--root", root_};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  status_ = -2;
  return (pid_ = spawn(program_command("stationd-sim", args), out_, err_)) > 0;
}

bool Simulator::running() {
  return pid_ > 0 && status_ == -2 && waitpid(pid_, &status_, WNOHANG) != pid_;
}

bool Simulator::wait_listening(uint16_t port, int timeout_ms) {
  return wait_until([&] { return !running() || tcp_listening(port); }, timeout_ms) && running();
}

int Simulator::stop(int signal_number, int timeout_ms) {
  if (pid_ > 0 && status_ == -2 && kill(pid_, signal_number) == 0)
    status_ = wait_end(pid_, timeout_ms);
  return pid_ > 0 ? status_ : -1;
}

bool ControlClient::connect(const char* address, uint16_t port, int receive_buffer) {
  close();
  std::string why;  // no_delay: otherwise a small send waits for an ACK and joins the next
  fd_ = tcp_open(address, port, {kWaitMs, 0, true, receive_buffer}, &why);
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return false;
  server_port_ = port;
  local_port_ = ntohs(sin.sin_port);
  return true;
}

bool ControlClient::send(const std::string& bytes) {
  return tcp_send_all(fd_, bytes.data(), bytes.size(), kWaitMs) == TcpStatus::kOk;
}

std::string ControlClient::read(std::size_t count, int timeout_ms) {
  std::vector<unsigned char> got;
  tcp_receive_until(fd_, &got, count, timeout_ms);
  return std::string(got.begin(), got.end());
}

std::string ControlClient::read_until(const std::string& ending, int timeout_ms) {
  std::string got, more = "-";
  const long long deadline = now_ms() + timeout_ms;
  while (!more.empty() && !got.ends_with(ending))
    got += more = read(1, static_cast<int>(std::max(0LL, deadline - now_ms())));
  return got;
}

bool ControlClient::silent_for(int ms) {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

bool ControlClient::wait_taken(int timeout_ms) {
  const auto taken = [&](unsigned local, unsigned remote, unsigned state, unsigned long rx) {
    return local == server_port_ && remote == local_port_ && state == 0x01 && rx == 0;
  };
  return wait_until([&] { return tcp_row(taken); }, timeout_ms, 5);
}

void ControlClient::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

void SimulatorTest::SetUp() {
  if (unshare(CLONE_NEWNET | CLONE_NEWIPC) != 0) GTEST_SKIP() << "unshare: " << strerror(errno);
  // The PC's own card may be called eth0 too; these exist only in the new namespace.
  if (std::system("ip link set lo up && ip link add eth0 type veth peer name eth1 &&"
                  " ip addr add 10.77.0.1/24 dev eth0 && ip addr add 10.77.1.1/24 dev eth1 &&"
                  " ip link set eth0 up && ip link set eth1 up") != 0)
    GTEST_SKIP() << "ip could not set up lo and the veth pair eth0/eth1";
  std::string why;
  const std::string fresh = fresh_root_template(&why);
  dir_ = std::make_unique<TempDir>();
  ASSERT_TRUE(!fresh.empty() && copy_tree(fresh, root_ = dir_->file("root"))) << why;
  for (const char* log : {"programs.log", "messages", "alertd.log", "forwarder.log"})
    fs::remove(root_ + "/var/log/" + log);  // each test starts from empty logs
}

void SimulatorTest::TearDown() {
  EXPECT_EQ(sim_ && sim_->running() ? sim_->stop(SIGTERM) : 0, 0) << "no clean end\n"
                                                                  << sim_->err();
  sim_.reset();
}

bool SimulatorTest::start_simulator(const std::vector<std::string>& extra_args, uint16_t port) {
  sim_ = std::make_unique<Simulator>(root_, dir_->path());
  if (sim_->start(extra_args) && sim_->wait_listening(port)) return true;
  ADD_FAILURE() << "no simulator on " << port << "\n" << sim_->out() << sim_->err();
  return false;
}

bool SimulatorTest::wait_for_text(const std::string& name, const std::string& text,
                                  int timeout_ms) {
  return wait_until([&] { return read_file(root_file(name)).find(text) != std::string::npos; },
                    timeout_ms);
}

std::string SimulatorTest::section(const std::string& name) const {
  const std::string text = "\n" + ini() + "[", header = "\n[" + name + "]\n";
  const std::size_t at = text.find(header), from = at + header.size();
  if (at == std::string::npos) return "(no section " + name + ")";
  return text.substr(from, text.find("\n[", from - 1) + 1 - from);
}

std::unique_ptr<ControlClient> SimulatorTest::greeted_client(const char* address, bool login) {
  auto client = std::make_unique<ControlClient>();
  EXPECT_TRUE(client->connect(address)) << address;
  EXPECT_EQ(client->read(2), kGreeting);
  EXPECT_TRUE(!login ||
              (client->send(frame(0, kDefaultLogin)) && client->read(7) == reply(0, "S")));
  return client;
}
