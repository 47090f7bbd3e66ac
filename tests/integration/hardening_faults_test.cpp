// The real daemon when its surroundings fail: station.ini on a read-only or full file
// system, replaced or cut short while the daemon runs, and message queue 1234 missing or
// full. The daemon keeps serving, its replies carry the new values (the writers' results
// are not looked at), and the stores hold what a failed or refused write leaves.
#include <sched.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "protocol/change_notice.h"
#include "support/sim_harness.h"

namespace {

constexpr char kIni[] = "[COM1]\ncom_baud_rate=9600\ncom_data_bit=8\n[COM2]\ncom_baud_rate=19200\n";
const std::string k9600("\0\0\x25\x80", 4), k300("\0\0\x01\x2C", 4);
const std::string k115200("\0\x01\xC2\0", 4), kQuery(4, '\0');

class DaemonFaultsTest : public SimulatorTest {
 protected:
  // Starts the simulator on this station.ini, with a logged-in client on eth0.
  void start(const std::string& station_ini) {
    write_file(root_file("mnt/jffs2/station.ini"), station_ini);
    ASSERT_TRUE(start_simulator());
    client_ = greeted_client(kEth0Address, true);
  }
  std::string ask(const std::string& request, std::size_t answer_size) {
    EXPECT_TRUE(client_->send(request));
    return client_->read(answer_size);
  }
  // Every notice since the start, one port a line; a code-99 set goes last, so its notice
  // proves the earlier ones were taken.
  void expect_notices(const std::string& lines) {
    ASSERT_EQ(ask(frame(99, "\x02"), 7), reply(99, "\x02"));
    EXPECT_TRUE(wait_for_text("var/log/forwarder.log", lines + "1\n"));
    EXPECT_EQ(read_file(root_file("var/log/forwarder.log")), lines + "1\n");
  }
  // Mounts made from here on are this test's alone, and the simulator started afterwards
  // shares them.
  void private_mounts() {
    ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0)
        << std::strerror(errno);
  }
  std::string jffs2() const { return root_file("mnt/jffs2"); }
  std::string ini_path() const { return root_file("mnt/jffs2/station.ini"); }
  // A client logged in on a fresh connection sets 300 baud and asks for the rate.
  void expect_served_with_300() {
    client_.reset();  // one client at a time: the old one must go first
    client_ = greeted_client(kEth0Address, true);
    EXPECT_EQ(ask(frame(1, k300) + frame(1, kQuery), 20), reply(1, k300) + reply(1, k300));
    EXPECT_NE(section("COM1").find("com_baud_rate=300\n"), std::string::npos) << ini();
  }
  std::unique_ptr<ControlClient> client_;
};

