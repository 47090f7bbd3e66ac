// Integration tests against the real simulator (through the emulator on a cross build): own
// network and IPC namespaces, a copy of the fresh root, a raw control client over real TCP.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "protocol/wire_format.h"
#include "support/temp_dir.h"

inline constexpr char kEth0Address[] = "10.77.0.1";
inline constexpr char kEth1Address[] = "10.77.1.1";  // the namespace's veth pair
inline constexpr char kLoopback[] = "127.0.0.1";
inline constexpr int kWaitMs = 20000;  // for qemu-ppc and ASan; only failures wait this long

bool tcp_listening(uint16_t port);
// The emulator's words (STATION_EMULATOR), STATION_BIN_DIR/program, then args.
std::vector<std::string> program_command(const std::string& program,
                                         const std::vector<std::string>& args);
// A root fresh from stationd-sim --prepare-only, once per simulator. "" and why on failure.
std::string fresh_root_template(std::string* why);
bool copy_tree(const std::string& from, const std::string& to);
// Runs a command, standard input /dev/null: the wait status (-1 on time-out, after SIGKILL).
int run_to_end(const std::vector<std::string>& command, std::string* out, std::string* err,
               int timeout_ms = kWaitMs);

// One run of the simulator; its standard output and error go to files in output_dir.
class Simulator {
 public:
  Simulator(std::string root, const std::string& output_dir)
      : root_(std::move(root)), out_(output_dir + "/sim.out"), err_(output_dir + "/sim.err") {}
  ~Simulator() { stop(SIGTERM); }  // SIGKILL after kWaitMs
  Simulator(const Simulator&) = delete;
  bool start(const std::vector<std::string>& extra_args = {});
  bool wait_listening(uint16_t port = kControlPort, int timeout_ms = 60000);
  int stop(int signal_number, int timeout_ms = kWaitMs);  // the wait status; -1: killed
  bool running();
  pid_t pid() const { return pid_; }
  std::string out() const { return read_file(out_); }  // standard output so far
  std::string err() const { return read_file(err_); }

 private:
  std::string root_, out_, err_;
  pid_t pid_ = -1;
  int status_ = -2;  // -2 while not reaped
};

// A raw client of the control protocol over real TCP (TCP_NODELAY: each send leaves alone).
class ControlClient {
 public:
  ControlClient() = default;
  ~ControlClient() { close(); }
  ControlClient(const ControlClient&) = delete;
  bool connect(const char* address, uint16_t port = kControlPort, int receive_buffer = 0);
  bool send(const std::string& bytes);
  std::string read(std::size_t count, int timeout_ms = kWaitMs);  // fewer on time-out or close
  std::string read_until(const std::string& ending, int timeout_ms = kWaitMs);  // through it
  bool silent_for(int ms);  // nothing arrives within ms and the connection stays open
  bool wait_taken(int timeout_ms = kWaitMs);  // the daemon took every byte sent
  void close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  uint16_t server_port_ = 0, local_port_ = 0;
};

// IAC SB 44 code data IAC SE, and the daemon's replies.
inline std::string frame(int code, const std::string& data = "") {
  return std::string("\xFF\xFA\x2C") + static_cast<char>(code) + data + "\xFF\xF0";
}
inline std::string reply(int code, const std::string& data = "") { return frame(code + 100, data); }
inline std::string error_reply(int code) { return frame(180, std::string(1, char(code))); }
inline const std::string kDefaultLogin = "admin quillet";  // the default export's login

// A test with its own namespaces and copy of the fresh root; the test starts the simulator.
class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;  // expects a clean end on SIGTERM of a simulator still running
  bool start_simulator(const std::vector<std::string>& extra_args = {},
                       uint16_t port = kControlPort);
  const std::string& root() const { return root_; }
  std::string root_file(const std::string& name) const { return root_ + "/" + name; }
  bool wait_for_text(const std::string& name, const std::string& text, int timeout_ms = kWaitMs);
  std::string ini() const { return read_file(root_file("mnt/jffs2/station.ini")); }
  std::string section(const std::string& name) const;  // its lines, header excluded
  std::unique_ptr<ControlClient> greeted_client(const char* address = kEth0Address,
                                                bool login = false);  // and logged in

  std::unique_ptr<TempDir> dir_;
  std::string root_;
  std::unique_ptr<Simulator> sim_;
};
