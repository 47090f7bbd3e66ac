#include "service/control_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
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
Bytes error_reply(int code) {
  return {0xFF, 0xFA, 0x2C, 0xB4, static_cast<unsigned char>(code), 0xFF, 0xF0};
}
const Bytes kLoginOk = {0xFF, 0xFA, 0x2C, 0x64, 'S', 0xFF, 0xF0};

// Port select as the device does it, so the current port can be watched over the wire.
unsigned select_port(const unsigned char* data, int length, unsigned char* pos, int* size) {
  if (length == 1 && data[0] != 0) set_current_port(data[0]);
  const unsigned char port = static_cast<unsigned char>(act_g());
  put_reply(pos, size, 94, &port, 1);
  return 1;
}
Bytes port_reply(int port) { return {0xFF, 0xFA, 0x2C, 0xC2, static_cast<unsigned char>(port), 0xFF, 0xF0}; }

uint16_t free_loopback_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// The real daemon entry in a child process on a loopback port, over a scratch root and a
// fake EEPROM holding the password "secret".
class ControlLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"/mnt/jffs2", "/tmp", "/var/log", "/bin"})
      std::filesystem::create_directories(root_.path() + dir);
    write_file(root_.file("mnt/jffs2/station.ini"), "[COM1]\ncom_baud_rate=9600\n");
    ASSERT_EQ(set_root(root_.path().c_str()), 0);
    std::memcpy(i2c_.chip.data() + 76, "secret\0\0", 8);
    old_select_ = swap_command_handler(94, select_port);
    port_ = free_loopback_port();
    std::fflush(stdout);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // No notice of this daemon may reach a queue outside the test.
      if (unshare(CLONE_NEWIPC) != 0) _exit(3);
      const int out = open(root_.file("daemon.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      _exit(daemon_main(port_));
    }
  }
  void TearDown() override {
    for (int fd : clients_) close(fd);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    swap_command_handler(94, old_select_);
    set_root(nullptr);
  }

  int connect_client() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0; attempt < 200; ++attempt) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        clients_.push_back(fd);
        return fd;
      }
      close(fd);
      usleep(25000);
    }
    ADD_FAILURE() << "daemon does not listen";
    return -1;
  }
  void hang_up(int fd) {
    close(fd);
    std::erase(clients_, fd);
  }
  void send_bytes(int fd, const Bytes& b) {
    ASSERT_EQ(send(fd, b.data(), b.size(), 0), static_cast<ssize_t>(b.size()));
  }
  // Up to n bytes, whatever arrives within timeout_ms.
  Bytes receive(int fd, size_t n, int timeout_ms = 5000) {
    Bytes out;
    pollfd p{fd, POLLIN, 0};
    while (out.size() < n && poll(&p, 1, timeout_ms) == 1) {
      unsigned char buf[2048];
      const ssize_t got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }
  Bytes exchange(int fd, const Bytes& request, size_t reply_size) {
    send_bytes(fd, request);
    return receive(fd, reply_size);
  }

  TempDir root_;
  FakeI2c i2c_;
  CommandHandler old_select_ = nullptr;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::vector<int> clients_;
};

TEST_F(ControlLoop, GreetsActivatesOnIacSbAndKeepsThePortAcrossClients) {
  const int a = connect_client();
  ASSERT_GE(a, 0);
  EXPECT_EQ(receive(a, 2), (Bytes{0x20, 0x20}));
  // Nothing is served before a buffer that begins with IAC SB, not even a lone IAC.
  send_bytes(a, Bytes{'h', 'i'} + frame(0, "secret"));
  EXPECT_TRUE(receive(a, 1, 300).empty());
  send_bytes(a, {0xFF});
  EXPECT_TRUE(receive(a, 1, 300).empty());
  EXPECT_EQ(exchange(a, frame(0, "secret"), 7), kLoginOk);
  // Once active, any buffer is dispatched; after the stray byte the scan ends in "Fetch
  // command error", and the reply built before it still goes out.
  EXPECT_EQ(exchange(a, Bytes{0x00} + frame(94, "\x02"), 7), port_reply(2));
  hang_up(a);

  // A new client starts logged out and inactive, on the port the last one selected.
  const int b = connect_client();
  ASSERT_GE(b, 0);
  EXPECT_EQ(receive(b, 2), (Bytes{0x20, 0x20}));
  send_bytes(b, {'x'});
  EXPECT_TRUE(receive(b, 1, 300).empty());
  EXPECT_EQ(exchange(b, frame(94, std::string(1, '\0')), 7), error_reply(94));
  EXPECT_EQ(exchange(b, frame(0, "secret") + frame(94, std::string(1, '\0')), 14),
            kLoginOk + port_reply(2));
  const std::string out = read_file(root_.file("daemon.out"));
  EXPECT_NE(out.find("tcp server accept ok\n"), std::string::npos);
  EXPECT_NE(out.find("Fetch command error\n"), std::string::npos);
}

TEST_F(ControlLoop, ServesAFullBufferAndOneClientAtATime) {
  const int a = connect_client();
  ASSERT_GE(a, 0);
  EXPECT_EQ(receive(a, 2), (Bytes{0x20, 0x20}));
  // 1024 bytes: 145 frames of 7 bytes and one of 9, all refused before login in one answer.
  Bytes full;
  for (int i = 0; i < 145; ++i) full = full + frame(1, "\x01");
  full = full + frame(2, "abc");
  ASSERT_EQ(full.size(), 1024u);
  const Bytes answer = exchange(a, full, 1022);
  ASSERT_EQ(answer.size(), 1022u);
  EXPECT_EQ(Bytes(answer.end() - 7, answer.end()), error_reply(2));

  // A second client waits in the backlog until the first has gone.
  const int b = connect_client();
  ASSERT_GE(b, 0);
  EXPECT_TRUE(receive(b, 2, 300).empty());
  hang_up(a);
  EXPECT_EQ(receive(b, 2), (Bytes{0x20, 0x20}));
}

}  // namespace
