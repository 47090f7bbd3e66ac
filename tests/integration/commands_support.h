// What the command tests share: a simulator with a logged-in client on eth0, one buffer out
// and its answer back, the station.ini sections and the ChangeNotices the forwarding side
// received, all read from the simulator's root.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

#include "support/sim_harness.h"

// Bytes written as numbers: bytes({0x00, 0x25, 0x80}).
inline std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// Code 89's payload: the selector byte, the text and its NUL.
inline std::string named(int selector, const std::string& text) {
  return static_cast<char>(selector) + text + '\0';
}

class CommandsTest : public SimulatorTest {
 protected:
  // Starts the simulator, on a station.ini of the test's own when one is given.
  void start(const std::string& station_ini = "") {
    if (!station_ini.empty()) write_file(ini_path(), station_ini);
    ASSERT_TRUE(start_simulator());
    client_ = greeted_client(kEth0Address, true);
  }
  std::string ini_path() const { return root_file("mnt/jffs2/station.ini"); }
  std::string ini() const { return read_file(ini_path()); }
  // The lines of one section of station.ini, header excluded.
  std::string section(const std::string& name) const {
    const std::string text = "\n" + ini();
    const std::string header = "\n[" + name + "]\n";
    size_t at = text.find(header);
    if (at == std::string::npos) return "(no section " + name + ")";
    at += header.size();
    const size_t end = text.find("\n[", at - 1);
    return text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  // Sends one buffer; its answer, read up to the size expected.
  std::string ask(const std::string& request, size_t answer_size) {
    EXPECT_TRUE(client_->send(request));
    const std::string answer = client_->read(answer_size);
    EXPECT_EQ(answer.size(), answer_size);
    return answer;
  }
  // Every ChangeNotice since the start, one port number a line, compared whole. A code-99
  // set for the current port goes last, so its notice proves the earlier ones were taken.
  void expect_notices(const std::string& lines, char current_port) {
    ASSERT_EQ(ask(frame(99, "\x02"), 7), reply(99, "\x02"));
    notices_ += lines + current_port + "\n";
    wait_for_text("var/log/forwarder.log", notices_);
    EXPECT_EQ(read_file(root_file("var/log/forwarder.log")), notices_);
  }

  std::unique_ptr<ControlClient> client_;
  std::string notices_;
};
