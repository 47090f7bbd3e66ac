#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "client/tcp_transport.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "service/control_loop.h"
#include "storage/eeprom_map.h"
#include "support/fake_i2c.h"
#include "support/socket_faults.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;
const std::string kLogin = "\xFF\xFA\x2C\x00secret\xFF\xF0"s;
const std::string kLoginOk = "\xFF\xFA\x2C\x64S\xFF\xF0"s;

uint16_t free_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
  getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len);
  close(s);
  return ntohs(sin.sin_port);
}

// Connects (retrying while the daemon starts), sends `request` after the greeting and
// returns what arrives within the time-out; "" when it could not connect.
std::string exchange(uint16_t port, const std::string& request, std::string* greeting) {
  TcpOptions options;
  options.retry_ms = 2000;
  std::string why;
  const int s = tcp_open("127.0.0.1", port, options, &why);
  if (s < 0) return "";
  // Each receive waits 300 ms at most: a reset or a cut transfer must not hold the test up.
  std::vector<unsigned char> got;
  tcp_receive(s, &got, 2, 300);
  greeting->assign(got.begin(), got.end());
  tcp_send_all(s, request.data(), request.size(), 300);
  got.clear();
  while (got.size() < kLoginOk.size() && tcp_receive(s, &got, 64, 300) == TcpStatus::kOk) {
  }
  close(s);
  return std::string(got.begin(), got.end());
}

// The real control loop in a child whose socket calls are cut short and reset at random
// until SIGUSR1: afterwards a correct client is served as on the first day.
TEST(ControlLoopFaults, ServesACorrectClientAfterShortAndFailedTransfers) {
  TempDir dir;
  ASSERT_EQ(prepare_device_root(dir.path().c_str()), 0);
  FakeI2c chip;
  set_eePassword("secret\0\0");
  const uint16_t port = free_port();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    signal(SIGPIPE, SIG_IGN);
    struct sigaction off {};
    off.sa_handler = [](int) { socket_faults_off(); };
    off.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &off, nullptr);
    socket_faults_on(20261206);
    control_session_loop(static_cast<PortTable*>(std::calloc(1, sizeof(PortTable))), port);
    _exit(1);
  }

  int served = 0, faulted = 0;
  std::string greeting;
  for (int i = 0; i < 60; ++i) {
    const std::string reply = exchange(port, kLogin, &greeting);
    (reply == kLoginOk && greeting == "  " ? served : faulted)++;
  }
  RecordProperty("served", served);
  RecordProperty("faulted", faulted);
  EXPECT_GT(faulted, 0);  // the wrapper did cut and reset transfers
  EXPECT_GT(served, 0);   // and clean draws still got through
  kill(child, SIGUSR1);
  usleep(100000);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(exchange(port, kLogin, &greeting), kLoginOk);
    EXPECT_EQ(greeting, "  ");
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);  // still running
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  set_root(nullptr);
}

}  // namespace
