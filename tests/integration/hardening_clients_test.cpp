// The real daemon against misbehaving clients (random bytes: the dispatcher's fuzzer).
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "support/sim_harness.h"

namespace {

const std::string k300Baud("\0\0\x01\x2C", 4);

void leave_with_reset(ControlClient* client) {
  const linger reset{1, 0};
  setsockopt(client->fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  client->close();
}

using MisbehavingClientsTest = SimulatorTest;

TEST_F(MisbehavingClientsTest, CutFramesAndLeavingClientsLeaveTheDaemonWhole) {
  ASSERT_TRUE(start_simulator({"--daemon-only"}));  // its only child is the daemon
  const std::string task = std::to_string(sim_->pid()), ini_before = ini();
  std::string daemon;
  std::ifstream("/proc/" + task + "/task/" + task + "/children") >> daemon;
  const auto descriptors_and_pages = [&daemon] {  // of the daemon
    long size = 0, resident = 0;
    std::ifstream("/proc/" + daemon + "/statm") >> size >> resident;
    const std::filesystem::directory_iterator fds("/proc/" + daemon + "/fd");
    return std::pair(std::distance(fds, std::filesystem::directory_iterator()), resident);
  };
  // Parts of a frame cut anywhere are never joined: error 255 each before a login, then nothing.
  const std::string whole = frame(1, k300Baud);
  auto client = greeted_client(kLoopback);
  ASSERT_TRUE(client->send(frame(97)));
  for (int logged_in = 0; logged_in < 2; ++logged_in) {
    for (size_t cut = 1; cut < whole.size(); ++cut) {
      ASSERT_TRUE(client->send(whole.substr(0, cut)) && client->wait_taken());
      ASSERT_TRUE(client->send(whole.substr(cut)) && client->wait_taken());
    }
    if (logged_in) break;
    std::string expected = error_reply(97);
    for (size_t part = 2; part < 2 * whole.size(); ++part) expected += error_reply(255);
    EXPECT_EQ(client->read(expected.size()), expected);
    ASSERT_TRUE(client->send(frame(0, kDefaultLogin)));
    EXPECT_EQ(client->read(7), reply(0, "S"));
  }
  EXPECT_EQ(client->read(100, 300), "");
  client.reset();

  // Clients leaving mid-answer: with the request unread, read, or partly answered.
  std::string request;  // 1022 bytes, and as many of answer
  for (int i = 0; i < 146; ++i) request += frame(1, "\x01");
  for (int way = 0; way < 3; ++way) {
    client = greeted_client();
    ASSERT_TRUE(client->send(request));
    EXPECT_TRUE(way != 1 || client->wait_taken());
    EXPECT_TRUE(way != 2 || client->read(100).size() == 100u);
    leave_with_reset(client.get());
  }
  // Thousands of connections: a third leave before the greeting, a third after, a third reset.
  const auto connect_many = [](int n) {
    for (int i = 0; i < n; ++i) {
      ControlClient client;
      ASSERT_TRUE(client.connect(kLoopback)) << i;
      EXPECT_TRUE(i % 3 == 0 || client.read(2) == kGreeting) << i;
      if (i % 3 == 2) leave_with_reset(&client);
    }
  };
  connect_many(200);  // the allocator and the emulator's code cache settle first
  // Measured while a greeted client is served: the daemon is done with all before it.
  client = greeted_client(kLoopback);
  const auto [fds_before, pages_before] = descriptors_and_pages();
  client.reset();
  connect_many(10000);
  client = greeted_client(kLoopback);
  const auto [fds_after, pages_after] = descriptors_and_pages();
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_LE(pages_after, pages_before);
  client.reset();

  EXPECT_EQ(ini(), ini_before);  // nothing was written; a new client still logs in
  greeted_client(kEth0Address, true);
}

}  // namespace
