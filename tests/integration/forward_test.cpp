// The forwarder in the real simulator, on pseudo-terminals the test holds, set by real stationctl.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

bool stationctl(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> command = {"env", "STATIONCTL_PASSWORD=quillet", "setsid"}, out(2);
  for (const std::string& w :
       program_command("stationctl", {std::istream_iterator<std::string>(in), {}}))
    command.push_back(w);
  return run_to_end(command, &out[0], &out[1], 60000) == 0;
}

long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

template <typename Cond>
bool wait_until(Cond cond, int timeout_ms = kWaitMs) {
  for (const auto start = Clock::now(); !cond(); usleep(10000))
    if (ms_since(start) > timeout_ms) return false;
  return true;
}

// 64 KiB, each byte value 256 times, each round shifted by one: a lost or reordered piece shows.
const std::string kAll = [] {
  std::string data(65536, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i + i / 256);
  return data;
}();

// Writes data from `sent` on into `from` (-1: none) while reading `to` until as many bytes came,
// `to` ended or ms passed; what came. pace_us > 0: 1 KiB at a time with a pause (datagrams).
std::string carry(int from, int to, const std::string& data, int pace_us = 0, std::size_t sent = 0,
                  int ms = kWaitMs) {
  std::string got;
  for (const auto start = Clock::now(); got.size() < data.size() && ms_since(start) < ms;) {
    pollfd fds[2] = {{to, POLLIN, 0}, {from, short(sent < data.size() ? POLLOUT : 0), 0}};
    if (poll(fds, 2, 100) < 0) break;
    if (fds[0].revents & POLLIN) {
      char buffer[8192];
      const ssize_t n = read(to, buffer, std::min(sizeof buffer, data.size() - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    if (fds[1].revents & POLLOUT) {
      const std::size_t piece = std::min<std::size_t>(pace_us ? 1024 : 4096, data.size() - sent);
      const ssize_t n = write(from, data.data() + sent, piece);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (pace_us) usleep(pace_us);
    }
  }
  return got;
}

std::string receive(int fd, std::size_t count) { return carry(-1, fd, std::string(count, 0)); }
bool both_ways(int net, int line, int pace_us = 0) {
  return carry(net, line, kAll, pace_us) == kAll && carry(line, net, kAll, pace_us) == kAll;
}

bool nothing_arrives(int fd, int ms) { return carry(-1, fd, "x", 0, 0, ms).empty(); }

// Writes bytes into `from`, then reads `to` a read (a datagram on UDP) at a time until count
// pieces came or 4 s passed; the pieces, each ended by "|", and when each came (*ms; -1: never).
std::string pieces(int from, const std::string& bytes, int to, std::size_t count,
                   std::vector<long>* ms) {
  std::string got;
  ms->assign(count, -1);
  if (write(from, bytes.data(), bytes.size()) != ssize_t(bytes.size())) return "write failed";
  const auto start = Clock::now();
  for (std::size_t k = 0; k < count && ms_since(start) < 4000;) {
    pollfd p{to, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = poll(&p, 1, 50) == 1 ? read(to, buffer, sizeof buffer) : 0;
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n)).append("|");
    if (n > 0) (*ms)[k++] = ms_since(start);
  }
  return got;
}

// Bound to local:port; with to_port connected to loopback's to_port, else (TCP) listening.
int test_socket(int type, uint16_t port, int to_port = -1, const char* local = kLoopback) {
  const int fd = socket(AF_INET, type, 0), on = 1, room = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a port the test left in TIME_WAIT
  if (type == SOCK_DGRAM)  // room for 64 KiB of small datagrams while the test is slow to read
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
  sockaddr_in a{AF_INET, htons(port), {}, {}}, to{AF_INET, htons(uint16_t(to_port)), {}, {}};
  inet_pton(AF_INET, local, &a.sin_addr);
  inet_pton(AF_INET, kLoopback, &to.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      (to_port >= 0 ? connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0
                    : type == SOCK_DGRAM || listen(fd, 4) == 0))
    return fd;
  close(fd);
  return -1;
}

int tcp_connect(uint16_t port) { return test_socket(SOCK_STREAM, 0, port); }

int accept_within(int server, int ms = kWaitMs) {
  pollfd p{server, POLLIN, 0};
  return poll(&p, 1, ms) == 1 ? accept(server, nullptr, nullptr) : -1;
}

bool closed_at_once(int fd) {
  pollfd p{fd, POLLIN, 0};
  char byte;
  return poll(&p, 1, kWaitMs) == 1 && read(fd, &byte, 1) == 0 && close(fd) == 0;
}

speed_t line_speed(int master) {
  termios t;
  return tcgetattr(master, &t) == 0 ? cfgetospeed(&t) : B0;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Forward : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int i = 0; i < 2; ++i) {
      char name[128];
      ASSERT_EQ(openpty(&master_[i], &slave_[i], name, nullptr, nullptr), 0);
      path_[i] = name;
    }
    start({"--serial", path_[0] + "," + path_[1]});
  }
  void TearDown() override {
    SimulatorTest::TearDown();
    for (int fd : {master_[0], master_[1], slave_[0], slave_[1]}) close(fd);
  }
  // (Re)starts the simulator; the forwarder's listeners come a moment after the daemon's.
  void start(const std::vector<std::string>& args = {}) {
    ASSERT_TRUE(!sim_ || sim_->stop(SIGTERM) == 0);
    ASSERT_TRUE(start_simulator(args));
    ASSERT_TRUE(wait_until([] { return tcp_listening(4660) && tcp_listening(4661); }));
  }
  std::string log() const { return read_file(root_file("var/log/stationfwd.log")); }
  bool log_shows(const std::string& text, std::size_t times = 1) const {
    return wait_until([&] { return count_of(log(), text) >= times; });
  }
  // {section, key, value}s of station.ini no command sets, edited by hand in one write.
  void set_keys(const std::vector<std::vector<std::string>>& keys) {
    std::string text = ini();
    for (const auto& k : keys) {
      const std::size_t at = text.find(k[1] + "=", text.find("[" + k[0] + "]"));
      text.replace(at, text.find('\n', at) - at, k[1] + "=" + k[2]);
    }
    write_file(root_file("mnt/jffs2/station.ini"), text);
  }

  std::string path_[2];
  int master_[2] = {-1, -1};
  int slave_[2] = {-1, -1};  // held, so that the masters read on while the forwarder reopens
};