TEST_F(DaemonFaultsTest, ReadOnlyStationIniIsLeftAloneAndTheRecordTakesTheValue) {
  private_mounts();
  start(kIni);
  ASSERT_EQ(mount(jffs2().c_str(), jffs2().c_str(), nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(mount(nullptr, jffs2().c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);
  EXPECT_EQ(ask(frame(1, k115200) + frame(1, kQuery), 20), reply(1, k115200) + reply(1, k115200));
  EXPECT_EQ(ini(), kIni);
  expect_notices("1\n");  // the change was announced all the same
  ASSERT_EQ(umount2(jffs2().c_str(), 0), 0);
  expect_served_with_300();
}

TEST_F(DaemonFaultsTest, StationIniOnAFullFileSystemKeepsWhatTheWriteGotOut) {
  private_mounts();
  // One page of station.ini, a filler taking the rest of a small tmpfs: a rewrite that
  // grows the file by two bytes finds no room for them.
  std::string text = kIni;
  text += "[PAD]\npad=" + std::string(4096 - text.size() - 11, 'p') + "\n";
  ASSERT_EQ(text.size(), 4096u);
  start(text);
  namespace fs = std::filesystem;
  const std::string saved = dir_->file("jffs2-saved");
  ASSERT_TRUE(copy_tree(jffs2(), saved));
  ASSERT_EQ(mount("tmpfs", jffs2().c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
  ASSERT_TRUE(copy_tree(saved, jffs2()));
  {
    FILE* filler = std::fopen((jffs2() + "/filler").c_str(), "w");
    ASSERT_NE(filler, nullptr);
    const std::string block(512, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
           std::fflush(filler) == 0) {
    }
    std::fclose(filler);
  }
  EXPECT_EQ(ask(frame(1, k115200) + frame(1, kQuery), 20), reply(1, k115200) + reply(1, k115200));
  std::string grown = text;
  grown.replace(grown.find("9600"), 4, "115200");
  std::string partial = grown.substr(0, 4096);  // cut where the file system ran out
  EXPECT_EQ(ini(), partial);
  // Room again: the next write is whole.
  fs::remove(jffs2() + "/filler");
  expect_served_with_300();
  partial.replace(partial.find("115200"), 6, "300");
  EXPECT_EQ(ini(), partial);
  ASSERT_EQ(umount2(jffs2().c_str(), MNT_DETACH), 0);
}

TEST_F(DaemonFaultsTest, StationIniReplacedWithGarbageOrCutShortWhileServing) {
  start(kIni);
  std::mt19937 random(8);
  std::string garbage(3000, '\0');
  for (char& c : garbage) {
    c = static_cast<char>(1 + random() % 255);
    if (c == '[') c = '=';  // no section of its own, so the value written is the only one
  }
  garbage += "\r\n=\x01[COM1";
  write_file(ini_path(), garbage);
  EXPECT_EQ(ask(frame(1, k300), 10), reply(1, k300));
  EXPECT_EQ(ini(), garbage + "\n[COM1]\ncom_baud_rate=300\n");

  write_file(ini_path(), "");
  EXPECT_EQ(ask(frame(1, k9600), 10), reply(1, k9600));
  EXPECT_EQ(ini(), "[COM1]\ncom_baud_rate=9600\n");

  write_file(ini_path(), std::string(kIni).substr(0, 20));  // "[COM1]\ncom_baud_rate"
  EXPECT_EQ(ask(frame(3, "\x03") + frame(1, kQuery), 17), reply(3, "\x03") + reply(1, k9600));
  EXPECT_EQ(ini(), "[COM1]\ncom_parity=Even\ncom_baud_rate");
  expect_notices("1\n1\n1\n");
  expect_served_with_300();
}

TEST_F(DaemonFaultsTest, MissingQueueIsReportedAndTheDaemonGoesOn) {
  ASSERT_TRUE(start_simulator({"--daemon-only"}));
  client_ = greeted_client(kEth0Address, true);
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(ask(frame(1, k300), 10), reply(1, k300));
    EXPECT_NE(sim_->out().find("server: can't get message queue 1\n"), std::string::npos);
  }
  EXPECT_EQ(ask(frame(1, kQuery), 10), reply(1, k300));  // a query sends no notice
  const std::string out = sim_->out();
  std::size_t lines = 0;
  for (auto at = out.find("can't get"); at != std::string::npos; at = out.find("can't get", at + 1))
    ++lines;
  EXPECT_EQ(lines, 2u) << out;
  EXPECT_NE(section("COM1").find("com_baud_rate=300\n"), std::string::npos) << ini();
}

TEST_F(DaemonFaultsTest, FullQueueHoldsTheAnswerUntilItIsDrained) {
  const int queue = msgget(1234, IPC_CREAT | IPC_EXCL | 0600);  // the key the daemon is given
  ASSERT_GE(queue, 0) << std::strerror(errno);
  ChangeNotice filler{7, "filler"};
  int filled = 0;
  while (msgsnd(queue, &filler, sizeof filler.text, IPC_NOWAIT) == 0) ++filled;
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_GT(filled, 0);
  ASSERT_TRUE(start_simulator({"--daemon-only"}));
  client_ = greeted_client(kEth0Address, true);
  ASSERT_TRUE(client_->send(frame(1, k300)));
  // station.ini is written before the notice; the answer waits behind the blocked send.
  EXPECT_TRUE(wait_for_text("mnt/jffs2/station.ini", "com_baud_rate=300\n"));
  EXPECT_TRUE(client_->silent_for(1000));
  ChangeNotice got{};
  ASSERT_EQ(msgrcv(queue, &got, sizeof got.text, 0, IPC_NOWAIT), 260);
  EXPECT_EQ(got.type, 7);
  EXPECT_EQ(client_->read(10), reply(1, k300));
  // The daemon's notice went in behind the fillers: type 1, "1" and zeros.
  for (int i = 1; i < filled; ++i)
    ASSERT_EQ(msgrcv(queue, &got, sizeof got.text, 7, IPC_NOWAIT), 260);
  ASSERT_EQ(msgrcv(queue, &got, sizeof got.text, 0, IPC_NOWAIT), 260);
  EXPECT_EQ(got.type, 1);
  EXPECT_EQ(std::string(got.text, 260), "1" + std::string(259, '\0'));
  EXPECT_EQ(ask(frame(1, k9600), 10), reply(1, k9600));  // room now: no waiting
  EXPECT_EQ(sim_->out().find("can't get"), std::string::npos);
  EXPECT_EQ(msgctl(queue, IPC_RMID, nullptr), 0);
}

}  // namespace
