// The control session of the real daemon over real TCP with more than one client, or a
// client that leaves or stops reading: one client at a time, and none can hold the daemon.
// (Greeting, activation and whole buffers are scenario files.)
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