// Line, listener and packing changes keep the server's client (a packet for the line ends at its
// delimiter or idle timer; send_interval spaces them); com_reply_all 0 answers only the asking.
TEST_F(Forward, TcpServerLimitFilterPackingAndChangesThatKeepItsClient) {
  const speed_t com1_speed = line_speed(master_[0]);
  ASSERT_TRUE(stationctl("--port 2 set link tcp-server --local-port 5002 --max-connections 1"));
  ASSERT_TRUE(wait_until([] { return tcp_listening(5002); })) << log();
  const int client = tcp_connect(5002);
  EXPECT_TRUE(both_ways(client, master_[1]));
  EXPECT_TRUE(nothing_arrives(master_[0], 100));   // COM1 saw none of it
  EXPECT_TRUE(closed_at_once(tcp_connect(5002)));  // over the limit of one
  EXPECT_TRUE(std::regex_search(read_file("/proc/net/tcp"),
                                std::regex("0100007F:138A \\S+ 01 \\S+ 02:00001")));  // keepalive

  ASSERT_TRUE(stationctl("--port 2 set serial --baud 57600"));
  EXPECT_TRUE(wait_until([&] { return line_speed(master_[1]) == B57600; }, 1000));
  EXPECT_EQ(carry(client, master_[1], "still"), "still");
  EXPECT_EQ(carry(master_[1], client, "there"), "there");
  ASSERT_TRUE(stationctl("--port 2 set link tcp-server --local-port 5003"));
  EXPECT_TRUE(wait_until([] { return tcp_listening(5003) && !tcp_listening(5002); }));
  ASSERT_TRUE(stationctl("--port 2 set delimiter tcp --flag 1 --timer 700 --chars 0a"));
  ASSERT_TRUE(log_shows("COM2: packing and timing keys in force")) << log();
  std::vector<long> ms;
  EXPECT_EQ(pieces(client, "line\nrest", master_[1], 2, &ms), "line\n|rest|");
  EXPECT_TRUE(ms[0] < 400 && ms[1] >= 650 && ms[1] <= 1700) << ms.back();
  set_keys({{"+COM2", "send_interval", "400"}});
  ASSERT_TRUE(log_shows("COM2: packing and timing keys in force", 2)) << log();
  EXPECT_EQ(pieces(client, "1\n2\n3\n", master_[1], 3, &ms), "1\n|2\n|3\n|");
  EXPECT_TRUE(ms[2] - ms[0] >= 750 && ms[2] <= 1800) << ms.back();
  close(client);
  EXPECT_EQ(line_speed(master_[0]), com1_speed);  // COM1 untouched throughout

  const std::size_t links = count_of(log(), "COM2: TCP server link");
  ASSERT_TRUE(stationctl("--port 2 set link tcp-server --max-connections 2 --ip-filter on "
                         "--source-ip " + std::string(kEth0Address)));
  ASSERT_TRUE(log_shows("COM2: TCP server link", links + 1)) << log();
  EXPECT_TRUE(closed_at_once(tcp_connect(5003)));  // from 127.0.0.1
  set_keys({{"COM2", "com_reply_all", "0"}, {"+COM2", "tranaction_timeout", "1000"},
            {"+COM2", "connect_time_out", "2"}, {"+COM2", "tcp_deli_flag", "0"}});
  ASSERT_TRUE(log_shows("COM2: packing and timing keys in force", 3)) << log();
  const int asking = test_socket(SOCK_STREAM, 0, 5003, kEth0Address),
            idle = test_socket(SOCK_STREAM, 0, 5003, kEth0Address);
  const auto connected = Clock::now();
  ASSERT_EQ(carry(asking, master_[1], "q"), "q");
  EXPECT_EQ(carry(master_[1], asking, "answer"), "answer");
  EXPECT_TRUE(nothing_arrives(idle, 200));
  usleep(1100000);  // the window has passed: nobody asked
  ASSERT_EQ(write(master_[1], "late", 4), 4);
  EXPECT_TRUE(nothing_arrives(asking, 300));
  EXPECT_EQ(receive(idle, 1), "");  // closed, not answered
  EXPECT_TRUE(ms_since(connected) >= 1900 && ms_since(connected) <= 4500) << ms_since(connected);
  for (int fd : {asking, idle}) close(fd);
}

