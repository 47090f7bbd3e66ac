#include "client/control_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// One connection on loopback: greets, then answers each received buffer with the next
// scripted answer, sent in two pieces so that the client has to join them.
class FakeDaemon {
 public:
  explicit FakeDaemon(std::vector<std::string> answers) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    listen(listener_, 1);
    socklen_t len = sizeof sin;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&sin), &len);
    port_ = ntohs(sin.sin_port);
    thread_ = std::thread([this, answers] {
      const int c = accept(listener_, nullptr, nullptr);
      send(c, "  ", 2, MSG_NOSIGNAL);
      char buf[2048];
      for (const std::string& a : answers) {
        const ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        received.emplace_back(buf, static_cast<std::size_t>(n));
        const std::size_t half = a.size() / 2;
        send(c, a.data(), half, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        send(c, a.data() + half, a.size() - half, MSG_NOSIGNAL);
      }
      while (recv(c, buf, sizeof buf, 0) > 0) {
      }
      close(c);
    });
  }
  ~FakeDaemon() {
    thread_.join();
    close(listener_);
  }
  uint16_t port() const { return port_; }
  std::vector<std::string> received;

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

std::string frame(int code, const Bytes& data = {}) {
  return "\xFF\xFA\x2C" + std::string(1, static_cast<char>(code)) + text(data) + "\xFF\xF0";
}

TEST(ControlClient, RequestsEncodeAsOneBufferOfFramesAndRefuseWhatCannotTravel) {
  Bytes out;
  // Select port 2, set 9600 baud: the request of a typical baud-rate change on COM2.
  ASSERT_EQ(encode_requests({{94, {2}}, {1, Bytes{0, 0, 0x25, 0x80}}}, &out), ClientStatus::kOk);
  EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0x5E, 0x02, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x01, 0x00,
                        0x00, 0x25, 0x80, 0xFF, 0xF0}));
  EXPECT_EQ(encode_requests({{88, Bytes{5, 255, 255, 240, 0}}}, &out), ClientStatus::kBadRequest);
  EXPECT_EQ(encode_requests({{88, Bytes{5, 255, 255, 255, 0xF0}}}, &out),
            ClientStatus::kBadRequest);
  EXPECT_EQ(encode_requests({{89, Bytes(1020, 'a')}}, &out), ClientStatus::kBadRequest);
  EXPECT_EQ(encode_requests({{200, {}}}, &out), ClientStatus::kBadRequest);  // not served
}

TEST(ControlClient, ReplyFramesEndAtTheLengthTheirCodeFixes) {
  ReplyFrame f;
  // Netmask 255.255.240.0: its bytes hold FF F0, yet the frame runs to its fifth data byte.
  const Bytes netmask{0x00, 0xFF, 0xFA, 0x2C, 0xBC, 5, 255, 255, 240, 0, 0xFF, 0xF0, 0x42};
  EXPECT_EQ(take_reply_frame(netmask.data(), 13, false, &f), 12);  // the stray 00 skipped
  EXPECT_EQ(f.code, 188);
  EXPECT_EQ(f.data, (Bytes{5, 255, 255, 240, 0}));
  EXPECT_EQ(take_reply_frame(netmask.data(), 9, false, &f), 0);  // not all there yet
  // ...but when nothing more will come, the rest is read as the daemon's scanner cuts it.
  EXPECT_EQ(take_reply_frame(netmask.data(), 9, true, &f), 9);
  EXPECT_EQ(f.data, (Bytes{5, 255}));

  // Link reply, TCP server on port 61695 (FF F0 in little-endian order): 13 bytes.
  Bytes link{0xFF, 0xFA, 0x2C, 0xC0, 1, 0xFF, 0xF0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  link.insert(link.end(), {0xFF, 0xF0});
  EXPECT_EQ(take_reply_frame(link.data(), static_cast<int>(link.size()), false, &f), 19);
  EXPECT_EQ(f.data.size(), 13u);
  // A text reply ends after its NUL; the empty reply to a mode-4 set has no data.
  const Bytes name{0xFF, 0xFA, 0x2C, 0xBD, 3, 'a', 0xFF, 0xF0, 'b', 0, 0xFF, 0xF0};
  EXPECT_EQ(take_reply_frame(name.data(), 12, false, &f), 12);
  EXPECT_EQ(f.data, (Bytes{3, 'a', 0xFF, 0xF0, 'b', 0}));
  const Bytes empty{0xFF, 0xFA, 0x2C, 0xC0, 0xFF, 0xF0};
  EXPECT_EQ(take_reply_frame(empty.data(), 6, false, &f), 6);
  EXPECT_TRUE(f.data.empty());
}

TEST(ControlClient, LoginAndExchangeGroupRepliesByRequest) {
  std::vector<std::string> get_all;
  std::string series;
  for (int code : {1, 2, 3, 4, 5, 85, 89, 90, 91, 92, 93, 99, 98, 97})
    series += frame(code + 100, code == 1    ? Bytes{0, 0, 0x25, 0x80}
                                : code == 92 ? Bytes{1, 0x34, 0x12, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}
                                : code == 93 ? Bytes{0, 0}
                                : code >= 97 ? Bytes{4, 3, 0xE7}
                                : code == 89 ? Bytes{1, 0}
                                             : Bytes{1});
  series += frame(195);
  FakeDaemon daemon(
      {frame(100, {'S'}), frame(194, {2}) + series + frame(180, {77}), frame(100, {'F'})});
  ControlConnection conn;
  std::string why;
  ASSERT_EQ(client_connect(&conn, "127.0.0.1", daemon.port(), 2000, &why), ClientStatus::kOk)
      << why;
  bool accepted = false;
  ASSERT_EQ(client_login(&conn, "admin", "", &accepted), ClientStatus::kOk);
  EXPECT_TRUE(accepted);

  std::vector<ReplyGroup> groups;
  ASSERT_EQ(client_exchange(&conn, {{94, {2}}, {96, {}}, {97, {}}, {77, {1, 2}}}, &groups),
            ClientStatus::kOk);
  ASSERT_EQ(groups.size(), 4u);
  EXPECT_EQ(groups[0].size(), 1u);
  ASSERT_EQ(groups[1].size(), 15u);
  EXPECT_EQ(groups[1].back().code, 195);
  EXPECT_TRUE(groups[2].empty());
  ASSERT_EQ(groups[3].size(), 1u);
  EXPECT_EQ(groups[3][0].code, kErrorReplyCode);

  ASSERT_EQ(client_login(&conn, "", "secret", &accepted), ClientStatus::kOk);
  EXPECT_FALSE(accepted);
  client_close(&conn);
  ASSERT_EQ(daemon.received.size(), 3u);
  EXPECT_EQ(daemon.received[0], frame(0, Bytes{'a', 'd', 'm', 'i', 'n', ' '}));
  EXPECT_EQ(daemon.received[2], frame(0, Bytes{'s', 'e', 'c', 'r', 'e', 't'}));
}

// The command-line tool's own test covers the daemon that never greets.
TEST(ControlClient, SilenceIsATimeOut) {
  FakeDaemon daemon({""});  // takes the request, answers nothing
  ControlConnection conn;
  std::string why;
  ASSERT_EQ(client_connect(&conn, "127.0.0.1", daemon.port(), 300, &why), ClientStatus::kOk);
  std::vector<ReplyGroup> groups;
  EXPECT_EQ(client_exchange(&conn, {{94, {1}}}, &groups), ClientStatus::kTimedOut);
  client_close(&conn);
}

}  // namespace
