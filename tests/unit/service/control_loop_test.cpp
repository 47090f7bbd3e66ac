#include "service/control_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/root.h"
#include "protocol/dispatcher.h"
#include "protocol/frame_codec.h"
#include "service/daemon_main.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes frame(int code, unsigned char data) { return {0xFF, 0xFA, 0x2C, static_cast<unsigned char>(code), data, 0xFF, 0xF0}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Bytes kLogin = {0xFF, 0xFA, 0x2C, 0x00, 's', 'e', 'c', 'r', 'e', 't', 0xFF, 0xF0};
const Bytes kLoginOk = {0xFF, 0xFA, 0x2C, 0x64, 'S', 0xFF, 0xF0};
const Bytes kGreeting = {0x20, 0x20};

// Port select as the device answers it, so that the current port shows on the wire.
unsigned select_port(const unsigned char* data, int, unsigned char* pos, int* size) {
  if (data[0] != 0) set_current_port(data[0]);
  const unsigned char port = static_cast<unsigned char>(act_g());
  put_reply(pos, size, 94, &port, 1);
  return 0;
}

// The real entry point in a child process on a free loopback port, over a scratch root and a
// fake EEPROM whose password is "secret"; notices go to the child's own IPC namespace.
class ControlLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"/mnt/jffs2", "/tmp", "/var/log"})
      std::filesystem::create_directories(root_.path() + dir);
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    std::memcpy(i2c_.chip.data() + 76, "secret\0\0", 8);
    old_select_ = swap_command_handler(94, select_port);
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    addr_.sin_family = AF_INET;
    addr_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr_;
    bind(probe, reinterpret_cast<sockaddr*>(&addr_), len);
    getsockname(probe, reinterpret_cast<sockaddr*>(&addr_), &len);
    close(probe);
    std::fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
      if (unshare(CLONE_NEWIPC) != 0) _exit(3);
      dup2(open(root_.file("daemon.out").c_str(), O_WRONLY | O_CREAT, 0644), 1);
      _exit(daemon_main(ntohs(addr_.sin_port)));
    }
  }
  void TearDown() override {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    swap_command_handler(94, old_select_);
    set_root(nullptr);
  }
  int connect_client() {
    for (int attempt = 0; attempt < 200; ++attempt, usleep(25000)) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(fd, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_) == 0) return fd;
      close(fd);
    }
    return -1;
  }
  // What arrives within timeout_ms, up to n bytes.
  static Bytes receive(int fd, size_t n, int timeout_ms = 5000) {
    Bytes out(n);
    size_t got = 0;
    pollfd p{fd, POLLIN, 0};
    ssize_t r;
    while (got < n && poll(&p, 1, timeout_ms) == 1 && (r = recv(fd, &out[got], n - got, 0)) > 0)
      got += static_cast<size_t>(r);
    out.resize(got);
    return out;
  }
  static Bytes exchange(int fd, const Bytes& request, size_t n, int timeout_ms = 5000) {
    EXPECT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    return receive(fd, n, timeout_ms);
  }

  TempDir root_;
  FakeI2c i2c_;
  CommandHandler old_select_ = nullptr;
  sockaddr_in addr_{};
  pid_t pid_ = -1;
};

TEST_F(ControlLoop, GreetsServesFromIacSbAndKeepsThePortAcrossClients) {
  const int a = connect_client();
  ASSERT_GE(a, 0);
  EXPECT_EQ(receive(a, 2), kGreeting);
  // Nothing is served before a buffer that begins with IAC SB, not even a lone IAC.
  EXPECT_EQ(exchange(a, Bytes{'h', 'i'} + kLogin, 1, 300), Bytes{});
  EXPECT_EQ(exchange(a, {0xFF}, 1, 300), Bytes{});
  EXPECT_EQ(exchange(a, kLogin, 7), kLoginOk);
  // Once active any buffer is served. After the stray byte the scan ends in "Fetch command
  // error"; the reply built before it still goes out.
  EXPECT_EQ(exchange(a, Bytes{0x00} + frame(94, 2), 8, 500), (Bytes{0xFF, 0xFA, 0x2C, 0xC2, 2, 0xFF, 0xF0}));
  // A second client waits in the backlog until the first has gone.
  const int b = connect_client();
  ASSERT_GE(b, 0);
  EXPECT_EQ(receive(b, 2, 300), Bytes{});
  close(a);
  EXPECT_EQ(receive(b, 2), kGreeting);
  // It starts logged out and inactive, on the port that the first one selected.
  EXPECT_EQ(exchange(b, {'x'}, 1, 300), Bytes{});
  EXPECT_EQ(exchange(b, frame(94, 0), 7), (Bytes{0xFF, 0xFA, 0x2C, 0xB4, 94, 0xFF, 0xF0}));
  EXPECT_EQ(exchange(b, kLogin + frame(94, 0), 14),
            kLoginOk + Bytes{0xFF, 0xFA, 0x2C, 0xC2, 2, 0xFF, 0xF0});
  close(b);
  const std::string out = read_file(root_.file("daemon.out"));
  EXPECT_NE(out.find("tcp server accept ok\n"), std::string::npos);
  EXPECT_NE(out.find("Fetch command error\n"), std::string::npos);
}

TEST_F(ControlLoop, ServesAFull1024ByteBufferInOneAnswer) {
  const int a = connect_client();
  ASSERT_GE(a, 0);
  EXPECT_EQ(receive(a, 2), kGreeting);
  Bytes full;  // 145 frames of 7 bytes and one of 9, each refused before login
  for (int i = 0; i < 145; ++i) full = full + frame(1, 1);
  full = full + Bytes{0xFF, 0xFA, 0x2C, 2, 'a', 'b', 'c', 0xFF, 0xF0};
  const Bytes answer = exchange(a, full, 1023, 1000);
  ASSERT_EQ(answer.size(), 1022u);
  EXPECT_EQ(Bytes(answer.end() - 7, answer.end()), (Bytes{0xFF, 0xFA, 0x2C, 0xB4, 2, 0xFF, 0xF0}));
  close(a);
}

}  // namespace
