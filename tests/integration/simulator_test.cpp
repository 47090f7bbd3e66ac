// The simulator as a program (its refusals: program_runs.scn): the fresh root's clock, the
// stand-in forwarder's queue, no process or queue left behind, and the send time-out.
#include <fcntl.h>
#include <poll.h>
#include <sys/msg.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "protocol/change_notice.h"
#include "support/sim_harness.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

void send_notice(int queue, const char* port) {
  ChangeNotice notice{kChangeNoticeType, {}};
  std::strcpy(notice.text, port);
  ASSERT_EQ(msgsnd(queue, &notice, sizeof notice.text, 0), 0) << std::strerror(errno);
}

TEST_F(SimulatorTest, OwnQueueAndDaemonGoWithItAndAQueueFoundStaysUnread) {
  // The fresh root (its bytes: fresh_root.scn) set the clock through the stand-ins only.
  std::string why;
  EXPECT_EQ(read_file(fresh_root_template(&why) + "/var/log/programs.log"),
            "date -s 2000.01.01-00:00:00\nsystime2rtc\n");
  ASSERT_TRUE(start_simulator({"--port", "4000"}, 4000));
  EXPECT_FALSE(ControlClient().connect(kEth0Address, kControlPort));
  int queue = msgget(kChangeNoticeKey, 0);
  ASSERT_GE(queue, 0) << "the simulator made no queue " << kChangeNoticeKey;
  send_notice(queue, "2");
  send_notice(queue, "1");
  EXPECT_TRUE(wait_for_text("var/log/forwarder.log", "2\n1\n"));
  EXPECT_EQ(sim_->stop(SIGTERM), 0) << sim_->err();
  EXPECT_EQ(msgget(kChangeNoticeKey, 0), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(tcp_listening(4000));  // the daemon went with it

  queue = msgget(kChangeNoticeKey, IPC_CREAT | IPC_EXCL | 0600);
  ASSERT_GE(queue, 0);
  ASSERT_TRUE(start_simulator());
  send_notice(queue, "3");
  EXPECT_TRUE(wait_for_text("var/log/forwarder.log", "3\n"));
  EXPECT_EQ(sim_->stop(SIGINT), 0) << sim_->err();
  EXPECT_EQ(msgget(kChangeNoticeKey, 0), queue);
  send_notice(queue, "4");
  std::this_thread::sleep_for(300ms);
  msqid_ds state{};
  ASSERT_EQ(msgctl(queue, IPC_STAT, &state), 0);
  EXPECT_EQ(state.msg_qnum, 1u);
  EXPECT_EQ(read_file(root_file("var/log/forwarder.log")).find('4'), std::string::npos);
  msgctl(queue, IPC_RMID, nullptr);

  ASSERT_TRUE(start_simulator());
  EXPECT_EQ(sim_->stop(SIGKILL), SIGKILL);  // a plain wait status: killed by the signal
  for (int i = 0; i < 250 && tcp_listening(kControlPort); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(tcp_listening(kControlPort));

  // Long EEPROM work counts its bytes on standard error when that is a terminal.
  std::string line = "script -qec '";
  for (const std::string& word :
       program_command("stationtool", {"--root", root(), "factory-initialize"}))
    line += word + " ";
  EXPECT_EQ(
      std::system((line + "' /dev/null | grep -q 'factory-initialize: [0-9]* EEPROM bytes written'")
                      .c_str()),
      0);
}

TEST_F(SimulatorTest, ClientThatStopsReadingIsDroppedAfterTheSendTimeOut) {
  // Small socket buffers in this namespace, so the daemon's send blocks after a few KB.
  for (const char* sysctl : {"tcp_rmem", "tcp_wmem"})
    write_file(std::string("/proc/sys/net/ipv4/") + sysctl, "4096 4096 4096");
  ASSERT_TRUE(start_simulator());
  ControlClient stuck, next;
  ASSERT_TRUE(stuck.connect(kEth0Address, kControlPort, 4096));
  EXPECT_EQ(stuck.read(2), kGreeting);
  // Requests (each earns an error reply) until nothing more is taken.
  std::string request;
  for (int i = 0; i < 146; ++i) request += frame(2, "\x01");
  fcntl(stuck.fd(), F_SETFL, O_NONBLOCK);
  for (auto progress = steady_clock::now(); steady_clock::now() - progress < 500ms;)
    if (::send(stuck.fd(), request.data(), request.size(), MSG_NOSIGNAL) > 0)
      progress = steady_clock::now();
  ASSERT_TRUE(next.connect(kLoopback));
  const auto waiting = steady_clock::now();
  EXPECT_EQ(next.read(2, 60000), kGreeting);  // 10 s per send that gives up, two at most
  EXPECT_GT(steady_clock::now() - waiting, 5s);
  pollfd dropped{stuck.fd(), POLLRDHUP, 0};  // its end of file or reset
  EXPECT_EQ(poll(&dropped, 1, kWaitMs), 1);
  EXPECT_TRUE(sim_->running());
}

}  // namespace
