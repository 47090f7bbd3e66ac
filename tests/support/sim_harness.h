// Integration tests against the real simulator. Owns the private network and IPC namespace
// of a test process, the fresh device root prepared once per build of the simulator and
// copied per test, starting and ending the simulator (through the emulator on a cross
// build), and a raw client of the control protocol over the system's TCP transport. Hides
// fork/exec, the file lock of the shared root and the kernel's socket table.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/wire_format.h"
#include "support/temp_dir.h"

// The veth pair of the private namespace: eth0 and eth1 with these addresses.
inline constexpr char kEth0Address[] = "10.77.0.1";
inline constexpr char kEth1Address[] = "10.77.1.1";
inline constexpr char kLoopback[] = "127.0.0.1";
// Generous enough for the daemon under qemu-ppc and ASan; only failures wait this long.
inline constexpr int kWaitMs = 20000;

// Moves this process into a new network and IPC namespace (as `unshare -n -i`), brings lo
// up and adds the veth pair eth0/eth1 with the addresses above. false, with the reason, when
// the namespaces cannot be had (not root, no veth support).
bool enter_private_namespaces(std::string* why);

// True while something listens on the TCP port in this namespace.
bool tcp_listening(uint16_t port);

// The simulator's command line: the emulator's words (STATION_EMULATOR) in front of
// STATION_BIN_DIR/stationd-sim, then args.
std::vector<std::string> simulator_command(const std::vector<std::string>& args);
// The same for any program built beside it (stationctl, stationtool).
std::vector<std::string> program_command(const std::string& program,
                                         const std::vector<std::string>& args);

// A device root fresh from manufacturing, the factory initialisation and the default export
// done (stationd-sim --prepare-only). Built once per simulator binary under a file lock in
// the build tree and reused while the binary's identity (size, time, inode) is unchanged.
// "" and the reason when it cannot be built.
std::string fresh_root_template(std::string* why);
// Copies a folder tree; links stay links, modes are kept.
bool copy_tree(const std::string& from, const std::string& to);

// One run of the simulator. Standard output and error go to files beside the root.
class Simulator {
 public:
  Simulator(std::string root, std::string output_dir);
  ~Simulator();  // ends a run still going (SIGTERM, then SIGKILL) and reaps it
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool start(const std::vector<std::string>& extra_args = {});
  // Waits until something listens on the TCP port in this namespace; false when the
  // simulator ended or the time ran out.
  bool wait_listening(uint16_t port = kControlPort, int timeout_ms = 60000);
  // Sends the signal and waits for the end: the wait status, or -1 when the process had to
  // be killed.
  int stop(int signal_number, int timeout_ms = kWaitMs);
  bool running();
  pid_t pid() const { return pid_; }
  std::string out() const;  // standard output so far
  std::string err() const;

 private:
  std::string root_, out_path_, err_path_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;  // the wait status once reaped; -1 when it had to be killed
};

// Runs a command to its end, standard input from /dev/null, the outputs collected; the wait
// status (or -1 on time-out, after SIGKILL).
int run_to_end(const std::vector<std::string>& command, std::string* out, std::string* err,
               int timeout_ms = kWaitMs);
// The same for the simulator (simulator_command(args)).
int run_simulator_to_end(const std::vector<std::string>& args, std::string* out, std::string* err,
                         int timeout_ms = kWaitMs);

// A raw client of the control protocol over real TCP.
class ControlClient {
 public:
  ControlClient() = default;
  ~ControlClient();
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  // receive_buffer > 0 sets SO_RCVBUF before connecting.
  bool connect(const char* address, uint16_t port = kControlPort, int receive_buffer = 0);
  bool send(const std::string& bytes);
  // Up to count bytes: fewer when the time runs out or the peer closes.
  std::string read(std::size_t count, int timeout_ms = kWaitMs);
  // Everything up to and including the first ending; what arrived so far when the time runs
  // out or the peer closes first.
  std::string read_until(const std::string& ending, int timeout_ms = kWaitMs);
  // True when nothing arrives within ms and the connection stays open.
  bool silent_for(int ms);
  // True when the peer closes (end of file or reset) within the time.
  bool closed_by_peer(int timeout_ms = kWaitMs);
  // Waits until the daemon has taken every byte this client sent: the server end of the
  // connection shows an empty receive queue in the kernel's socket table.
  bool wait_taken(int timeout_ms = kWaitMs);
  void close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  uint16_t server_port_ = 0;
  uint16_t local_port_ = 0;
};

// IAC SB 44 code data IAC SE, and the replies the daemon builds.
std::string frame(int code, const std::string& data = "");
std::string reply(int code, const std::string& payload = "");  // code + 100
std::string error_reply(int code);                             // code 180, one byte
inline const std::string kDefaultLogin = "admin quillet";      // the default export's login

// A test with its own namespaces and its own copy of the fresh root; the simulator is
// started by the test (after it changed the root, when it needs to).
class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the simulator on root() and waits until it listens.
  bool start_simulator(const std::vector<std::string>& extra_args = {},
                       uint16_t port = kControlPort);
  const std::string& root() const { return root_; }
  std::string root_file(const std::string& name) const { return root_ + "/" + name; }
  // Waits until the file under the root holds the text (logs are written by other
  // processes, some of them in the background).
  bool wait_for_text(const std::string& name, const std::string& text, int timeout_ms = kWaitMs);
  // station.ini under the root, whole, and the lines of one section (header excluded).
  std::string ini() const { return read_file(root_file("mnt/jffs2/station.ini")); }
  std::string section(const std::string& name) const;
  // A connected client that got the greeting; with login, also logged in.
  std::unique_ptr<ControlClient> greeted_client(const char* address = kEth0Address,
                                                bool login = false);

  std::unique_ptr<TempDir> dir_;
  std::string root_;
  std::unique_ptr<Simulator> sim_;
};
