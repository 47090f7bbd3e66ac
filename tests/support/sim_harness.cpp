#include "support/sim_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "client/tcp_transport.h"

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Where the programs are and what runs them, from the test's environment (CTest sets both).
std::string bin_dir() { return env("STATION_BIN_DIR"); }
std::string emulator() { return env("STATION_EMULATOR"); }

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

long long now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// fork and exec with standard output and error sent to the files (or /dev/null).
pid_t spawn(const std::vector<std::string>& command, const std::string& out,
            const std::string& err) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // A test process that is killed (a CTest time-out) takes its simulator with it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(125);
  const int o = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int e = open(err.empty() ? "/dev/null" : err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int in = open("/dev/null", O_RDONLY);
  if (o < 0 || e < 0 || in < 0) _exit(126);
  dup2(in, 0), dup2(o, 1), dup2(e, 2);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Waits for the child; -1 (after SIGKILL and a reap) when the time runs out.
int wait_end(pid_t pid, int timeout_ms) {
  const long long deadline = now_ms() + timeout_ms;
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return -1;
    if (now_ms() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return -1;
    }
    pause_ms(20);
  }
}

// One row of the kernel's TCP socket table of this namespace: ports and state, receive queue.
struct TcpRow {
  unsigned local_port, remote_port, state;
  unsigned long rx_queue;
};

std::vector<TcpRow> tcp_table() {
  std::vector<TcpRow> rows;
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // heading
  while (std::getline(in, line)) {
    unsigned local_port = 0, remote_port = 0, state = 0;
    unsigned long tx = 0, rx = 0;
    if (std::sscanf(line.c_str(), " %*d: %*x:%x %*x:%x %x %lx:%lx", &local_port, &remote_port,
                    &state, &tx, &rx) == 5)
      rows.push_back({local_port, remote_port, state, rx});
  }
  return rows;
}

constexpr unsigned kTcpEstablished = 0x01, kTcpListen = 0x0A;

uint16_t local_port_of(int fd) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  return ntohs(sin.sin_port);
}

std::string identity_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  std::ostringstream id;
  id << st.st_size << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec << ' ' << st.st_ino;
  return id.str();
}

std::string build_fresh_root_template(std::string* why) {
  const std::string bin = bin_dir();
  const std::string identity = identity_of(bin + "/stationd-sim");
  if (bin.empty() || identity.empty()) {
    *why = "no simulator in STATION_BIN_DIR (" + bin + ")";
    return "";
  }
  const std::string base = fs::path(bin).parent_path().string() + "/sim-fresh-root";
  const std::string stamp = base + ".stamp";
  // The template is shared by the tests that CTest runs side by side: one builds, the
  // others wait on the lock and then find the stamp.
  const int lock = open((base + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    *why = errno_text(base + ".lock");
    if (lock >= 0) close(lock);
    return "";
  }
  std::string result = base;
  if (read_file(stamp) != identity || !file_exists(base + "/dev/i2c-0")) {
    std::error_code ec;
    fs::remove(stamp, ec);
    fs::remove_all(base, ec);
    std::string out, err;
    const int status = run_simulator_to_end({"--root", base, "--prepare-only"}, &out, &err, 600000);
    if (status != 0 || !file_exists(base + "/dev/i2c-0")) {
      *why = "stationd-sim --prepare-only failed (status " + std::to_string(status) + "): " + err;
      result = "";
    } else {
      write_file(stamp, identity);
    }
  }
  flock(lock, LOCK_UN);
  close(lock);
  return result;
}

}  // namespace

bool tcp_listening(uint16_t port) {
  for (const TcpRow& row : tcp_table())
    if (row.local_port == port && row.state == kTcpListen) return true;
  return false;
}

