#include "protocol/dispatcher.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "model/port_loader.h"
#include "platform/root.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes frame(int code, const std::string& data = "") {
  Bytes f{0xFF, 0xFA, 0x2C, static_cast<unsigned char>(code)};
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(0xFF);
  f.push_back(0xF0);
  return f;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes error_reply(int code) { return {0xFF, 0xFA, 0x2C, 0xB4, static_cast<unsigned char>(code), 0xFF, 0xF0}; }
Bytes login_reply(char state) { return {0xFF, 0xFA, 0x2C, 0x64, static_cast<unsigned char>(state), 0xFF, 0xF0}; }
Bytes empty_reply(int code) { return {0xFF, 0xFA, 0x2C, static_cast<unsigned char>(code + 100), 0xFF, 0xF0}; }

// Handlers with a known change report; each answers an empty reply under its own code.
template <int Code, unsigned Report>
unsigned stub(const unsigned char*, int, unsigned char* pos, int* size) {
  put_reply(pos, size, Code, nullptr, 0);
  return Report;
}
unsigned select_port_2(const unsigned char*, int, unsigned char* pos, int* size) {
  set_current_port(2);
  put_reply(pos, size, 94, nullptr, 0);
  return 1;
}

// The notice goes to queue 1234: give this test process an IPC namespace of its own so the
// queue it creates is seen by nothing else and dies with it.
bool private_ipc_namespace() {
  static const bool ok = unshare(CLONE_NEWIPC) == 0;
  return ok;
}

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!private_ipc_namespace()) GTEST_SKIP() << "no IPC namespace (needs root)";
    for (const char* dir : {"/mnt/jffs2", "/tmp", "/var/log", "/bin"})
      std::filesystem::create_directories(root_.path() + dir);
    write_file(root_.file("mnt/jffs2/station.ini"), "[COM1]\ncom_baud_rate=9600\n");
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    store("admin", "secret");
    load_port_table(&table_, 2);
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
  void use(int code, CommandHandler handler) {
    swapped_.push_back({code, swap_command_handler(code, handler)});
  }

  // Runs one buffer; the answer comes back, the result in *result.
  Bytes dispatch(const Bytes& in, int* result = nullptr) {
    unsigned char answer[kAnswerBufferSize];
    int length = -1;
    const int r = dispatch_commands(in.data(), static_cast<int>(in.size()), 1, &logged_in_,
                                    answer, sizeof answer, &length);
    if (result) *result = r;
    return Bytes(answer, answer + length);
  }

  // Every ChangeNotice sent since the last call, as its text.
  std::vector<std::string> notices() {
    std::vector<std::string> out;
    struct {
      long type;
      char text[kChangeNoticeTextSize];
    } msg;
    ssize_t n;
    while ((n = msgrcv(queue_, &msg, sizeof msg.text, 0, IPC_NOWAIT)) >= 0) {
      EXPECT_EQ(n, kChangeNoticeTextSize);
      EXPECT_EQ(msg.type, 1);
      const size_t len = strnlen(msg.text, sizeof msg.text);
      EXPECT_EQ(std::string(msg.text + len, sizeof msg.text - len),
                std::string(sizeof msg.text - len, '\0'));
      out.emplace_back(msg.text, len);
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

TEST_F(Dispatcher, LoginComparesThePasswordOrUserSpacePassword) {
  struct Case {
    std::string text;
    char state;
  };
  const Case cases[] = {{"secret", 'S'},       {"admin secret", 'S'},  {std::string("secret\0", 7), 'F'},
                        {"Secret", 'F'},       {"admin  secret", 'F'}, {"guest secret", 'F'},
                        {"admin", 'F'},        {"", 'F'},              {"secret ", 'F'}};
  for (const Case& c : cases) {
    logged_in_ = c.state == 'S' ? 0 : 1;  // every login frame sets the state, both ways
    testing::internal::CaptureStdout();
    EXPECT_EQ(dispatch(frame(0, c.text)), login_reply(c.state)) << c.text;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logged_in_, c.state == 'S' ? 1 : 0) << c.text;
    const bool spaced = c.text.find(' ') != std::string::npos;
    EXPECT_EQ(out, std::string("Ethernet 1, password: ") + (spaced ? "admin secret" : "secret") +
                       "\nlogin state: " + c.state + "\n")
        << c.text;
  }

  // Fields of full width carry no terminator.
  store("operator", "abcdefgh");
  EXPECT_EQ(dispatch(frame(0, "operator abcdefgh")), login_reply('S'));
  EXPECT_EQ(dispatch(frame(0, "abcdefgh")), login_reply('S'));
  // An empty stored password admits only an empty login frame.
  store("admin", "");
  EXPECT_EQ(dispatch(frame(0)), login_reply('S'));
  EXPECT_EQ(dispatch(frame(0, "x")), login_reply('F'));
  EXPECT_EQ(logged_in_, 0);
  EXPECT_TRUE(notices().empty());
}

TEST_F(Dispatcher, FailedLoginRaisesTheAuthenticationAlert) {
  dispatch(frame(0, "secret"));
  EXPECT_EQ(read_file(root_.file("var/log/messages")).find("Authentication Failure"),
            std::string::npos);
  dispatch(frame(0, "wrong"));
  EXPECT_NE(read_file(root_.file("var/log/messages")).find("Authentication Failure (Manager Tool)"),
            std::string::npos);
}

TEST_F(Dispatcher, EveryCodeButLoginIsRefusedBeforeLogin) {
  use(1, stub<1, 1>);
  EXPECT_EQ(dispatch(frame(1, std::string("\0\0\x25\x80", 4)) + frame(2, "\x08") + frame(1)),
            error_reply(1) + error_reply(2) + error_reply(1));
  for (int code : {3, 4, 5, 76, 77, 78, 79, 85, 88, 89, 90, 91, 92, 93, 94, 96, 97, 98, 99, 50})
    EXPECT_EQ(dispatch(frame(code, "\x01")), error_reply(code)) << code;
  // No frame at all: the refusal names 255, and the rest of the buffer is not looked at.
  EXPECT_EQ(dispatch({0x01, 0x02, 0xFF, 0xFA, 0x2C, 0x01}), error_reply(255));
  EXPECT_EQ(logged_in_, 0);
  EXPECT_TRUE(notices().empty());
}

TEST_F(Dispatcher, LoginStateChangesWithinOneBuffer) {
  use(1, stub<1, 1>);
  EXPECT_EQ(dispatch(frame(0, "secret") + frame(1, std::string("\0\0\x25\x80", 4))),
            login_reply('S') + empty_reply(1));
  EXPECT_EQ(notices(), std::vector<std::string>{"1"});
  EXPECT_EQ(dispatch(frame(0, "secret") + frame(0, "nope") + frame(1)),
            login_reply('S') + login_reply('F') + error_reply(1));
  EXPECT_EQ(logged_in_, 0);
  EXPECT_TRUE(notices().empty());
}

TEST_F(Dispatcher, ChangeNoticeFollowsFlagsAAndB) {
  logged_in_ = 1;
  using V = std::vector<std::string>;
  use(1, stub<1, 1>);
  use(79, stub<79, 1>);
  use(92, stub<92, 0>);
  use(85, stub<85, 1>);
  EXPECT_EQ(dispatch(frame(1) + frame(79)), empty_reply(1) + empty_reply(79));
  EXPECT_EQ(notices(), V{"1"});  // one notice per buffer
  dispatch(frame(79) + frame(92));
  EXPECT_EQ(notices(), V{});  // code 92's report replaces flag B
  dispatch(frame(1) + frame(92));
  EXPECT_EQ(notices(), V{"1"});  // ... but leaves flag A alone
  dispatch(frame(85));
  EXPECT_EQ(notices(), V{});  // code 85's report is ignored
  use(94, select_port_2);
  dispatch(frame(94, "\x02"));
  EXPECT_EQ(notices(), V{});
  set_current_port(1);
  dispatch(frame(94, "\x02") + frame(1));
  EXPECT_EQ(notices(), V{"2"});  // the port current after the last frame
}

TEST_F(Dispatcher, Codes97And98AnswerNothing) {
  logged_in_ = 1;
  use(1, stub<1, 0>);
  EXPECT_EQ(dispatch(frame(97, "\x04\x03\xE7") + frame(98) + frame(1)), empty_reply(1));
}

TEST_F(Dispatcher, UnknownCodeEndsTheBufferKeepingEarlierReplies) {
  logged_in_ = 1;
  use(1, stub<1, 1>);
  use(79, stub<79, 1>);
  int result = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(frame(1) + frame(50) + frame(79), &result), empty_reply(1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fetch command error\n");
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(notices().empty());

  // A stray byte before a frame: the frame runs, then the scan sees only its last byte.
  logged_in_ = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatch(Bytes{0x00} + frame(0, "secret"), &result), login_reply('S'));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Fetch command error\n"),
            std::string::npos);
  EXPECT_EQ(result, -1);
}

TEST_F(Dispatcher, MissingQueueIsReportedAndSurvived) {
  msgctl(queue_, IPC_RMID, nullptr);
  queue_ = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(send_change_notice(2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "server: can't get message queue 1\n");
}

}  // namespace
