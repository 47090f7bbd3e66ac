// The real daemon against clients that misbehave: random bytes, frames cut in two, buffers
// of 1024 bytes that end inside a frame, and thousands of short connections. After each the
// daemon must still run, hold no more descriptors or memory than before, and serve a
// correct client byte for byte. (A client that resets mid-answer is in session_test.cpp.)
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/sim_harness.h"

namespace {

const std::string k300Baud("\0\0\x01\x2C", 4);

// Open descriptors of a process; with sockets, also true when one of them is a socket.
int fd_count(pid_t pid, bool* has_socket = nullptr) {
  namespace fs = std::filesystem;
  std::error_code ec, link_ec;
  int n = 0;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    ++n;
    if (has_socket && fs::read_symlink(fd.path(), link_ec).string().rfind("socket:", 0) == 0)
      *has_socket = true;
  }
  return ec ? -1 : n;
}

long rss_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// The daemon is the simulator's child that holds a socket (the other child, the forwarding
// stand-in, holds none).
pid_t daemon_pid(pid_t simulator) {
  const std::string task = std::to_string(simulator);
  std::ifstream children("/proc/" + task + "/task/" + task + "/children");
  for (pid_t pid; children >> pid;) {
    bool has_socket = false;
    if (fd_count(pid, &has_socket) > 0 && has_socket) return pid;
  }
  return -1;
}

class MisbehavingClientsTest : public SimulatorTest {
 protected:
  // A new client logs in and sets 300 baud: the exact reply, and station.ini holds it. The
  // caller's clients must be gone: the daemon serves one at a time.
  void expect_served() {
    ASSERT_TRUE(sim_->running());
    auto client = greeted_client(kEth0Address, true);
    ASSERT_TRUE(client->send(frame(1, k300Baud)));
    EXPECT_EQ(client->read(10), reply(1, k300Baud));
    EXPECT_NE(section("COM1").find("com_baud_rate=300\n"), std::string::npos) << ini();
  }
};