// No destination outside the namespace; the newest 4 KiB wait while one is down; about 1 try/s.
TEST_F(Forward, TcpClientKeepsTheNewest4KiBAndReconnectsWithoutHammering) {
  int server = test_socket(SOCK_STREAM, 6001);
  ASSERT_TRUE(stationctl("set link tcp-client --dest1-ip 127.0.0.1 --dest1-port 6001 "
                         "--dest2 on --dest2-ip 10.77.9.9 --dest2-port 6001"));
  int peer = accept_within(server);
  ASSERT_TRUE(log_shows("connected to 127.0.0.1:6001")) << log();
  EXPECT_TRUE(both_ways(peer, master_[0]));
  EXPECT_NE(log().find("COM1: destination 2 10.77.9.9:6001 refused"), std::string::npos) << log();

  for (int fd : {peer, server}) close(fd);
  ASSERT_TRUE(log_shows("6001 closed")) << log();
  const std::string meanwhile = kAll.substr(0, 10240);
  ASSERT_EQ(write(master_[0], meanwhile.data(), meanwhile.size()), ssize_t(meanwhile.size()));
  usleep(300000);
  server = test_socket(SOCK_STREAM, 6001);
  peer = accept_within(server, 10000);
  EXPECT_TRUE(receive(peer, 4096) == meanwhile.substr(meanwhile.size() - 4096));
  EXPECT_TRUE(nothing_arrives(peer, 200));
  close(peer);

  int attempts = 0;
  for (const auto start = Clock::now(); ms_since(start) < 3500;)  // 1 s after each loss
    attempts += close(accept_within(server, 100)) == 0;
  EXPECT_TRUE(attempts >= 2 && attempts < 17) << attempts;
  peer = accept_within(server, 10000);
  EXPECT_EQ(carry(master_[0], peer, "back"), "back");
  for (int fd : {peer, server}) close(fd);
}

