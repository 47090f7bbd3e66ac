// Integration tests against the real simulator: a private network and IPC namespace per test,
// a copy of the fresh device root, the simulator's run (through the emulator on a cross
// build) and a raw client of the control protocol over real TCP.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/wire_format.h"
#include "support/temp_dir.h"

// The veth pair eth0/eth1 of the private namespace.
inline constexpr char kEth0Address[] = "10.77.0.1";
inline constexpr char kEth1Address[] = "10.77.1.1";
inline constexpr char kLoopback[] = "127.0.0.1";
// Generous for the daemon under qemu-ppc and ASan; only failures wait this long.
inline constexpr int kWaitMs = 20000;

// True while something listens on the TCP port in this namespace.
bool tcp_listening(uint16_t port);
// The emulator's words (STATION_EMULATOR), STATION_BIN_DIR/program, then args.
std::vector<std::string> program_command(const std::string& program,
                                         const std::vector<std::string>& args);
// A root fresh from manufacturing, factory initialisation and default export done
// (stationd-sim --prepare-only); built once per simulator binary. "" and the reason on failure.
std::string fresh_root_template(std::string* why);
// Copies a folder tree; links stay links, modes are kept.
bool copy_tree(const std::string& from, const std::string& to);

// One run of the simulator; standard output and error go to files in output_dir.
class Simulator {
 public:
  Simulator(std::string root, std::string output_dir);
  ~Simulator();  // ends a run still going (SIGTERM, then SIGKILL) and reaps it
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool start(const std::vector<std::string>& extra_args = {});
  // false when the simulator ended or the time ran out first.
  bool wait_listening(uint16_t port = kControlPort, int timeout_ms = 60000);
  // Signals and reaps: the wait status, or -1 when it had to be killed.
  int stop(int signal_number, int timeout_ms = kWaitMs);
  bool running();
  pid_t pid() const { return pid_; }
  std::string out() const;  // standard output so far
  std::string err() const;

 private:
  std::string root_, out_path_, err_path_;
  pid_t pid_ = -1;
  int status_ = -2;  // -2 while not reaped
};

// Runs a command with standard input from /dev/null: the wait status (-1 on time-out, after
// SIGKILL) and the outputs.
int run_to_end(const std::vector<std::string>& command, std::string* out, std::string* err,
               int timeout_ms = kWaitMs);

// A raw client of the control protocol over real TCP (TCP_NODELAY: each send leaves alone).
class ControlClient {
 public:
  ControlClient() = default;
  ~ControlClient() { close(); }
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  // receive_buffer > 0 sets SO_RCVBUF before connecting.
  bool connect(const char* address, uint16_t port = kControlPort, int receive_buffer = 0);
  bool send(const std::string& bytes);
  // Up to count bytes: fewer when the time runs out or the peer closes.
  std::string read(std::size_t count, int timeout_ms = kWaitMs);
  // Up to and including the first ending, or what came before the time-out or close.
  std::string read_until(const std::string& ending, int timeout_ms = kWaitMs);
  // True when nothing arrives within ms and the connection stays open.
  bool silent_for(int ms);
  // True when the peer closes (end of file or reset) within the time.
  bool closed_by_peer(int timeout_ms = kWaitMs);
  // Until the server end shows an empty receive queue: the daemon took every byte sent.
  bool wait_taken(int timeout_ms = kWaitMs);
  void close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  uint16_t server_port_ = 0, local_port_ = 0;
};

// IAC SB 44 code data IAC SE, and the replies the daemon builds.
std::string frame(int code, const std::string& data = "");
std::string reply(int code, const std::string& payload = "");  // code + 100
std::string error_reply(int code);                             // code 180, one byte
inline const std::string kDefaultLogin = "admin quillet";      // the default export's login

// A test with its own namespaces and copy of the fresh root; the test starts the simulator.
class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;  // expects a clean end on SIGTERM of a simulator still running
  bool start_simulator(const std::vector<std::string>& extra_args = {},
                       uint16_t port = kControlPort);
  const std::string& root() const { return root_; }
  std::string root_file(const std::string& name) const { return root_ + "/" + name; }
  // Waits until the file under the root holds the text.
  bool wait_for_text(const std::string& name, const std::string& text, int timeout_ms = kWaitMs);
  std::string ini() const { return read_file(root_file("mnt/jffs2/station.ini")); }
  std::string section(const std::string& name) const;  // its lines, header excluded
  // A connected client that got the greeting; with login, also logged in.
  std::unique_ptr<ControlClient> greeted_client(const char* address = kEth0Address,
                                                bool login = false);

  std::unique_ptr<TempDir> dir_;
  std::string root_;
  std::unique_ptr<Simulator> sim_;
};
