// The forwarder inside the real simulator, in the test's own namespaces: serial lines are
// pseudo-terminals the test made (it holds the masters), settings are changed with the real
// stationctl, and the network peers are real sockets on loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

int stationctl(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<std::string> command = {"env", "STATIONCTL_PASSWORD=quillet", "setsid"};
  for (const std::string& w : program_command("stationctl", words)) command.push_back(w);
  std::string out, err;
  const int status = run_to_end(command, &out, &err, 60000);
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 64 KiB in which every byte value comes round 256 times, each round shifted by one, so
// that a lost, doubled or reordered piece shows.
std::string all_bytes() {
  std::string data(65536, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i + i / 256);
  return data;
}

// Writes data into `from` while reading `to`, until as many bytes arrived or the time ran
// out; what arrived. pace_us > 0 writes 1 KiB at a time with a pause (datagrams). sent: the
// bytes of data written before.
std::string carry(int from, int to, const std::string& data, int pace_us = 0,
                  std::size_t sent = 0) {
  std::string got;
  const auto end = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (got.size() < data.size() && Clock::now() < end) {
    pollfd fds[2] = {{to, POLLIN, 0}, {from, short(sent < data.size() ? POLLOUT : 0), 0}};
    if (poll(fds, 2, 100) < 0) break;
    if (fds[0].revents & POLLIN) {
      char buffer[8192];
      const ssize_t n = read(to, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
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

// Up to count bytes from fd, fewer when the time runs out or the peer closes.
std::string receive(int fd, std::size_t count) {
  std::string got;
  const auto end = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (got.size() < count && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    if (poll(&p, 1, 100) != 1) continue;
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

bool nothing_arrives(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

int tcp_connect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A socket of the test on loopback: a listener (TCP) or a bound datagram socket (UDP).
int bound_socket(int type, uint16_t port) {
  const int fd = socket(AF_INET, type, 0);
  const int on = 1;  // a port left in TIME_WAIT by the test's own close is taken again
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && listen(fd, 4) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Waits until cond() holds; the milliseconds it took, or -1 when the time ran out.
template <typename Cond>
long wait_until(Cond cond, int timeout_ms = kWaitMs) {
  const auto start = Clock::now();
  while (!cond()) {
    if (Clock::now() - start > std::chrono::milliseconds(timeout_ms)) return -1;
    usleep(10000);
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

speed_t line_speed(int master) {
  termios t;
  return tcgetattr(master, &t) == 0 ? cfgetospeed(&t) : B0;
}

long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// What arrives on fd, one piece per read (a datagram on UDP), and when (ms from start), until
// count pieces came or the time ran out.
std::vector<std::pair<std::string, long>> arrivals(int fd, Clock::time_point start,
                                                   std::size_t count, int ms) {
  std::vector<std::pair<std::string, long>> got;
  for (pollfd p{fd, POLLIN, 0}; got.size() < count && ms_since(start) < ms;) {
    char buffer[4096];
    const ssize_t n = poll(&p, 1, 50) == 1 ? read(fd, buffer, sizeof buffer) : 0;
    if (n > 0) got.emplace_back(std::string(buffer, static_cast<std::size_t>(n)), ms_since(start));
  }
  return got;
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
    // Tests named Own... start the simulator themselves.
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    if (!test.starts_with("Own")) {
      ASSERT_TRUE(start_simulator({"--serial", path_[0] + "," + path_[1]}));
      // The daemon listens first; the forwarder's own listeners come a moment later.
      ASSERT_NE(wait_until([] { return tcp_listening(4660) && tcp_listening(4661); }), -1);
    }
  }
  void TearDown() override {
    SimulatorTest::TearDown();
    for (int fd : {master_[0], master_[1], slave_[0], slave_[1]})
      if (fd >= 0) close(fd);
  }
  std::string log() const { return read_file(root_file("var/log/stationfwd.log")); }
  bool log_shows(const std::string& text, std::size_t times = 1) const {
    return wait_until([&] { return count_of(log(), text) >= times; }) != -1;
  }
  // Sets keys of station.ini by hand in one write, as a person editing the file would (the
  // keys the daemon has no command for): {section, key, value} each.
  void set_keys(const std::vector<std::vector<std::string>>& keys) {
    std::string text = ini();
    for (const auto& k : keys) {
      const std::size_t at = text.find(k[1] + "=", text.find("[" + k[0] + "]"));
      ASSERT_NE(at, std::string::npos) << k[1];
      text.replace(at, text.find('\n', at) - at, k[1] + "=" + k[2]);
    }
    write_file(root_file("mnt/jffs2/station.ini"), text);
  }

  std::string path_[2];
  int master_[2] = {-1, -1};
  int slave_[2] = {-1, -1};  // held, so that the masters read on while the forwarder reopens
};

TEST_F(Forward, TcpServerCarriesEveryByteAndKeepsItsClientsAcrossChanges) {
  const std::string data = all_bytes();
  const speed_t com1_speed = line_speed(master_[0]);
  ASSERT_EQ(stationctl("--port 2 set link tcp-server --local-port 5002 --max-connections 1"), 0);
  ASSERT_NE(wait_until([] { return tcp_listening(5002); }), -1) << log();
  const int client = tcp_connect(5002);
  ASSERT_GE(client, 0);
  EXPECT_TRUE(carry(client, master_[1], data) == data);
  EXPECT_TRUE(carry(master_[1], client, data) == data);
  EXPECT_TRUE(nothing_arrives(master_[0], 100));  // COM1 saw none of it
  // A second client is over the limit of one.
  const int second = tcp_connect(5002);
  char byte;
  EXPECT_EQ(read(second, &byte, 1), 0);
  close(second);

  // A new rate is on the line within a second, and the client stays connected.
  ASSERT_EQ(stationctl("--port 2 set serial --baud 57600"), 0);
  const long took = wait_until([&] { return line_speed(master_[1]) == B57600; }, 3000);
  EXPECT_NE(took, -1);
  EXPECT_LE(took, 1000);
  EXPECT_EQ(carry(client, master_[1], "still"), "still");
  EXPECT_EQ(carry(master_[1], client, "there"), "there");

  // A new local port moves the listener; the client already served stays.
  ASSERT_EQ(stationctl("--port 2 set link tcp-server --local-port 5003"), 0);
  EXPECT_NE(wait_until([] { return tcp_listening(5003) && !tcp_listening(5002); }), -1);
  EXPECT_EQ(carry(client, master_[1], "moved"), "moved");
  close(client);
  EXPECT_EQ(line_speed(master_[0]), com1_speed);  // COM1 untouched throughout
}

TEST_F(Forward, TcpClientReachesItsDestinationAndNothingOutsideTheNamespace) {
  const std::string data = all_bytes();
  const int server = bound_socket(SOCK_STREAM, 6001);
  ASSERT_GE(server, 0);
  // Destination 2 is an address no interface of the namespace has: the fence refuses it.
  ASSERT_EQ(stationctl("set link tcp-client --dest1-ip 127.0.0.1 --dest1-port 6001 --dest2 on "
                       "--dest2-ip 10.77.9.9 --dest2-port 6001"),
            0);
  pollfd p{server, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, kWaitMs), 1);
  const int peer = accept(server, nullptr, nullptr);
  // Until the forwarder sees its connection made, the newest 4 KiB alone wait for it.
  ASSERT_NE(wait_until([&] { return log().find("connected to 127.0.0.1:6001") != std::string::npos; }), -1);
  EXPECT_TRUE(carry(master_[0], peer, data) == data);
  EXPECT_TRUE(carry(peer, master_[0], data) == data);
  EXPECT_NE(log().find("COM1: destination 2 10.77.9.9:6001 refused"), std::string::npos) << log();

  // The destination goes away; what the line says meanwhile is kept, its newest 4 KiB, and
  // arrives when the destination is back.
  close(peer);
  close(server);
  ASSERT_NE(wait_until([&] { return log().find("6001 closed") != std::string::npos; }), -1);
  const std::string meanwhile = data.substr(0, 10240);
  ASSERT_EQ(write(master_[0], meanwhile.data(), meanwhile.size()), ssize_t(meanwhile.size()));
  usleep(300000);
  const int again = bound_socket(SOCK_STREAM, 6001);
  ASSERT_GE(again, 0) << std::strerror(errno);
  p.fd = again;
  ASSERT_EQ(poll(&p, 1, 10000), 1);  // the second retry comes 1 + 2 s after the loss
  const int back = accept(again, nullptr, nullptr);
  const std::string kept = receive(back, 4096);
  EXPECT_TRUE(kept == meanwhile.substr(meanwhile.size() - 4096)) << kept.size();
  EXPECT_TRUE(nothing_arrives(back, 200));
  close(back);
  close(again);
}

TEST_F(Forward, UdpSendsToItsRangeAndTakesDatagramsFromAnyone) {
  const std::string data = all_bytes();
  const int peer = bound_socket(SOCK_DGRAM, 6002);
  ASSERT_GE(peer, 0);
  // Room for all of it at once even if this process is slow to read (under an emulator on a
  // busy machine the line may leave in many small datagrams, each costing a buffer).
  const int room = 4 << 20;
  setsockopt(peer, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
  ASSERT_EQ(stationctl("set link udp --local-port 6003 --entry 1 --dest-port 6002 --begin-ip "
                       "127.0.0.1 --end-ip 127.0.0.1"),
            0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(6003);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_NE(wait_until([&] { return log().find("UDP on port 6003") != std::string::npos; }), -1);
  ASSERT_EQ(connect(peer, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const std::string sent = carry(master_[0], peer, data, 2000);
  EXPECT_TRUE(sent == data) << sent.size();
  const std::string taken = carry(peer, master_[0], data, 2000);
  EXPECT_TRUE(taken == data) << taken.size();
  close(peer);

  // A range gets one datagram per address; an entry beginning at 0.0.0.0 gets none.
  const int range = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(6004);
  ASSERT_EQ(bind(range, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  const int on = 1;
  setsockopt(range, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  ASSERT_EQ(stationctl("set link udp --entry 2 --enable on --dest-port 6004 --begin-ip 127.0.0.2 "
                       "--end-ip 127.0.0.5 --entry 3 --enable on --dest-port 6004 --begin-ip "
                       "0.0.0.0 --end-ip 127.0.0.9"),
            0);
  ASSERT_NE(wait_until([&] { return log().find("6003, 5 destinations") != std::string::npos; }),
            -1);
  ASSERT_EQ(write(master_[0], "ping", 4), 4);
  std::multiset<std::string> reached;
  for (pollfd p{range, POLLIN, 0}; poll(&p, 1, 500) == 1;) {
    char payload[16], control[64];
    iovec io{payload, sizeof payload};
    msghdr m{};
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ASSERT_EQ(recvmsg(range, &m, 0), 4);
    const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(CMSG_FIRSTHDR(&m)));
    char text[INET_ADDRSTRLEN];
    reached.insert(inet_ntop(AF_INET, &info->ipi_addr, text, sizeof text));
  }
  EXPECT_EQ(reached, (std::multiset<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4",
                                                 "127.0.0.5"}));
  close(range);
}

TEST_F(Forward, ServerAdmitsOnlyTheFilteredSource) {
  ASSERT_EQ(stationctl("set link tcp-server --local-port 5004 --max-connections 4 --ip-filter on "
                       "--source-ip " + std::string(kEth0Address)),
            0);
  ASSERT_NE(wait_until([] { return tcp_listening(5004); }), -1);
  ASSERT_NE(wait_until([&] { return log().find("COM1: listening on TCP port 5004") !=
                                    std::string::npos; }), -1);
  const int stranger = tcp_connect(5004);  // from 127.0.0.1
  char byte;
  EXPECT_EQ(read(stranger, &byte, 1), 0);
  close(stranger);
  const int admitted = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, kEth0Address, &a.sin_addr);
  ASSERT_EQ(bind(admitted, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  a.sin_port = htons(5004);
  ASSERT_EQ(connect(admitted, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(carry(admitted, master_[0], "in"), "in");
  close(admitted);
}

// The forwarder reads station.ini whole or not at all, and one port that cannot be opened
// leaves the other serving.
TEST_F(Forward, OwnPortsOneMissingAndAFileCaughtMidRewrite) {
  ASSERT_TRUE(start_simulator({"--serial", "/nonexistent/tty," + path_[1]}));
  ASSERT_NE(wait_until([] { return tcp_listening(4660) && tcp_listening(4661); }), -1);
  // With com_always_open 0 a line is opened once a client is there.
  const int com1_client = tcp_connect(4660);
  EXPECT_NE(wait_until([&] { return log().find("COM1: cannot open /nonexistent/tty") !=
                                    std::string::npos; }), -1) << log();
  close(com1_client);
  const int client = tcp_connect(4661);
  EXPECT_EQ(carry(client, master_[1], "com2"), "com2");
  const std::string whole = ini();
  std::string faster = whole;
  faster.replace(faster.find("com_baud_rate=9600", faster.find("[COM2]")), 18,
                 "com_baud_rate=115200");
  write_file(root_file("mnt/jffs2/station.ini"), faster.substr(0, faster.find("[+COM2]")));
  usleep(500000);
  EXPECT_EQ(line_speed(master_[1]), B9600);  // a text without [+COM2] is not taken
  write_file(root_file("mnt/jffs2/station.ini"), faster);
  EXPECT_NE(wait_until([&] { return line_speed(master_[1]) == B115200; }, 3000), -1);
  EXPECT_EQ(carry(master_[1], client, "kept"), "kept");
  close(client);
}

// Without --serial the simulator makes the ports: DIR/dev/com1 and com2 are the far ends of
// null-modem pairs, there while it runs and gone after.
TEST_F(Forward, OwnNullModemsArePublishedWhileTheSimulatorRuns) {
  ASSERT_TRUE(start_simulator());
  ASSERT_NE(wait_until([] { return tcp_listening(4660) && tcp_listening(4661); }), -1);
  const int com2 = open(root_file("dev/com2").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(com2, 0);
  termios raw;
  ASSERT_EQ(tcgetattr(com2, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(com2, TCSANOW, &raw), 0);
  const int client = tcp_connect(4661);
  const std::string data = all_bytes();
  EXPECT_TRUE(carry(client, com2, data) == data);
  EXPECT_TRUE(carry(com2, client, data) == data);
  close(client);
  close(com2);
  EXPECT_EQ(sim_->out().find("COM"), std::string::npos);  // its messages go to its own log
  EXPECT_EQ(sim_->stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(root_file("dev/com1")) ||
               std::filesystem::is_symlink(root_file("dev/com2")));
}

// Serial to network by UDP, one datagram a packet: a packet ends at its delimiter (CR LF in
// sequence, kept), at its size, or when the line was idle for the timer, in milliseconds or
// in character times at the line's rate.
TEST_F(Forward, PacketsLeaveAtTheirDelimiterTheirSizeOrAnIdleLine) {
  const int peer = bound_socket(SOCK_DGRAM, 6010);
  ASSERT_EQ(stationctl("set delimiter uart --flag 1 --timer 600 --chars 0d0a --max-bytes 8"), 0);
  ASSERT_EQ(stationctl("set link udp --local-port 6011 --entry 1 --dest-port 6010 --begin-ip "
                       "127.0.0.1 --end-ip 127.0.0.1"),
            0);
  ASSERT_TRUE(log_shows("UDP on port 6011")) << log();
  auto start = Clock::now();
  ASSERT_EQ(write(master_[0], "a\rb\r\ncd\r\n0123456789", 19), 19);
  auto got = arrivals(peer, start, 4, 3000);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].first + "|" + got[1].first + "|" + got[2].first + "|" + got[3].first,
            "a\rb\r\n|cd\r\n|01234567|89");
  EXPECT_LT(got[2].second, 400);
  EXPECT_TRUE(got[3].second >= 550 && got[3].second <= 1500) << got[3].second;

  // 109 character times of 11 bits (start, 7 data, parity, 2 stop) at 1200 baud: 999.2 ms,
  // a packet's earliest time.
  ASSERT_EQ(stationctl("set delimiter uart --timer 32877 --chars none"), 0);
  ASSERT_EQ(stationctl("set serial --baud 1200 --data-bits 7 --parity even --stop-bits 2"), 0);
  ASSERT_TRUE(log_shows("COM1: packing and timing keys in force")) << log();
  ASSERT_NE(wait_until([&] { return line_speed(master_[0]) == B1200; }), -1);
  start = Clock::now();
  ASSERT_EQ(write(master_[0], "xy", 2), 2);
  got = arrivals(peer, start, 1, 4000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, "xy");
  EXPECT_TRUE(got[0].second >= 990 && got[0].second <= 2000) << got[0].second;
  close(peer);
}

// Network to serial: a packet reaches the line at its delimiter or after the idle timer, and
// send_interval spaces the packets; the client's connection stays across those changes.
TEST_F(Forward, NetworkPacketsReachTheLineAtTheirDelimiterOrTimerAndSpaced) {
  const int client = tcp_connect(4661);
  ASSERT_EQ(stationctl("--port 2 set delimiter tcp --flag 1 --timer 700 --chars 0a"), 0);
  ASSERT_TRUE(log_shows("COM2: packing and timing keys in force")) << log();
  auto start = Clock::now();
  ASSERT_EQ(write(client, "line\nrest", 9), 9);
  auto got = arrivals(master_[1], start, 2, 3000);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].first + "|" + got[1].first, "line\n|rest");
  EXPECT_LT(got[0].second, 400);
  EXPECT_TRUE(got[1].second >= 650 && got[1].second <= 1700) << got[1].second;

  set_keys({{"+COM2", "send_interval", "400"}});
  ASSERT_TRUE(log_shows("COM2: packing and timing keys in force", 2)) << log();
  start = Clock::now();
  ASSERT_EQ(write(client, "1\n2\n3\n", 6), 6);
  got = arrivals(master_[1], start, 3, 3000);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(got[2].second - got[0].second >= 750 && got[2].second <= 1800) << got[2].second;
  close(client);
}

// pyserial's RFC 2217 client opens COM2 with its own settings: the line has them while the
// session lasts and station.ini's after; 0xFF passes both ways.
TEST_F(Forward, Rfc2217ClientSetsItsLineForTheSessionAnd0xFFPasses) {
  ASSERT_EQ(stationctl("--port 2 set tcp-mode virtual-com"), 0);
  ASSERT_TRUE(log_shows("COM2: TCP server link", 2)) << log();
  const char* script =
      "import serial\n"
      "s = serial.serial_for_url('rfc2217://127.0.0.1:4661', baudrate=19200, bytesize=7,\n"
      "                          parity='E', stopbits=2, timeout=15)\n"
      "s.write(b'\\xff\\x00\\xffA')\n"
      "print(s.read(3).hex())\n";
  std::string out, err;
  std::thread client([&] { run_to_end({"/usr/bin/python3", "-c", script}, &out, &err); });
  EXPECT_EQ(receive(master_[1], 4), std::string("\xff\x00\xff"
                                                "A",
                                                4));
  termios t{};
  tcgetattr(master_[1], &t);
  EXPECT_TRUE(cfgetospeed(&t) == B19200 && (t.c_cflag & CSTOPB));
  EXPECT_EQ(write(master_[1], "\xff\xfe\xff", 3), 3);
  client.join();
  EXPECT_EQ(out, "fffeff\n") << err;
  EXPECT_NE(wait_until([&] { return line_speed(master_[1]) == B9600; }, 3000), -1);
  EXPECT_EQ(ini().find("19200"), std::string::npos);  // the session's never in station.ini
}

// COM1's line is held by XOFF while its client sends on; COM2 keeps moving, and once XON
// comes, COM1's bytes all arrive in order.
TEST_F(Forward, AHeldLineStallsNothingElse) {
  ASSERT_EQ(stationctl("--port 1 set serial --flow xon-xoff"), 0);
  const int held = tcp_connect(4660), small = 4096;  // the kernel holds little of what it sends
  setsockopt(held, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  termios t{};
  ASSERT_NE(wait_until([&] { return tcgetattr(master_[0], &t) == 0 && (t.c_iflag & IXON); }), -1);
  ASSERT_EQ(write(master_[0], "\x13", 1), 1);
  std::string big = all_bytes();
  for (int i = 0; i < 4; ++i) big += big;
  std::size_t sent = 0;
  for (auto start = Clock::now(); ms_since(start) < 500;) {
    const ssize_t n = send(held, big.data() + sent, 4096, MSG_DONTWAIT);
    n > 0 ? sent += static_cast<std::size_t>(n) : usleep(10000);
  }
  ASSERT_LT(sent, big.size() / 2);  // the held line backs up into the client's socket
  // What passed before the kernel took the XOFF is kept; then the line is held.
  std::string early;
  for (const auto& a : arrivals(master_[0], Clock::now(), 1000, 200)) early += a.first;
  EXPECT_TRUE(nothing_arrives(master_[0], 300));

  const int other = tcp_connect(4661);
  const std::string data = all_bytes();
  EXPECT_TRUE(carry(other, master_[1], data) == data && carry(master_[1], other, data) == data);
  ASSERT_EQ(write(master_[0], "\x11", 1), 1);
  EXPECT_TRUE(early + carry(held, master_[0], big.substr(early.size()), 0, sent - early.size()) ==
              big);
  close(other);
  close(held);
}

// 200 change notices in a burst: the forwarder takes them as fast as the daemon sends, so
// the daemon, which would block on a full queue, answers a get-all at once after.
TEST_F(Forward, TwoHundredNoticesLeaveTheDaemonAnswering) {
  auto client = greeted_client(kEth0Address, true);
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(client->send(
        frame(kSelectPort, std::string(1, char(1 + i % 2))) +
        frame(kSetBaudrate, std::string("\0\0\x4b\0\0\0\x96\0", 8).substr(i % 2 * 4, 4))));
    ASSERT_EQ(client->read(17, 5000).size(), 17u) << i;
  }
  const auto start = Clock::now();
  ASSERT_TRUE(client->send(frame(kGetAll)));
  EXPECT_EQ(client->read(3, 5000), std::string("\xff\xfa\x2c"));
  EXPECT_LT(ms_since(start), 1000);
  EXPECT_NE(wait_until([&] {
              return count_of(read_file(root_file("var/log/forwarder.log")), "\n") == 200;
            }),
            -1);
}

// A destination killed and started again is reconnected; one that closes each connection at
// once is tried again fewer than 5 times a second.
TEST_F(Forward, ADestinationThatComesBackIsReconnectedWithoutHammering) {
  int server = bound_socket(SOCK_STREAM, 6020);
  ASSERT_EQ(stationctl("set link tcp-client --dest1-ip 127.0.0.1 --dest1-port 6020"), 0);
  pollfd p{server, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, kWaitMs), 1);
  close(accept(server, nullptr, nullptr));
  close(server);
  usleep(1500000);
  p.fd = server = bound_socket(SOCK_STREAM, 6020);
  int attempts = 0;
  for (const auto start = Clock::now(); ms_since(start) < 3000;)
    if (poll(&p, 1, 100) == 1) attempts += close(accept(server, nullptr, nullptr)) == 0;
  EXPECT_TRUE(attempts >= 1 && attempts < 15) << attempts;
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  const int back = accept(server, nullptr, nullptr);
  EXPECT_EQ(carry(master_[0], back, "back"), "back");
  close(back);
  close(server);
}

// com_reply_all 0: serial data goes only to a client that wrote within tranaction_timeout;
// connect_time_out closes a client idle that long.
TEST_F(Forward, RepliesGoToTheClientThatAskedAndIdleClientsAreClosed) {
  ASSERT_EQ(stationctl("--port 2 set link tcp-server --local-port 4661 --max-connections 2"), 0);
  ASSERT_TRUE(log_shows("COM2: TCP server link", 2)) << log();
  set_keys({{"COM2", "com_reply_all", "0"},
            {"+COM2", "tranaction_timeout", "1000"},
            {"+COM2", "connect_time_out", "2"}});
  ASSERT_TRUE(log_shows("COM2: packing and timing keys in force")) << log();
  const int asking = tcp_connect(4661), idle = tcp_connect(4661);
  const auto connected = Clock::now();
  ASSERT_EQ(carry(asking, master_[1], "q"), "q");
  EXPECT_EQ(carry(master_[1], asking, "answer"), "answer");
  EXPECT_TRUE(nothing_arrives(idle, 200));
  usleep(1100000);  // the window has passed: nobody asked
  ASSERT_EQ(write(master_[1], "late", 4), 4);
  EXPECT_TRUE(nothing_arrives(asking, 300));
  EXPECT_EQ(receive(idle, 1), "");  // closed, not answered
  EXPECT_GE(ms_since(connected), 1900);
  close(asking);
  close(idle);
}

}  // namespace