// A datagram is a packet: it ends at its delimiter (CR LF in sequence, kept), its size, or the
// line idle for the timer (ms or character times). A range gets one each; 0.0.0.0 begins none.
TEST_F(Forward, UdpPacketsGoToTheirRangeAndDatagramsFromAnyoneToTheLine) {
  ASSERT_TRUE(stationctl("set link udp --local-port 6003 --entry 1 --dest-port 6002 "
                         "--begin-ip 127.0.0.1 --end-ip 127.0.0.1"));
  ASSERT_TRUE(log_shows("UDP on port 6003")) << log();
  const int peer = test_socket(SOCK_DGRAM, 6002, 6003);
  EXPECT_TRUE(both_ways(peer, master_[0], 2000));
  ASSERT_TRUE(stationctl("set delimiter uart --flag 1 --timer 600 --chars 0d0a --max-bytes 8"));
  ASSERT_TRUE(log_shows("COM1: packing and timing keys in force")) << log();
  std::vector<long> ms;
  EXPECT_EQ(pieces(master_[0], "a\rb\r\ncd\r\n0123456789", peer, 4, &ms),
            "a\rb\r\n|cd\r\n|01234567|89|");
  EXPECT_TRUE(ms[2] < 400 && ms[3] >= 550 && ms[3] <= 1500) << ms.back();
  // 109 character times of 11 bits (start, 7 data, parity, 2 stop) at 1200 baud: 999.2 ms.
  ASSERT_TRUE(stationctl("set delimiter uart --timer 32877 --chars none"));
  ASSERT_TRUE(stationctl("set serial --baud 1200 --data-bits 7 --parity even --stop-bits 2"));
  ASSERT_TRUE(log_shows("COM1: packing and timing keys in force", 2)) << log();
  ASSERT_TRUE(wait_until([&] { return line_speed(master_[0]) == B1200; }));
  EXPECT_EQ(pieces(master_[0], "xy", peer, 1, &ms), "xy|");
  EXPECT_TRUE(ms[0] >= 990 && ms[0] <= 2000) << ms.back();

  const int range = test_socket(SOCK_DGRAM, 6004, -1, "0.0.0.0"), on = 1;
  setsockopt(range, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  ASSERT_TRUE(stationctl("set link udp --entry 2 --enable on --dest-port 6004 --begin-ip "
                         "127.0.0.2 --end-ip 127.0.0.5 --entry 3 --enable on --dest-port 6004 "
                         "--begin-ip 0.0.0.0 --end-ip 127.0.0.9"));
  ASSERT_TRUE(log_shows("6003, 5 destinations")) << log();
  ASSERT_EQ(write(master_[0], "ping", 4), 4);
  std::string reached;  // in the order sent
  for (pollfd p{range, POLLIN, 0}; poll(&p, 1, 2500) == 1;) {  // a packet leaves after 1 s
    char payload[16], control[64], text[INET_ADDRSTRLEN];
    iovec io{payload, sizeof payload};
    msghdr m{nullptr, 0, &io, 1, control, sizeof control, 0};
    ASSERT_EQ(recvmsg(range, &m, 0), 4);
    const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(CMSG_FIRSTHDR(&m)));
    reached += inet_ntop(AF_INET, &info->ipi_addr, text, sizeof text) + std::string(" ");
  }
  EXPECT_EQ(reached, "127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5 ");
  for (int fd : {peer, range}) close(fd);
}

// One port that cannot be opened leaves the other serving; station.ini is read whole or not at all.
TEST_F(Forward, OnePortMissingAFileCaughtMidRewriteNullModemsAndTwoHundredNotices) {
  start({"--serial", "/nonexistent/tty," + path_[1]});
  const int com1_client = tcp_connect(4660), client = tcp_connect(4661);  // lines open for them
  EXPECT_TRUE(log_shows("COM1: cannot open /nonexistent/tty")) << log();
  EXPECT_EQ(carry(client, master_[1], "com2"), "com2");
  std::string faster = ini();
  faster.replace(faster.find("=9600", faster.find("[COM2]")), 5, "=115200");
  write_file(root_file("mnt/jffs2/station.ini"), faster.substr(0, faster.find("[+COM2]")));
  usleep(500000);
  EXPECT_EQ(line_speed(master_[1]), B9600);  // a text without [+COM2] is not taken
  write_file(root_file("mnt/jffs2/station.ini"), faster);
  EXPECT_TRUE(wait_until([&] { return line_speed(master_[1]) == B115200; }, 3000));
  EXPECT_EQ(carry(master_[1], client, "kept"), "kept");
  for (int fd : {com1_client, client}) close(fd);

  // Without --serial DIR/dev/com1 and com2 are null-modem ends while the simulator runs. The
  // forwarder drains 200 notices as fast as they come: the daemon never blocks on the queue.
  start();
  const int com2 = open(root_file("dev/com2").c_str(), O_RDWR | O_NOCTTY);
  const int tcp = tcp_connect(4661);
  EXPECT_TRUE(both_ways(tcp, com2));  // raw as the simulator made it
  for (int fd : {tcp, com2}) close(fd);
  auto control = greeted_client(kEth0Address, true);
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(control->send(
        frame(kSelectPort, std::string(1, char(1 + i % 2))) +
        frame(kSetBaudrate, std::string("\0\0\x4b\0\0\0\x96\0", 8).substr(i % 2 * 4, 4))));
    ASSERT_EQ(control->read(17, 5000).size(), 17u) << i;
  }
  const auto asked = Clock::now();
  ASSERT_TRUE(control->send(frame(kGetAll)));
  EXPECT_EQ(control->read(3, 5000), std::string("\xff\xfa\x2c"));
  EXPECT_LT(ms_since(asked), 1000);
  const std::string notices = root_file("var/log/forwarder.log");
  EXPECT_TRUE(wait_until([&] { return count_of(read_file(notices), "\n") == 200; }));
  EXPECT_EQ(sim_->stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(root_file("dev/com1")) ||
               std::filesystem::is_symlink(root_file("dev/com2")));
}

