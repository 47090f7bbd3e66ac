// The control session of the real daemon over real TCP: greeting, activation by IAC SB,
// whole buffers, one client at a time, and clients that misbehave.
#include <fcntl.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "support/sim_harness.h"

namespace {

// count frames of one code, each with one data byte; before login each earns a 7-byte
// error reply.
std::string frames(int code, int count) {
  std::string all;
  for (int i = 0; i < count; ++i) all += frame(code, "\x01");
  return all;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(SimulatorTest, GreetsEachClientAndDropsDataUntilABufferBeginsWithIacSb) {
  ASSERT_TRUE(start_simulator());
  for (const char* address : {kEth0Address, kLoopback}) {
    SCOPED_TRACE(address);
    ControlClient client;
    ASSERT_TRUE(client.connect(address));
    EXPECT_EQ(client.read(2), kGreeting);
    for (const std::string& early : {std::string("hello"), std::string("\xFF")}) {
      ASSERT_TRUE(client.send(early));
      ASSERT_TRUE(client.wait_taken());
      EXPECT_TRUE(client.silent_for(200));
    }
    ASSERT_TRUE(client.send(frame(3, "\x01")));
    EXPECT_EQ(client.read(7), error_reply(3));
    // Active now: a buffer with stray bytes before its frame is served too. The scan after
    // the frame sees only the frame's last two bytes, finds no frame and ends the buffer.
    ASSERT_TRUE(client.send("zz" + frame(4, "\x01")));
    EXPECT_EQ(client.read(14), error_reply(4) + error_reply(255));
  }
}

TEST_F(SimulatorTest, BufferOf1024BytesIsDispatchedWholeAndSplitFramesAreNotJoined) {
  ASSERT_TRUE(start_simulator());
  auto client = greeted_client(kEth0Address, true);
  // Code 97 is accepted without a reply; its data pads the buffer so that the login frame
  // ends on the 1024th byte.
  const std::string login = frame(0, "quillet");
  const std::string exact = frame(97, std::string(1024 - 6 - login.size(), 'p')) + login;
  ASSERT_EQ(exact.size(), 1024u);
  ASSERT_TRUE(client->send(exact));
  EXPECT_EQ(client->read(7), reply(0, "S"));
  EXPECT_TRUE(client->silent_for(300));
  // One byte more: the login frame's tail falls into the next receive, so neither part holds
  // a whole frame and nothing is answered.
  ASSERT_TRUE(client->send("p" + exact));
  ASSERT_TRUE(client->wait_taken());
  EXPECT_TRUE(client->silent_for(300));
  ASSERT_TRUE(client->send(login));
  EXPECT_EQ(client->read(7), reply(0, "S"));
  EXPECT_EQ(occurrences(sim_->out(), "Fetch command error\n"), 2u);
}

TEST_F(SimulatorTest, SecondClientWaitsInTheBacklogAndStartsAfresh) {
  ASSERT_TRUE(start_simulator());
  auto first = greeted_client(kEth0Address, true);
  ControlClient second;
  ASSERT_TRUE(second.connect(kLoopback));  // the kernel completes it; the daemon waits
  EXPECT_TRUE(second.silent_for(500));
  ASSERT_TRUE(first->send(frame(97) + frame(0, "quillet")));  // still served
  EXPECT_EQ(first->read(7), reply(0, "S"));
  first->close();
  EXPECT_EQ(second.read(2), kGreeting);
  // The new connection is neither active nor logged in.
  ASSERT_TRUE(second.send("x" + frame(97)));
  ASSERT_TRUE(second.wait_taken());
  EXPECT_TRUE(second.silent_for(200));
  ASSERT_TRUE(second.send(frame(97)));
  EXPECT_EQ(second.read(7), error_reply(97));
}

TEST_F(SimulatorTest, ClientsLeavingMidAnswerDoNotHurtTheDaemon) {
  ASSERT_TRUE(start_simulator());
  const std::string request = frames(1, 146);  // 1022 bytes, 1022 bytes of answer
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    auto client = greeted_client();
    ASSERT_TRUE(client->send(request));
    if (way == 1) {
      ASSERT_TRUE(client->wait_taken());
    } else if (way == 2) {
      EXPECT_EQ(client->read(100).size(), 100u);
    }
    const linger reset{1, 0};  // close with a reset, not a polite end
    setsockopt(client->fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    client->close();
  }
  auto client = greeted_client(kEth0Address, true);
  EXPECT_TRUE(sim_->running());
}

TEST_F(SimulatorTest, ClientThatStopsReadingIsDroppedAfterTheSendTimeOut) {
  // Small socket buffers in this namespace, so the daemon's send blocks after a few KB.
  for (const char* sysctl : {"tcp_rmem", "tcp_wmem"})
    write_file(std::string("/proc/sys/net/ipv4/") + sysctl, "4096 4096 4096");
  ASSERT_TRUE(start_simulator());
  ControlClient stuck;
  ASSERT_TRUE(stuck.connect(kEth0Address, kControlPort, 4096));
  EXPECT_EQ(stuck.read(2), kGreeting);
  // Requests until nothing more is taken: the daemon sits in a send that cannot finish.
  const std::string request = frames(2, 146);
  fcntl(stuck.fd(), F_SETFL, O_NONBLOCK);
  auto last_progress = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - last_progress < std::chrono::milliseconds(500)) {
    if (::send(stuck.fd(), request.data(), request.size(), MSG_NOSIGNAL) > 0)
      last_progress = std::chrono::steady_clock::now();
  }
  ControlClient next;
  ASSERT_TRUE(next.connect(kLoopback));
  const auto waiting = std::chrono::steady_clock::now();
  EXPECT_EQ(next.read(2, 60000), kGreeting);  // 10 s per send that gives up, two at most
  const auto waited = std::chrono::steady_clock::now() - waiting;
  EXPECT_GT(waited, std::chrono::seconds(5));
  fcntl(stuck.fd(), F_SETFL, 0);
  EXPECT_TRUE(stuck.closed_by_peer());
  EXPECT_TRUE(sim_->running());
}

}  // namespace
