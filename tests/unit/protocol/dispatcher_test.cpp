#include "protocol/dispatcher.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/msg.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "client/control_client.h"
#include "platform/root.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes frame(int code, const std::string& data = "") {
  const std::string f =
      "\xFF\xFA\x2C" + std::string(1, static_cast<char>(code)) + data + "\xFF\xF0";
  return Bytes(f.begin(), f.end());
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes reply(int code, const std::string& data = "") { return frame(code + 100, data); }
Bytes login(char state) { return reply(0, std::string(1, state)); }

// A root with station.ini and var/log, the fake EEPROM holding admin/secret, and queue 1234
// in an IPC namespace of this test process alone.
class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool private_ipc = unshare(CLONE_NEWIPC) == 0;
    if (!private_ipc) GTEST_SKIP() << "no IPC namespace of our own (needs root)";
    for (const char* dir : {"/mnt/jffs2", "/tmp", "/var/log"})
      std::filesystem::create_directories(root_.path() + dir);
    write_file(root_.file("mnt/jffs2/station.ini"), "[SNMP]\nsysName=unit\n");
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    store("admin", "secret");
    set_session_context(&table_, 2, &identity_);
    set_current_port(1);
    queue_ = msgget(kChangeNoticeKey, IPC_CREAT | 0600);
    ASSERT_GE(queue_, 0);
  }
  void TearDown() override {
    if (queue_ >= 0) msgctl(queue_, IPC_RMID, nullptr);
    set_root(nullptr);
  }
  void store(const std::string& user, const std::string& password) {
    std::memset(i2c_.chip.data() + 68, 0, 16);
    std::memcpy(i2c_.chip.data() + 68, user.data(), user.size());
    std::memcpy(i2c_.chip.data() + 76, password.data(), password.size());
  }

  Bytes dispatch(const Bytes& in, int* result = nullptr) {
    unsigned char answer[kAnswerBufferSize];
    int length = -1;
    const int r = dispatch_commands(in.data(), static_cast<int>(in.size()), 1, &logged_in_, answer,
                                    sizeof answer, &length);
    if (result) *result = r;
    return Bytes(answer, answer + length);
  }
  // The number of ChangeNotices sent since the last call (their format is proven elsewhere).
  int notices() {
    ChangeNotice m;
    int n = 0;
    while (msgrcv(queue_, &m, sizeof m.text, 0, IPC_NOWAIT) >= 0) ++n;
    return n;
  }

  TempDir root_;
  FakeI2c i2c_;
  PortTable table_{};
  SnmpIdentity identity_{};
  int logged_in_ = 0;
  int queue_ = -1;
};

// The login forms, the refusals before login and the notice flags are proven through the
// real daemon; these are the corners a client cannot easily reach.
TEST_F(Dispatcher, LoginFieldsOfFullWidthAndAnEmptyPassword) {
  store("operator", "abcdefgh");  // full-width fields carry no terminator
  EXPECT_EQ(dispatch(frame(0, "operator abcdefgh") + frame(0, "abcdefgh")),
            login('S') + login('S'));
  EXPECT_EQ(dispatch(frame(0, "operator abcdefghi")), login('F'));
  store("admin", "");  // an empty password admits only an empty login frame
  EXPECT_EQ(dispatch(frame(0) + frame(0, "x")), login('S') + login('F'));
  EXPECT_EQ(logged_in_, 0);
  EXPECT_NE(read_file(root_.file("var/log/messages")).find("Authentication Failure (Manager Tool)"),
            std::string::npos);
}

TEST_F(Dispatcher, UnknownCodeEndsTheBufferWithoutANotice) {
  logged_in_ = 1;
  const std::string k9600("\0\0\x25\x80", 4);
  int result = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(frame(1, k9600) + frame(50) + frame(79, "\2"), &result), reply(1, k9600));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(notices(), 0);

  // A stray byte before a frame: the frame runs, then the scan sees only its last byte.
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(Bytes{0x00} + frame(79, "\2"), &result), reply(79, "\2"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);

  // Without errors the same frames send one notice.
  EXPECT_EQ(dispatch(frame(1, k9600) + frame(79, "\1"), &result),
            reply(1, k9600) + reply(79, "\1"));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(notices(), 1);
}

