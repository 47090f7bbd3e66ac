// The simulator as a program (its refusals, queue and fresh root: program_runs.scn,
// notice_queue.scn, fresh_root.scn): a client that stops reading, and a kill.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "support/sim_harness.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

TEST_F(SimulatorTest, ClientThatStopsReadingIsDroppedAndAKilledSimulatorTakesItsDaemon) {
  // Small socket buffers in this namespace, so the daemon's send blocks after a few KB.
  for (const char* sysctl : {"tcp_rmem", "tcp_wmem"})
    write_file(std::string("/proc/sys/net/ipv4/") + sysctl, "4096 4096 4096");
  ASSERT_TRUE(start_simulator({"--port", "4000"}, 4000));
  EXPECT_FALSE(ControlClient().connect(kEth0Address, kControlPort));
  ControlClient stuck, next;
  ASSERT_TRUE(stuck.connect(kEth0Address, 4000, 4096));
  EXPECT_EQ(stuck.read(2), kGreeting);
  // Requests (each earns an error reply) until nothing more is taken.
  std::string request;
  for (int i = 0; i < 146; ++i) request += frame(2, "\x01");
  fcntl(stuck.fd(), F_SETFL, O_NONBLOCK);
  for (auto progress = steady_clock::now(); steady_clock::now() - progress < 500ms;)
    if (::send(stuck.fd(), request.data(), request.size(), MSG_NOSIGNAL) > 0)
      progress = steady_clock::now();
  ASSERT_TRUE(next.connect(kLoopback, 4000));
  const auto waiting = steady_clock::now();
  EXPECT_EQ(next.read(2, 60000), kGreeting);  // 10 s per send that gives up, two at most
  EXPECT_GT(steady_clock::now() - waiting, 5s);
  pollfd dropped{stuck.fd(), POLLRDHUP, 0};  // its end of file or reset
  EXPECT_EQ(poll(&dropped, 1, kWaitMs), 1);

  EXPECT_EQ(sim_->stop(SIGKILL), SIGKILL);  // a plain wait status: killed by the signal
  for (int i = 0; i < 250 && tcp_listening(4000); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(tcp_listening(4000));
}

}  // namespace