bool enter_private_namespaces(std::string* why) {
  if (unshare(CLONE_NEWNET | CLONE_NEWIPC) != 0) {
    *why = errno_text("unshare(CLONE_NEWNET | CLONE_NEWIPC)");
    return false;
  }
  // The PC's own card may be called eth0 too; these exist only in the new namespace.
  const int rc = std::system(
      "ip link set lo up && ip link add eth0 type veth peer name eth1 &&"
      " ip addr add 10.77.0.1/24 dev eth0 && ip addr add 10.77.1.1/24 dev eth1 &&"
      " ip link set eth0 up && ip link set eth1 up");
  if (rc != 0) {
    *why = "ip could not set up lo and the veth pair eth0/eth1";
    return false;
  }
  return true;
}

std::vector<std::string> program_command(const std::string& program,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> command;
  std::istringstream words(emulator());
  for (std::string word; words >> word;) command.push_back(word);
  command.push_back(bin_dir() + "/" + program);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::vector<std::string> simulator_command(const std::vector<std::string>& args) {
  return program_command("stationd-sim", args);
}

std::string fresh_root_template(std::string* why) {
  static std::string cached, failure;
  if (cached.empty() && failure.empty()) {
    cached = build_fresh_root_template(&failure);
    if (cached.empty() && failure.empty()) failure = "no template";
  }
  *why = failure;
  return cached;
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
  if (pid < 0) return -1;
  const int status = wait_end(pid, timeout_ms);
  *out = read_file(scratch.file("out"));
  *err = read_file(scratch.file("err"));
  return status;
}

int run_simulator_to_end(const std::vector<std::string>& args, std::string* out, std::string* err,
                         int timeout_ms) {
  return run_to_end(simulator_command(args), out, err, timeout_ms);
}

Simulator::Simulator(std::string root, std::string output_dir)
    : root_(std::move(root)),
      out_path_(output_dir + "/sim.out"),
      err_path_(output_dir + "/sim.err") {}

Simulator::~Simulator() {
  if (pid_ > 0 && !reaped_) stop(SIGTERM);
}

bool Simulator::start(const std::vector<std::string>& extra_args) {
  std::vector<std::string> args = {"--root", root_};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  pid_ = spawn(simulator_command(args), out_path_, err_path_);
  reaped_ = false;
  return pid_ > 0;
}

bool Simulator::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  reaped_ = true;
  status_ = status;
  return false;
}

bool Simulator::wait_listening(uint16_t port, int timeout_ms) {
  const long long deadline = now_ms() + timeout_ms;
  while (now_ms() < deadline && running()) {
    if (tcp_listening(port)) return true;
    pause_ms(20);
  }
  return false;
}

int Simulator::stop(int signal_number, int timeout_ms) {
  if (pid_ <= 0) return -1;
  if (!reaped_) {
    kill(pid_, signal_number);
    status_ = wait_end(pid_, timeout_ms);
    reaped_ = true;
  }
  return status_;
}

std::string Simulator::out() const { return read_file(out_path_); }
std::string Simulator::err() const { return read_file(err_path_); }

ControlClient::~ControlClient() { close(); }

bool ControlClient::connect(const char* address, uint16_t port, int receive_buffer) {
  close();
  TcpOptions options;
  options.timeout_ms = kWaitMs;
  options.receive_buffer = receive_buffer;
  // Each send leaves at once. Otherwise Nagle's rule holds a small send back while the one
  // before is unacknowledged (the daemon answers stray bytes with nothing, so its ACK is
  // delayed), and the held bytes go out joined with the next send: a test that splits a
  // frame over two sends would then see it whole.
  options.no_delay = true;
  std::string why;
  fd_ = tcp_open(address, port, options, &why);
  if (fd_ < 0) return false;
  server_port_ = port;
  local_port_ = local_port_of(fd_);
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
  std::string got;
  const long long deadline = now_ms() + timeout_ms;
  while (got.size() < ending.size() ||
         got.compare(got.size() - ending.size(), ending.size(), ending) != 0) {
    const long long left = deadline - now_ms();
    const std::string more = read(1, left > 0 ? static_cast<int>(left) : 0);
    if (more.empty()) break;
    got += more;
  }
  return got;
}