// What the protocol promises each code on a logged-in connection, written from its own
// description and not from the command table: the requests refused with the error reply and
// the byte that reply names, one accepted request, the reply frames it earns and the data
// bytes of the first. The dispatcher must keep each promise, and the client, which waits for
// replies by the table, must expect the same number of frames.
TEST_F(Dispatcher, EachCodeKeepsItsLengthsErrorByteAndReplies) {
  const std::string one(1, '\1'), two(2, '\1'), zero(1, '\0');
  struct Promise {
    int code;
    std::vector<std::string> refused;
    int error_byte;
    std::string accepted;
    int frames;  // -1: the dispatcher stops at the code
    std::size_t first_bytes;
  };
  const Promise promises[] = {
      {0, {}, 0, "secret", 1, 1},
      {1,
       {"", "\0\0\x25", std::string("\0\0\x25\x80\0", 5)},
       1,
       std::string("\0\0\x25\x80", 4),
       1,
       4},
      {2, {"", two}, 2, "\x08", 1, 1},
      {3, {"", two}, 3, "\x03", 1, 1},
      {4, {"", two}, 4, zero, 1, 1},
      {5, {"", two}, 5, zero, 1, 1},
      {76, {"", one, one + std::string(8, '\0'), one + std::string(10, '\0')}, 76, zero, 1, 10},
      {77,
       {"", one, one + std::string(8, '\0'), one + std::string(10, '\0')},
       98,
       zero + two,
       1,
       10},
      {78, {"", two}, 78, "\x05", 1, 1},
      {79, {"", two}, 79, zero, 1, 1},
      {85, {"", two}, 85, zero, 1, 1},
      {88, {"", two, std::string(4, '\0'), std::string(6, '\0')}, 88, "\x04", 1, 5},
      {89, {""}, 89, zero, 1, 2},
      {90, {"", two}, 90, zero, 1, 1},
      {91, {"", two}, 91, zero, 1, 1},
      {92, {"", two, std::string(13, '\0'), std::string(90, '\3')}, 92, zero, 1, 13},
      {92, {}, 0, "\x08", 0, 0},
      {93, {zero}, 93, "", 1, 2},
      {94, {"", two}, 94, zero, 1, 1},
      {96, {zero}, 96, "", 15, 4},
      {97, {}, 0, "\1\2\3", 0, 0},
      {98, {}, 0, "", 0, 0},
      {99, {"", two}, 99, zero, 1, 1},
      {50, {}, 0, "", -1, 0},
      {80, {}, 0, zero, -1, 0},
      {95, {}, 0, "", -1, 0},
      {196, {}, 0, "", -1, 0},
  };
  testing::internal::CaptureStdout();
  for (const Promise& p : promises) {
    const auto bytes = [](const std::string& d) {
      return reinterpret_cast<const unsigned char*>(d.data());
    };
    for (const std::string& data : p.refused) {
      logged_in_ = 1;
      EXPECT_EQ(dispatch(frame(p.code, data)),
                reply(80, std::string(1, static_cast<char>(p.error_byte))))
          << p.code << " with " << data.size() << " bytes";
      EXPECT_EQ(reply_frames(p.code, bytes(data), static_cast<int>(data.size())), 1) << p.code;
    }
    logged_in_ = 1;
    int result = 0;
    const Bytes answer = dispatch(frame(p.code, p.accepted), &result);
    EXPECT_EQ(reply_frames(p.code, bytes(p.accepted), static_cast<int>(p.accepted.size())),
              p.frames)
        << p.code;
    EXPECT_EQ(result, p.frames < 0 ? -1 : 0) << p.code;
    std::vector<ReplyFrame> frames;
    for (std::size_t at = 0; at < answer.size();) {
      ReplyFrame f;
      const int used =
          take_reply_frame(answer.data() + at, static_cast<int>(answer.size() - at), true, &f);
      ASSERT_GT(used, 0) << p.code;
      frames.push_back(f);
      at += static_cast<std::size_t>(used);
    }
    ASSERT_EQ(static_cast<int>(frames.size()), p.frames < 0 ? 0 : p.frames) << p.code;
    if (frames.empty()) continue;
    EXPECT_EQ(frames[0].code, (p.code == 96 ? 1 : p.code) + 100) << p.code;
    EXPECT_EQ(frames[0].data.size(), p.first_bytes) << p.code;
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