// COM1's line is held by XOFF while its client sends on; COM2 keeps moving, and its client, that
// reads late, loses nothing; after XON all of COM1's arrives.
// Then pyserial's RFC 2217 client sets COM2's line for its session only; 0xFF passes both ways.
TEST_F(Forward, AHeldLineStallsNothingElseAndAnRfc2217ClientSetsItsLineForTheSession) {
  ASSERT_TRUE(stationctl("--port 1 set serial --flow xon-xoff"));
  const int held = tcp_connect(4660), small = 4096;  // the kernel holds little of what it sends
  setsockopt(held, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  termios t{};
  ASSERT_TRUE(wait_until([&] { return tcgetattr(master_[0], &t) == 0 && (t.c_iflag & IXON); }));
  ASSERT_EQ(write(master_[0], "\x13", 1), 1);
  std::string big;
  for (int i = 0; i < 16; ++i) big += kAll;
  std::size_t sent = 0;
  for (auto start = Clock::now(); ms_since(start) < 500;) {
    const ssize_t n = send(held, big.data() + sent, 4096, MSG_DONTWAIT);
    n > 0 ? sent += static_cast<std::size_t>(n) : usleep(10000);
  }
  ASSERT_LT(sent, big.size() / 2);  // the held line backs up into the client's socket
  const std::string early = carry(-1, master_[0], big, 0, 0, 200);
  EXPECT_TRUE(nothing_arrives(master_[0], 300));
  // Sockets of this namespace hold little, so that COM2's client, reading nothing for a while,
  // fills the forwarder's queue for it too; nothing may be lost once it reads.
  for (const char* sysctl : {"tcp_wmem", "tcp_rmem"})
    write_file(std::string("/proc/sys/net/ipv4/") + sysctl, "4096 8192 16384");
  const int other = tcp_connect(4661), flags = fcntl(master_[1], F_GETFL);
  EXPECT_TRUE(carry(other, master_[1], kAll) == kAll);  // COM2 moves, and its client is in
  fcntl(master_[1], F_SETFL, flags | O_NONBLOCK);
  std::size_t ahead = 0;
  for (auto start = Clock::now(); ms_since(start) < 300;) {
    const ssize_t n = write(master_[1], big.data() + ahead, 4096);
    n > 0 ? ahead += static_cast<std::size_t>(n) : usleep(10000);
  }
  EXPECT_TRUE(carry(master_[1], other, big, 0, ahead) == big);
  fcntl(master_[1], F_SETFL, flags);
  ASSERT_EQ(write(master_[0], "\x11", 1), 1);
  EXPECT_TRUE(early + carry(held, master_[0], big.substr(early.size()), 0, sent - early.size()) ==
              big);
  for (int fd : {other, held}) close(fd);

  ASSERT_TRUE(stationctl("--port 2 set tcp-mode virtual-com"));
  ASSERT_TRUE(log_shows("COM2: TCP server link", 2)) << log();
  const char* script =
      "import serial\ns = serial.serial_for_url('rfc2217://127.0.0.1:4661', baudrate=19200, "
      "bytesize=7, parity='E', stopbits=2, timeout=15)\ns.write(b'\\xff\\x00\\xffA')\n"
      "print(s.read(3).hex())\n";
  std::string out, err;
  std::thread client([&] { run_to_end({"/usr/bin/python3", "-c", script}, &out, &err); });
  EXPECT_EQ(receive(master_[1], 4), std::string("\xff\x00\xff\x41", 4));
  EXPECT_TRUE(tcgetattr(master_[1], &t) == 0 && cfgetospeed(&t) == B19200 && (t.c_cflag & CSTOPB));
  EXPECT_EQ(write(master_[1], "\xff\xfe\xff", 3), 3);
  client.join();
  EXPECT_EQ(out, "fffeff\n") << err;
  EXPECT_TRUE(wait_until([&] { return line_speed(master_[1]) == B9600; }, 3000));
  EXPECT_EQ(ini().find("19200"), std::string::npos);  // the session's never in station.ini
}

}  // namespace
