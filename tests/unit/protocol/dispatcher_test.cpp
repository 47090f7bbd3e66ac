// What the protocol promises each code on a logged-in connection, written from its own
// description and not from the command table: the requests refused with the error reply and
// the byte that reply names, one accepted request, the reply frames it earns and the data
// bytes of the first. The dispatcher must keep each promise, and the client, which waits for
// replies by the table, must expect as many frames. Sessions are the scenario files' business.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/msg.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "client/control_client.h"
#include "platform/root.h"
#include "protocol/dispatcher.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

namespace {

std::string bytes(const std::string& tokens) {
  std::string out, why;
  EXPECT_TRUE(scenario_bytes(tokens, &out, &why)) << tokens << ": " << why;
  return out;
}

const unsigned char* data_of(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

struct Promise {
  int code;
  const char* refused;  // refused requests' data, "|" between them ("|" alone: no data)
  int error_byte;
  const char* accepted;
  int frames;  // -1: the dispatcher stops at the code
  std::size_t first_bytes;
};

// clang-format off
const Promise kPromises[] = {
    {0,   "",                              0,  "\"secret\"",  1,  1},
    {1,   "|00 00 25|00 00 25 80 00",      1,  "00 00 25 80", 1,  4},
    {2,   "|08 08",                        2,  "08",          1,  1},
    {3,   "|03 03",                        3,  "03",          1,  1},
    {4,   "|01 01",                        4,  "01",          1,  1},
    {5,   "|01 01",                        5,  "01",          1,  1},
    {76,  "|01|01 00*8|01 00*10",          76, "00",          1,  10},
    {77,  "|01|01 00*8|01 00*10",          98, "00 01 01",    1,  10},
    {78,  "|05 05",                        78, "05",          1,  1},
    {79,  "|01 01",                        79, "01",          1,  1},
    {85,  "|01 01",                        85, "01",          1,  1},
    {88,  "|04 00|00*4|00*6",              88, "04",          1,  5},
    {89,  "|",                             89, "00",          1,  2},
    {90,  "|01 01",                        90, "01",          1,  1},
    {91,  "|00 00",                        91, "00",          1,  1},
    {92,  "|00 00|00*13|03*90",            92, "00",          1,  13},
    {92,  nullptr,                         0,  "08",          0,  0},
    {93,  "00",                            93, "",            1,  2},
    {94,  "|01 01",                        94, "00",          1,  1},
    {96,  "00",                            96, "",            15, 4},
    {97,  nullptr,                         0,  "01 02 03",    0,  0},
    {98,  nullptr,                         0,  "",            0,  0},
    {99,  "|01 01",                        99, "01",          1,  1},
    {50,  nullptr,                         0,  "",            -1, 0},
    {80,  nullptr,                         0,  "00",          -1, 0},
    {95,  nullptr,                         0,  "",            -1, 0},
    {196, nullptr,                         0,  "",            -1, 0},
};
// clang-format on

// A root with station.ini and var/log, the fake EEPROM holding the password "secret", and
// queue 1234 in an IPC namespace of this test process alone.
class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool private_ipc = unshare(CLONE_NEWIPC) == 0;
    if (!private_ipc) GTEST_SKIP() << "no IPC namespace of our own (needs root)";
    for (const char* dir : {"/mnt/jffs2", "/tmp", "/var/log"})
      std::filesystem::create_directories(root_.path() + dir);
    write_file(root_.file("mnt/jffs2/station.ini"), "[COM1]\n");
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    i2c_.chip.fill(0);
    std::memcpy(i2c_.chip.data() + 76, "secret", 6);  // eePassword
    set_session_context(&table_, 2, &identity_);
    set_current_port(1);
    queue_ = msgget(kChangeNoticeKey, IPC_CREAT | 0600);
  }
  void TearDown() override {
    if (queue_ >= 0) msgctl(queue_, IPC_RMID, nullptr);
    set_root(nullptr);
  }
  // The answer to one frame on a logged-in connection, read with the client's parser.
  std::vector<ReplyFrame> answer(int code, const std::string& data, int* result) {
    const std::string request = bytes(std::to_string(code) + "(" + data + ")");
    unsigned char out[kAnswerBufferSize];
    int length = 0, logged_in = 1;
    *result = dispatch_commands(data_of(request), static_cast<int>(request.size()), 1, &logged_in,
                                out, sizeof out, &length);
    std::vector<ReplyFrame> frames;
    for (int at = 0, used = 0; at < length; at += used) {
      ReplyFrame f;
      used = take_reply_frame(out + at, length - at, true, &f);
      if (used <= 0) break;
      frames.push_back(f);
    }
    return frames;
  }

  TempDir root_;
  FakeI2c i2c_;
  PortTable table_{};
  SnmpIdentity identity_{};
  int queue_ = -1;
};

TEST_F(Dispatcher, EachCodeKeepsItsLengthsErrorByteAndReplies) {
  testing::internal::CaptureStdout();
  for (const Promise& p : kPromises) {
    std::istringstream refused(p.refused ? p.refused : "");
    for (std::string data; p.refused && std::getline(refused, data, '|');) {
      int result = 0;
      const auto frames = answer(p.code, data, &result);
      ASSERT_EQ(frames.size(), 1u) << p.code << "(" << data << ")";
      EXPECT_EQ(frames[0].code, 180) << p.code << "(" << data << ")";
      EXPECT_EQ(frames[0].data, std::vector<unsigned char>{static_cast<unsigned char>(p.error_byte)});
      const std::string raw = bytes(data);
      EXPECT_EQ(reply_frames(p.code, data_of(raw), static_cast<int>(raw.size())), 1) << p.code;
    }
    int result = 0;
    const auto frames = answer(p.code, p.accepted, &result);
    const std::string raw = bytes(p.accepted);
    EXPECT_EQ(reply_frames(p.code, data_of(raw), static_cast<int>(raw.size())), p.frames) << p.code;
    EXPECT_EQ(result, p.frames < 0 ? -1 : 0) << p.code;
    ASSERT_EQ(static_cast<int>(frames.size()), std::max(p.frames, 0)) << p.code;
    if (frames.empty()) continue;
    EXPECT_EQ(frames[0].code, (p.code == 96 ? 1 : p.code) + 100) << p.code;
    EXPECT_EQ(frames[0].data.size(), p.first_bytes) << p.code;
  }
  testing::internal::GetCapturedStdout();
}

// Link mode 4 has no word in station.ini and no layout in the reply: the port's record alone
// keeps its 26 bytes.
TEST_F(Dispatcher, LinkMode4KeepsItsBytesInThePortRecord) {
  testing::internal::CaptureStdout();
  int result = 0;
  EXPECT_EQ(answer(92, "04 5A*25 41", &result).size(), 1u);
  testing::internal::GetCapturedStdout();
  const unsigned char* kept = table_.records[0].settings.mode4_settings;
  EXPECT_EQ(std::string(kept, kept + 26), std::string(25, 'Z') + "A");
}

}  // namespace
