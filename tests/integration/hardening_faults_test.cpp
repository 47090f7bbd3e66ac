// The real daemon serves on when station.ini or queue 1234 fail; the stores keep what got out.
#include <sched.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/change_notice.h"
#include "support/sim_harness.h"

namespace {

const std::string k9600("\0\0\x25\x80", 4), k300("\0\0\x01\x2C", 4);
const std::string k115200("\0\x01\xC2\0", 4), kQuery(4, '\0');

using DaemonFaultsTest = SimulatorTest;

TEST_F(DaemonFaultsTest, StationIniAndTheQueueFailingUnderTheRunningDaemon) {
  // Mounts made from here on are this test's alone; the simulator started afterwards shares them.
  ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
  ASSERT_TRUE(start_simulator({"--daemon-only"}));  // queue 1234 is left to the test
  auto client = greeted_client(kEth0Address, true);
  const auto ask = [&client](const std::string& request, std::size_t answer_size) {
    return client->send(request) ? client->read(answer_size) : "(not sent)";
  };
  const auto set_rate = [&ask](const std::string& rate) {
    EXPECT_EQ(ask(frame(1, rate) + frame(1, kQuery), 20), reply(1, rate) + reply(1, rate));
  };

  // No queue: each set says so and goes on; a query sends no notice.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ask(frame(1, k300), 10), reply(1, k300));
  EXPECT_EQ(ask(frame(1, kQuery), 10), reply(1, k300));
  EXPECT_NE(section("COM1").find("com_baud_rate=300\n"), std::string::npos) << ini();
  const int queue = msgget(1234, IPC_CREAT | IPC_EXCL | 0600);  // the key the daemon is given
  ASSERT_GE(queue, 0) << std::strerror(errno);

  // A one-page file on a one-page tmpfs: a write that grows it keeps what got out.
  std::string text = "[COM1]\ncom_baud_rate=9600\ncom_data_bit=8\n[COM2]\ncom_baud_rate=19200\n";
  text += "[PAD]\npad=" + std::string(4096 - text.size() - 11, 'p') + "\n";
  const std::string jffs2 = root_file("mnt/jffs2"), path = jffs2 + "/station.ini";
  ASSERT_EQ(mount("tmpfs", jffs2.c_str(), "tmpfs", 0, "size=4k"), 0) << std::strerror(errno);
  write_file(path, text);
  set_rate(k115200);
  std::string partial = std::string(text).replace(text.find("9600"), 4, "115200").substr(0, 4096);
  EXPECT_EQ(ini(), partial);
  ASSERT_EQ(mount(nullptr, jffs2.c_str(), nullptr, MS_REMOUNT, "size=64k"), 0);  // room again
  set_rate(k300);
  EXPECT_EQ(ini(), partial.replace(partial.find("115200"), 6, "300"));
  ASSERT_EQ(mount(nullptr, jffs2.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  set_rate(k9600);
  EXPECT_EQ(ini(), partial);  // read-only: left alone
  ASSERT_EQ(umount2(jffs2.c_str(), MNT_DETACH), 0);

  // Replaced with garbage (no '[', so the value written is the only one) or cut short.
  std::string garbage;
  for (int i = 0; i < 3000; ++i) garbage += static_cast<char>(1 + i * 7919 % 255);
  std::replace(garbage.begin(), garbage.end(), '[', '=');
  write_file(path, garbage + "\r\n=\x01[COM1");
  EXPECT_EQ(ask(frame(1, k300), 10), reply(1, k300));
  EXPECT_EQ(ini(), garbage + "\r\n=\x01[COM1\n[COM1]\ncom_baud_rate=300\n");
  write_file(path, text.substr(0, 20));
  EXPECT_EQ(ask(frame(3, "\x03") + frame(1, kQuery), 17), reply(3, "\x03") + reply(1, k300));
  EXPECT_EQ(ini(), "[COM1]\ncom_parity=Even\ncom_baud_rate");
  // Each of the five sets was announced: type 1, the port as text, zeros.
  ChangeNotice got{}, filler{7, "filler"};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(msgrcv(queue, &got, sizeof got.text, 0, IPC_NOWAIT), 260) << i;
    EXPECT_EQ(got.type, 1);
    EXPECT_EQ(std::string(got.text, 260), "1" + std::string(259, '\0'));
  }
  EXPECT_EQ(msgrcv(queue, &got, sizeof got.text, 0, IPC_NOWAIT), -1);  // and no more

  // A full queue: a new client's set is written, its answer waits behind the blocked notice.
  int filled = 0;
  while (msgsnd(queue, &filler, sizeof filler.text, IPC_NOWAIT) == 0) ++filled;
  ASSERT_TRUE(errno == EAGAIN && filled > 0) << std::strerror(errno);
  client.reset();  // one client at a time
  client = greeted_client(kEth0Address, true);
  ASSERT_TRUE(client->send(frame(1, k115200)));
  EXPECT_TRUE(wait_for_text("mnt/jffs2/station.ini", "com_baud_rate=115200\n"));
  EXPECT_TRUE(client->silent_for(1000));
  ASSERT_EQ(msgrcv(queue, &got, sizeof got.text, 7, IPC_NOWAIT), 260);  // a filler
  EXPECT_EQ(client->read(10), reply(1, k115200));
  ASSERT_EQ(msgrcv(queue, &got, sizeof got.text, 1, IPC_NOWAIT), 260);
  EXPECT_EQ(std::string(got.text, 260), "1" + std::string(259, '\0'));
  EXPECT_EQ(ask(frame(1, k9600), 10), reply(1, k9600));  // room now: no waiting
  const std::string out = sim_->out(), line = "server: can't get message queue 1\n";
  EXPECT_EQ(out.rfind(line), out.find(line + line) + line.size()) << out;  // the first two only
  EXPECT_EQ(msgctl(queue, IPC_RMID, nullptr), 0);
}

}  // namespace
