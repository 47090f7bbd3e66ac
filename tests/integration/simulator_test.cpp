// The simulator as a program: what it refuses, the unit it makes on a fresh root, what it
// keeps, the stand-in for the serial-forwarding side and its clean end.
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>

#include "protocol/change_notice.h"
#include "storage/inifile.h"
#include "support/sim_harness.h"

namespace {

void send_notice(int queue, const char* port) {
  ChangeNotice notice{kChangeNoticeType, {}};
  std::strcpy(notice.text, port);
  ASSERT_EQ(msgsnd(queue, &notice, sizeof notice.text, 0), 0) << std::strerror(errno);
}

std::string bytes(const std::string& image, std::size_t offset, std::size_t count) {
  return image.size() >= offset + count ? image.substr(offset, count) : "(short image)";
}

TEST(Simulator, RefusesToRunWithoutARootOfItsOwn) {
  std::string out, err;
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--port", "4000"},
                                               {"--root"},
                                               {"--root", ""},
                                               {"--root", "/"},
                                               {"--root", "//"},
                                               {"--root", "x", "--port", "0"},
                                               {"--root", "x", "--port", "65536"},
                                               {"--root", "x", "--bogus"}}) {
    const int status = run_simulator_to_end(args, &out, &err);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << args.size() << " args";
    EXPECT_EQ(out, "");
    EXPECT_NE(err, "");
  }
  EXPECT_FALSE(file_exists("x"));  // refused before anything was made
}

// The template every other test copies: a unit fresh from manufacturing after the factory
// initialisation and the default export.
TEST(Simulator, FreshRootIsAFactoryUnitWithTheDefaultsExported) {
  std::string why;
  const std::string root = fresh_root_template(&why);
  ASSERT_FALSE(root.empty()) << why;
  const std::string image = read_file(root + "/dev/i2c-0");
  ASSERT_EQ(image.size(), 8192u);
  // Manufacturing data that neither routine touches.
  EXPECT_EQ(bytes(image, 0, 6), std::string(6, '\xFF'));
  EXPECT_EQ(bytes(image, 8191, 1), "\xFF");
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(bytes(image, 108 + 130 * i, 6), std::string("\x02\0\0\0\0", 5) + char(i + 1));
  EXPECT_EQ(bytes(image, 88, 16), std::string("admin\0\0\0\0\0\0\0\0\0\0\0", 16));
  EXPECT_EQ(bytes(image, 176, 4), "\xC0\xA8\x01\xFE");       // eeDefaultIpAddress, eth0
  EXPECT_EQ(bytes(image, 306 + 8, 4), "\xC0\xA8\x02\x01");   // eeDefaultGateway, eth1
  EXPECT_EQ(bytes(image, 1758, 2), std::string("\0\0", 2));  // cold start
  // What factory_initialize and load_default_settings made of it.
  EXPECT_EQ(bytes(image, 10, 16), std::string("KV7731\0\0\0\0\0\0\0\0\0\0", 16));
  EXPECT_EQ(bytes(image, 68, 16), std::string("admin\0\0\0quillet\0", 16));
  EXPECT_EQ(bytes(image, 114, 14),
            std::string("\xC0\xA8\x01\xFE\xFF\xFF\xFF\0\xC0\xA8\x01\x01\0\0", 14));
  // (Every field and key the two routines write is checked in the unit tests; these show
  // that both ran on the manufactured image.)
  for (const auto& [section, key, value] : {std::tuple{"ADMIN", "passwd", "quillet"},
                                            {"NETWORK", "ip", "192.168.1.254"},
                                            {"SNMP", "sysName", "020000000001"}}) {
    char got[128] = "";
    read_profile_string(section, key, got, sizeof got, "(missing)",
                        (root + "/mnt/jffs2/station.ini").c_str());
    EXPECT_STREQ(got, value) << section << "/" << key;
  }
  // The clock commands reached the stand-ins, and nothing was left half done.
  EXPECT_EQ(read_file(root + "/var/log/programs.log"),
            "date -s 2000.01.01-00:00:00\nsystime2rtc\n");
  EXPECT_FALSE(file_exists(root + "/dev/i2c-0.unfinished"));
  EXPECT_FALSE(file_exists(root + "/tmp/eeprom.lock"));
}

TEST_F(SimulatorTest, KeepsTheImageItFindsAndServesOnTheGivenPort) {
  // A unit whose password was changed earlier: the simulator must not make it new again.
  std::string image = read_file(root_file("dev/i2c-0"));
  image.replace(76, 8, std::string("secret\0\0", 8));
  write_file(root_file("dev/i2c-0"), image);
  ASSERT_TRUE(start_simulator({"--port", "4000"}, 4000));
  ControlClient client;
  ASSERT_TRUE(client.connect(kEth0Address, 4000));
  EXPECT_EQ(client.read(2), kGreeting);
  ASSERT_TRUE(client.send(frame(0, "admin secret")));
  EXPECT_EQ(client.read(7), reply(0, "S"));
  EXPECT_EQ(read_file(root_file("dev/i2c-0")).substr(76, 8), std::string("secret\0\0", 8));
  EXPECT_FALSE(ControlClient().connect(kEth0Address, kControlPort));
  // A second simulator on the same port says so once and leaves the first one alone.
  std::string out, err;
  const int status = run_simulator_to_end({"--root", root(), "--port", "4000"}, &out, &err);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(err, "stationd-sim: port 4000 is in use\n");
  EXPECT_TRUE(sim_->running());
}

TEST_F(SimulatorTest, NoDaemonOutlivesAKilledSimulator) {
  ASSERT_TRUE(start_simulator());
  EXPECT_EQ(sim_->stop(SIGKILL), SIGKILL);  // a plain wait status: killed by the signal
  for (int i = 0; i < 250 && tcp_listening(kControlPort); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(tcp_listening(kControlPort));
}

// The queue the simulator made goes with it; one that was there before stays, unread.
TEST_F(SimulatorTest, ForwarderLogsEachNoticeAndOnlyItsOwnQueueEndsWithTheSimulator) {
  ASSERT_TRUE(start_simulator());
  int queue = msgget(kChangeNoticeKey, 0);
  ASSERT_GE(queue, 0) << "the simulator made no queue " << kChangeNoticeKey;
  send_notice(queue, "2");
  send_notice(queue, "1");
  EXPECT_TRUE(wait_for_text("var/log/forwarder.log", "2\n1\n"));
  EXPECT_EQ(sim_->stop(SIGTERM), 0) << sim_->err();
  EXPECT_EQ(msgget(kChangeNoticeKey, 0), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(tcp_listening(kControlPort));  // the daemon went with it

  queue = msgget(kChangeNoticeKey, IPC_CREAT | IPC_EXCL | 0600);
  ASSERT_GE(queue, 0);
  ASSERT_TRUE(start_simulator());
  send_notice(queue, "3");
  EXPECT_TRUE(wait_for_text("var/log/forwarder.log", "3\n"));
  EXPECT_EQ(sim_->stop(SIGINT), 0) << sim_->err();
  EXPECT_EQ(msgget(kChangeNoticeKey, 0), queue);
  send_notice(queue, "4");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  msqid_ds state{};
  ASSERT_EQ(msgctl(queue, IPC_STAT, &state), 0);
  EXPECT_EQ(state.msg_qnum, 1u);
  const std::string log = read_file(root_file("var/log/forwarder.log"));
  EXPECT_EQ(log.find('4'), std::string::npos) << log;
  msgctl(queue, IPC_RMID, nullptr);
}

}  // namespace