// The transport has no wait that leaves the bytes where they are, so this one polls.
bool ControlClient::silent_for(int ms) {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

bool ControlClient::closed_by_peer(int timeout_ms) {
  const long long deadline = now_ms() + timeout_ms;
  std::vector<unsigned char> dropped;  // whatever was still on its way
  for (;;) {
    const long long left = deadline - now_ms();
    if (left <= 0) return false;
    dropped.clear();
    const TcpStatus status = tcp_receive(fd_, &dropped, 4096, static_cast<int>(left));
    if (status == TcpStatus::kTimedOut) return false;
    if (status != TcpStatus::kOk) return true;  // end of file, reset or another failure
  }
}

bool ControlClient::wait_taken(int timeout_ms) {
  const long long deadline = now_ms() + timeout_ms;
  while (now_ms() < deadline) {
    for (const TcpRow& row : tcp_table())
      if (row.local_port == server_port_ && row.remote_port == local_port_ &&
          row.state == kTcpEstablished && row.rx_queue == 0)
        return true;
    pause_ms(5);
  }
  return false;
}

void ControlClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string frame(int code, const std::string& data) {
  return std::string("\xFF\xFA\x2C") + static_cast<char>(code) + data + "\xFF\xF0";
}

std::string reply(int code, const std::string& payload) { return frame(code + 100, payload); }

std::string error_reply(int code) { return frame(180, std::string(1, static_cast<char>(code))); }

void SimulatorTest::SetUp() {
  std::string why;
  if (!enter_private_namespaces(&why)) GTEST_SKIP() << "no private namespaces: " << why;
  const std::string fresh = fresh_root_template(&why);
  ASSERT_FALSE(fresh.empty()) << why;
  dir_ = std::make_unique<TempDir>();
  root_ = dir_->file("root");
  ASSERT_TRUE(copy_tree(fresh, root_));
  // Each test starts from empty logs; the template's own records stay in the template.
  std::error_code ec;
  for (const char* log : {"programs.log", "messages", "alertd.log", "forwarder.log"})
    fs::remove(root_ + "/var/log/" + log, ec);
}

void SimulatorTest::TearDown() {
  if (sim_ && sim_->running()) {
    const int status = sim_->stop(SIGTERM);
    EXPECT_EQ(status, 0) << "the simulator did not end cleanly on SIGTERM\n" << sim_->err();
  }
  sim_.reset();
}

bool SimulatorTest::start_simulator(const std::vector<std::string>& extra_args, uint16_t port) {
  sim_ = std::make_unique<Simulator>(root_, dir_->path());
  if (!sim_->start(extra_args)) return false;
  if (sim_->wait_listening(port)) return true;
  ADD_FAILURE() << "the simulator does not listen on " << port << "\nstdout:\n"
                << sim_->out() << "stderr:\n"
                << sim_->err();
  return false;
}

bool SimulatorTest::wait_for_text(const std::string& name, const std::string& text,
                                  int timeout_ms) {
  const long long deadline = now_ms() + timeout_ms;
  for (;;) {
    if (read_file(root_file(name)).find(text) != std::string::npos) return true;
    if (now_ms() > deadline) return false;
    pause_ms(20);
  }
}

std::string SimulatorTest::section(const std::string& name) const {
  const std::string text = "\n" + ini();
  const std::string header = "\n[" + name + "]\n";
  std::size_t at = text.find(header);
  if (at == std::string::npos) return "(no section " + name + ")";
  at += header.size();
  const std::size_t end = text.find("\n[", at - 1);
  return text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
}

std::unique_ptr<ControlClient> SimulatorTest::greeted_client(const char* address, bool login) {
  auto client = std::make_unique<ControlClient>();
  EXPECT_TRUE(client->connect(address)) << address;
  EXPECT_EQ(client->read(2), kGreeting);
  if (login) {
    EXPECT_TRUE(client->send(frame(0, kDefaultLogin)));
    EXPECT_EQ(client->read(7), reply(0, "S"));
  }
  return client;
}
