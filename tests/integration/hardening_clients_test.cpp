// The real daemon against clients that misbehave: random bytes, frames cut anywhere, buffers
// of 1024 bytes that end inside a frame, clients that leave mid-answer, and thousands of
// short connections. After each the daemon still runs, holds no more descriptors or memory
// than before, and serves a correct client byte for byte.
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/sim_harness.h"

namespace {

const std::string k300Baud("\0\0\x01\x2C", 4);

int fd_count(pid_t pid) {
  std::error_code ec;
  int n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       it != std::filesystem::directory_iterator(); ++it)
    ++n;
  return ec ? -1 : n;
}

long rss_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void leave_with_reset(ControlClient* client) {
  const linger reset{1, 0};
  setsockopt(client->fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  client->close();
}

class MisbehavingClientsTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(start_simulator());
    ini_before_ = ini();
  }
  // Nothing was written, and a new client logs in and sets 300 baud: the exact reply, and
  // station.ini holds it. The test's own clients must be gone: one client at a time.
  void expect_served() {
    EXPECT_EQ(ini(), ini_before_);
    ASSERT_TRUE(sim_->running());
    auto client = greeted_client(kEth0Address, true);
    ASSERT_TRUE(client->send(frame(1, k300Baud)));
    EXPECT_EQ(client->read(10), reply(1, k300Baud));
    EXPECT_NE(section("COM1").find("com_baud_rate=300\n"), std::string::npos) << ini();
  }
  std::string ini_before_;
};

TEST_F(MisbehavingClientsTest, RandomBytesGetOnlyWholeErrorRepliesBeforeLogin) {
  std::mt19937 random(20261206);
  for (int connection = 0; connection < 30; ++connection) {
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
    ASSERT_EQ(answer.size() % 7, 0u) << connection;
    for (size_t at = 0; at < answer.size(); at += 7)
      EXPECT_EQ(answer.substr(at, 7), error_reply(static_cast<unsigned char>(answer[at + 4])));
    if (connection % 3 == 0) leave_with_reset(client.get());
  }
  expect_served();
}

// Each part of a frame cut anywhere holds no frame: before a login each earns the error reply
// naming 255, after it nothing. Buffers of 1024 bytes ending inside a frame lose that frame.
TEST_F(MisbehavingClientsTest, FramesCutAnywhereAreNeverJoined) {
  const std::string whole = frame(1, k300Baud);
  auto client = greeted_client(kLoopback);
  const auto send_taken = [&](const std::string& part) {
    ASSERT_TRUE(client->send(part));
    ASSERT_TRUE(client->wait_taken());
  };
  ASSERT_TRUE(client->send(frame(97)));
  for (int logged_in = 0; logged_in < 2; ++logged_in) {
    for (size_t cut = 1; cut < whole.size(); ++cut) {
      send_taken(whole.substr(0, cut));
      send_taken(whole.substr(cut));
    }
    if (logged_in) break;
    std::string expected = error_reply(97);
    for (size_t part = 2; part < 2 * whole.size(); ++part) expected += error_reply(255);
    EXPECT_EQ(client->read(expected.size()), expected);
    ASSERT_TRUE(client->send(frame(0, kDefaultLogin)));
    EXPECT_EQ(client->read(7), reply(0, "S"));
  }
  // A head whose data run to the end; code-97 frames and a set cut short; IAC SB over and
  // over; a frame whose IAC SE is cut in two. Each is followed by the lost tail alone.
  std::string cut_tail;
  while (cut_tail.size() + 6 <= 1020) cut_tail += frame(97);
  cut_tail += whole.substr(0, 1024 - cut_tail.size());
  std::string heads;
  while (heads.size() < 1024) heads += "\xFF\xFA";
  for (const std::string& buffer :
       {"\xFF\xFA\x2C\x01" + std::string(1020, '\x25'), cut_tail, heads,
        frame(97, std::string(1024 - 11, 'q')) + "\xFF\xFA\x2C\x01\xFF"}) {
    ASSERT_EQ(buffer.size(), 1024u);
    send_taken(buffer);
    send_taken("\xF0");
  }
  EXPECT_EQ(client->read(100, 300), "");
  client.reset();
  expect_served();
}

TEST_F(MisbehavingClientsTest, ClientsLeavingMidAnswerOrInThousandsLeaveNothingBehind) {
  std::string request;  // 1022 bytes, and as many of answer
  for (int i = 0; i < 146; ++i) request += frame(1, "\x01");
  for (int way = 0; way < 3; ++way) {
    auto client = greeted_client();
    ASSERT_TRUE(client->send(request));
    const bool taken = way != 1 || client->wait_taken();
    EXPECT_TRUE(taken && (way != 2 || client->read(100).size() == 100u)) << way;
    leave_with_reset(client.get());
  }
  // The daemon is the simulator's child that is not the forwarding stand-in: the one with
  // more descriptors (its listening socket).
  const std::string task = std::to_string(sim_->pid());
  std::ifstream children("/proc/" + task + "/task/" + task + "/children");
  pid_t daemon = -1;
  for (pid_t pid; children >> pid;)
    if (daemon < 0 || fd_count(pid) > fd_count(daemon)) daemon = pid;
  const auto connect_many = [](int n) {
    for (int i = 0; i < n; ++i) {  // a third leave before the greeting, a third after it,
      ControlClient client;        // a third with a reset
      ASSERT_TRUE(client.connect(kLoopback)) << i;
      EXPECT_TRUE(i % 3 == 0 || client.read(2) == kGreeting) << i;
      if (i % 3 == 2) leave_with_reset(&client);
    }
  };
  connect_many(200);  // the allocator and the emulator's code cache settle first
  // Measured while a greeted client is served: the daemon is done with every connection
  // before it, and holds this one's socket both times.
  auto probe = greeted_client(kLoopback);
  const int fds_before = fd_count(daemon);
  const long rss_before = rss_kb(daemon);
  probe.reset();
  connect_many(10000);
  probe = greeted_client(kLoopback);
  EXPECT_EQ(fd_count(daemon), fds_before);
  EXPECT_LE(rss_kb(daemon), rss_before);
  probe.reset();
  expect_served();
}

}  // namespace
