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
using Texts = std::vector<std::string>;

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
Bytes refused(int code) { return reply(80, std::string(1, static_cast<char>(code))); }
Bytes login(char state) { return reply(0, std::string(1, state)); }

// Handlers with a known change report, answering an empty reply under their code.
template <int Code, unsigned Report>
unsigned stub(const unsigned char*, int, unsigned char* pos, int* size) {
  put_reply(pos, size, Code, nullptr, 0);
  return Report;
}
unsigned select_port_2(const unsigned char*, int, unsigned char* pos, int* size) {
  set_current_port(2);
  return stub<94, 1>(nullptr, 0, pos, size);
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
  // The texts of the ChangeNotices sent since the last call; each must be type 1, 260 bytes.
  Texts notices() {
    Texts out;
    struct {
      long type;
      char text[kChangeNoticeTextSize + 1];
    } m;
    ssize_t n;
    while ((n = msgrcv(queue_, &m, sizeof m.text, 0, IPC_NOWAIT)) >= 0) {
      EXPECT_EQ(n, kChangeNoticeTextSize);
      EXPECT_EQ(m.type, 1);
      const size_t len = strnlen(m.text, kChangeNoticeTextSize);
      EXPECT_EQ(std::string(m.text + len, kChangeNoticeTextSize - len),
                std::string(kChangeNoticeTextSize - len, '\0'));
      out.emplace_back(m.text, len);
    }
    return out;
  }

  TempDir root_;
  FakeI2c i2c_;
  PortTable table_{};
  SnmpIdentity identity_{};
  int logged_in_ = 0;
  int queue_ = -1;
  std::vector<std::pair<int, CommandHandler>> swapped_;
};

TEST_F(Dispatcher, LoginTakesThePasswordAloneOrUserSpacePassword) {
  const std::pair<std::string, char> cases[] = {
      {"secret", 'S'}, {"admin secret", 'S'},  {std::string("secret\0", 7), 'F'},
      {"Secret", 'F'}, {"admin  secret", 'F'}, {"guest secret", 'F'},
      {"", 'F'},       {"secret ", 'F'}};
  for (const auto& [text, state] : cases) {
    logged_in_ = state == 'S' ? 0 : 1;  // every login frame sets the state, both ways
    testing::internal::CaptureStdout();
    EXPECT_EQ(dispatch(frame(0, text)), login(state)) << text;
    const bool spaced = text.find(' ') != std::string::npos;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Ethernet 1, password: ") +
                                                          (spaced ? "admin secret" : "secret") +
                                                          "\nlogin state: " + state + "\n");
    EXPECT_EQ(logged_in_, state == 'S' ? 1 : 0) << text;
  }
  store("operator", "abcdefgh");  // full-width fields carry no terminator
  EXPECT_EQ(dispatch(frame(0, "operator abcdefgh") + frame(0, "abcdefgh")),
            login('S') + login('S'));
  store("admin", "");  // an empty password admits only an empty login frame
  EXPECT_EQ(dispatch(frame(0) + frame(0, "x")), login('S') + login('F'));
  EXPECT_EQ(logged_in_, 0);
  EXPECT_NE(read_file(root_.file("var/log/messages")).find("Authentication Failure (Manager Tool)"),
            std::string::npos);
}

TEST_F(Dispatcher, EveryCodeButLoginIsRefusedBeforeLogin) {
  use(1, stub<1, 1>);
  const Bytes three = frame(1, std::string("\0\0\x25\x80", 4)) + frame(2, "\x08") + frame(3);
  EXPECT_EQ(dispatch(three), refused(1) + refused(2) + refused(3));  // 21 bytes
  for (int code : {4, 5, 76, 77, 78, 79, 85, 88, 89, 90, 91, 92, 93, 94, 96, 97, 98, 99, 50})
    EXPECT_EQ(dispatch(frame(code, "\x01")), refused(code)) << code;
  // No frame at all names 255, and ends the buffer.
  EXPECT_EQ(dispatch({0x01, 0x02, 0xFF, 0xFA, 0x2C, 0x01}), refused(255));
  EXPECT_EQ(notices(), Texts{});

  // A login and a set in one buffer: the set runs logged in, both replies leave together.
  EXPECT_EQ(dispatch(frame(0, "secret") + frame(1)), login('S') + reply(1));
  EXPECT_EQ(notices(), Texts{"1"});
  EXPECT_EQ(dispatch(frame(0, "secret") + frame(0, "no") + frame(1)),
            login('S') + login('F') + refused(1));
  EXPECT_EQ(logged_in_, 0);
}

TEST_F(Dispatcher, ChangeNoticeFollowsFlagsAAndB) {
  logged_in_ = 1;
  use(1, stub<1, 1>);
  use(79, stub<79, 1>);
  use(92, stub<92, 0>);
  use(85, stub<85, 1>);
  use(94, select_port_2);
  EXPECT_EQ(dispatch(frame(1) + frame(79)), reply(1) + reply(79));
  EXPECT_EQ(notices(), Texts{"1"});  // one per buffer
  dispatch(frame(79) + frame(92));
  EXPECT_EQ(notices(), Texts{});  // code 92's report replaces flag B ...
  dispatch(frame(1) + frame(92));
  EXPECT_EQ(notices(), Texts{"1"});  // ... and leaves flag A alone
  dispatch(frame(85) + frame(94));
  EXPECT_EQ(notices(), Texts{});  // reports of 85 and 94 are ignored
  set_current_port(1);
  dispatch(frame(94) + frame(1));
  EXPECT_EQ(notices(), Texts{"2"});  // for the port current after the last frame
  // Codes 97 and 98 run nothing and leave the answer space to the frames after them.
  EXPECT_EQ(dispatch(frame(97, "\x04\x03\xE7") + frame(98) + frame(79)), reply(79));
}

TEST_F(Dispatcher, UnknownCodeEndsTheBufferKeepingEarlierReplies) {
  logged_in_ = 1;
  use(1, stub<1, 1>);
  use(79, stub<79, 1>);
  int result = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(frame(1) + frame(50) + frame(79), &result), reply(1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(notices(), Texts{});

  // A stray byte before a frame: the frame runs, then the scan sees only its last byte.
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(Bytes{0x00} + frame(79), &result), reply(79));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);

  msgctl(queue_, IPC_RMID, nullptr);
  queue_ = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(send_change_notice(2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "server: can't get message queue 1\n");
}

}  // namespace