TEST_F(MisbehavingClientsTest, RandomBytesGetOnlyWholeErrorRepliesBeforeLogin) {
  ASSERT_TRUE(start_simulator());
  std::mt19937 random(20261206);
  const std::string before = ini();
  for (int connection = 0; connection < 30; ++connection) {
    SCOPED_TRACE(connection);
    auto client = greeted_client(kLoopback);
    // The first buffer may not activate the connection; a frame of code 97 does, and its
    // error reply closes what this connection is owed.
    for (int buffer = 0; buffer < 5; ++buffer) {
      std::string junk(1 + random() % 1024, '\0');
      for (char& c : junk) c = static_cast<char>(random());
      if (random() % 2) junk.replace(0, 3, "\xFF\xFA\x2C");
      if (junk.size() > 3 && junk[3] == 0) junk[3] = 1;  // no login: no alert, no shell
      ASSERT_TRUE(client->send(junk));
      ASSERT_TRUE(client->wait_taken());  // one buffer per send, nothing joined
    }
    ASSERT_TRUE(client->send(frame(97)));
    const std::string answer = client->read_until(error_reply(97));
    ASSERT_EQ(answer.size() % 7, 0u) << answer.size();
    for (size_t at = 0; at < answer.size(); at += 7) {
      std::string unit = answer.substr(at, 7);
      EXPECT_EQ(unit, error_reply(static_cast<unsigned char>(unit[4]))) << at;
    }
    if (connection % 3 == 0) {  // some leave with a reset
      const linger reset{1, 0};
      setsockopt(client->fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
  }
  EXPECT_EQ(ini(), before);
  expect_served();
}

TEST_F(MisbehavingClientsTest, FrameSplitAtEveryPositionIsNeverJoined) {
  ASSERT_TRUE(start_simulator());
  const std::string whole = frame(1, k300Baud);
  const std::string before = ini();
  // Not logged in: each part holds no frame and earns the error reply carrying 255.
  auto client = greeted_client(kLoopback);
  const auto send_every_split = [&] {
    for (size_t cut = 1; cut < whole.size(); ++cut) {
      for (const std::string& part : {whole.substr(0, cut), whole.substr(cut)}) {
        ASSERT_TRUE(client->send(part));
        ASSERT_TRUE(client->wait_taken());
      }
    }
  };
  ASSERT_TRUE(client->send(frame(97)));
  send_every_split();
  std::string expected = error_reply(97);
  for (size_t part = 2; part < 2 * whole.size(); ++part) expected += error_reply(255);
  EXPECT_EQ(client->read(expected.size()), expected);
  // Logged in: the parts are stray bytes, answered with nothing; the whole frame after them
  // gets the one reply, and only it wrote station.ini.
  ASSERT_TRUE(client->send(frame(0, kDefaultLogin)));
  EXPECT_EQ(client->read(7), reply(0, "S"));
  send_every_split();
  EXPECT_EQ(ini(), before);
  ASSERT_TRUE(client->send(whole));
  EXPECT_EQ(client->read(10), reply(1, k300Baud));
  EXPECT_EQ(client->read(100, 300), "");
  client->close();
  expect_served();
}

TEST_F(MisbehavingClientsTest, BuffersOf1024BytesEndingInsideAFrameAreDropped) {
  ASSERT_TRUE(start_simulator());
  const std::string before = ini();
  const std::string set = frame(1, k300Baud);
  // A frame head whose data runs to the end; code-97 frames and then a set cut short; IAC SB
  // over and over; a frame whose IAC SE is cut in two.
  const std::string open_head = "\xFF\xFA\x2C\x01" + std::string(1020, '\x25');
  std::string cut_tail;
  while (cut_tail.size() + 6 <= 1020) cut_tail += frame(97);
  cut_tail += set.substr(0, 1024 - cut_tail.size());
  std::string heads;
  while (heads.size() < 1024) heads += "\xFF\xFA";
  const std::string split_se = frame(97, std::string(1024 - 11, 'q')) + "\xFF\xFA\x2C\x01\xFF";
  auto client = greeted_client(kLoopback, true);
  for (const std::string& buffer : {open_head, cut_tail, heads, split_se}) {
    ASSERT_EQ(buffer.size(), 1024u);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(client->send(buffer));
      ASSERT_TRUE(client->wait_taken());
      ASSERT_TRUE(client->send("\xF0"));  // the lost tail of the frame, alone
      ASSERT_TRUE(client->wait_taken());
    }
  }
  EXPECT_EQ(ini(), before);
  ASSERT_TRUE(client->send(set));
  EXPECT_EQ(client->read(10), reply(1, k300Baud));  // nothing came before it
  client->close();
  expect_served();
}

TEST_F(MisbehavingClientsTest, ShortConnectionsLeaveNoDescriptorsAndNoMemoryBehind) {
  ASSERT_TRUE(start_simulator());
  const pid_t daemon = daemon_pid(sim_->pid());
  ASSERT_GT(daemon, 0);
  const int count = 10000;
  auto connect_many = [](int n) {
    for (int i = 0; i < n; ++i) {
      ControlClient client;
      ASSERT_TRUE(client.connect(kLoopback)) << i;
      // A third leave before the greeting, a third after it, a third with a reset.
      if (i % 3 != 0) {
        ASSERT_EQ(client.read(2), kGreeting) << i;
      }
      if (i % 3 == 2) {
        const linger reset{1, 0};
        setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      }
    }
  };
  connect_many(200);  // the allocator and the emulator's code cache settle first
  // Measured while a greeted client is being served: the daemon has finished with every
  // connection before it, and holds this one's socket both times.
  auto probe = greeted_client(kLoopback);
  const int fds_before = fd_count(daemon);
  const long rss_before = rss_kb(daemon);
  probe.reset();
  const auto started = std::chrono::steady_clock::now();
  connect_many(count);
  probe = greeted_client(kLoopback);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const int fds_after = fd_count(daemon);
  const long rss_after = rss_kb(daemon);
  probe.reset();
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_LE(rss_after, rss_before);
  std::printf("%d connections in %.1f s; daemon %d fds, %ld kB resident before, %ld kB after\n",
              count, seconds, fds_before, rss_before, rss_after);
  expect_served();
}

}  // namespace
