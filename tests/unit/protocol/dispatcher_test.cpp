#include "protocol/dispatcher.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/msg.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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

// Handlers with a known change report, answering an empty reply under their code.
template <int Code, unsigned Report>
unsigned stub(const unsigned char*, int, unsigned char* pos, int* size) {
  put_reply(pos, size, Code, nullptr, 0);
  return Report;
}

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
    for (auto& [code, handler] : swapped_) swap_command_handler(code, handler);
    if (queue_ >= 0) msgctl(queue_, IPC_RMID, nullptr);
    set_root(nullptr);
  }
  void store(const std::string& user, const std::string& password) {
    std::memset(i2c_.chip.data() + 68, 0, 16);
    std::memcpy(i2c_.chip.data() + 68, user.data(), user.size());
    std::memcpy(i2c_.chip.data() + 76, password.data(), password.size());
  }
  void use(int code, CommandHandler h) {
    swapped_.push_back({code, swap_command_handler(code, h)});
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
    struct {
      long type;
      char text[kChangeNoticeTextSize];
    } m;
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
  std::vector<std::pair<int, CommandHandler>> swapped_;
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
  use(1, stub<1, 1>);
  use(79, stub<79, 1>);
  int result = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(frame(1) + frame(50) + frame(79), &result), reply(1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(notices(), 0);

  // A stray byte before a frame: the frame runs, then the scan sees only its last byte.
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(Bytes{0x00} + frame(79), &result), reply(79));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);

  // Without errors the same frames send one notice.
  EXPECT_EQ(dispatch(frame(1) + frame(79), &result), reply(1) + reply(79));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(notices(), 1);
}

}  // namespace
