// Plays each file of tests/data/scenarios (steps: support/scenario.h) against the real
// simulator: its own namespaces, a fresh root, real TCP.
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "protocol/change_notice.h"
#include "storage/inifile.h"
#include "support/scenario.h"
#include "support/sim_harness.h"

namespace {

std::string bytes(const std::string& text) {
  std::string out, why;
  EXPECT_TRUE(scenario_bytes(text, &out, &why)) << why;
  return out;
}

class Scenario : public SimulatorTest, public testing::WithParamInterface<std::string> {};

TEST_P(Scenario, PlaysAsWritten) {
  std::unique_ptr<ControlClient> client, waiting;
  std::map<std::string, std::string> marked;
  const std::string image = root_file("dev/i2c-0"), ini_path = root_file("mnt/jffs2/station.ini");
  std::istringstream file(read_file(GetParam()));
  std::vector<std::string> all;  // a step a line; its block, the indented lines under it
  for (std::string line; std::getline(file, line);) {
    const std::size_t at = line.find_first_not_of(' ');
    all.push_back(at == line.npos ? "#" : at > 0 ? "  " + line.substr(at) : line);
  }
  for (std::size_t n = 0; n < all.size(); ++n) {
    if (all[n][0] == ' ' || all[n][0] == '#') continue;
    const std::string v = all[n].substr(0, all[n].find(' ')),
                      rest = all[n].substr(std::min(all[n].size(), v.size() + 1));
    std::string text, listed;
    for (std::size_t b = n + 1; b < all.size() && all[b][0] == ' '; ++b)
      text += all[b].substr(2) + "\n";
    SCOPED_TRACE(GetParam() + ":" + std::to_string(n + 1) + ": " + all[n]);
    std::istringstream in(rest + "\n" + text);
    const std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
    const std::string first = w.empty() ? "" : w[0];
    for (std::size_t i = 1; i < w.size(); ++i) listed += w[i] + "\n";  // a line per word
    // The line after its first word; "stdout" is the simulator's output beside the root.
    const std::string after =
        rest.substr(std::min(rest.size(), rest.find(first) + first.size() + 1));
    const std::string name = first == "stdout" ? "../sim.out" : first, path = root_file(name);
    const char* address = first == "eth0" ? kEth0Address : kLoopback;
    if (v == "station.ini") {
      write_file(ini_path, first + "\n" + listed);
    } else if (v == "ini") {
      const std::string value = after.substr(std::min(after.size(), w.at(1).size() + 1));
      write_profile_string(first.c_str(), w[1].c_str(), value.c_str(), ini_path.c_str());
    } else if (v == "poke") {
      std::string was = read_file(image), b = bytes(after);
      write_file(image, was.replace(std::stoul(first), b.size(), b));
    } else if (v == "eeprom") {
      EXPECT_EQ(read_file(image).substr(std::stoul(first), bytes(after).size()), bytes(after));
    } else if (v == "connect") {
      ASSERT_TRUE((sim_ && sim_->running()) || start_simulator());
      client.reset(), client = greeted_client(address);
    } else if (v == "queue") {
      ASSERT_TRUE((waiting = std::make_unique<ControlClient>())->connect(address));
      EXPECT_TRUE(waiting->silent_for(500));
    } else if (v == "leave") {
      client = std::move(waiting);
      EXPECT_EQ(client->read(2), kGreeting);
    } else if (v == "run") {
      std::string line = "cd " + root() + " &&", out, err;
      for (const std::string& word : program_command(w.at(1), {})) line += " " + word;
      const int status = run_to_end({"sh", "-c", line + after.substr(w[1].size())}, &out, &err);
      EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::stoi(first)) << err;
      EXPECT_TRUE(text.empty() ? err.empty() : err.find(text) != std::string::npos) << err;
    } else if (v == "send" || v == "expect" || v == "login") {
      const std::string b = v == "login" ? frame(0, kDefaultLogin) : bytes(rest + "\n" + text);
      EXPECT_EQ(v == "expect" ? client->read(b.size()) : client->send(b) ? b : "(unsent)", b);
      EXPECT_EQ(v == "login" ? client->read(7) : "", v == "login" ? reply(0, "S") : "");
    } else if (v == "silent" || v == "taken") {
      EXPECT_TRUE(v == "silent" ? client->silent_for(300) : client->wait_taken());
    } else if (v == "stop") {
      client.reset();
      EXPECT_EQ(sim_->stop(first == "INT" ? SIGINT : SIGTERM), 0);
      EXPECT_FALSE(tcp_listening(kControlPort));  // the daemon went with it
    } else if (v == "notify") {
      const int queue = msgget(kChangeNoticeKey, IPC_CREAT | 0600);
      for (const std::string& port : w) {
        ChangeNotice notice{kChangeNoticeType, {}};
        port.copy(notice.text, sizeof notice.text - 1);
        EXPECT_EQ(msgsnd(queue, &notice, sizeof notice.text, 0), 0) << port;
      }
    } else if (v == "queued") {
      msqid_ds state{};
      const int q = msgget(kChangeNoticeKey, 0);
      EXPECT_EQ(q < 0 || msgctl(q, IPC_STAT, &state) ? "-" : std::to_string(state.msg_qnum), first);
    } else if (v == "section") {
      EXPECT_EQ(section(first), listed);
    } else if (v == "has") {
      EXPECT_TRUE(wait_for_text(name, after + text)) << read_file(path);
    } else if (v == "lacks") {
      EXPECT_TRUE(after.empty() ? !file_exists(path) : read_file(path).find(after) == after.npos);
    } else if (v == "notices") {  // the forwarder's log holds these, and no more follow
      const std::string ports = w.empty() ? "" : first + "\n" + listed;
      wait_for_text("var/log/forwarder.log", ports);
      usleep(200000);
      EXPECT_EQ(read_file(root_file("var/log/forwarder.log")), ports);
    } else if (v == "mark" || v == "same") {
      if (v == "mark") marked[first] = read_file(path);
      EXPECT_EQ(read_file(path), marked[first]) << first;
    } else {
      FAIL() << "unknown step " << v;
    }
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Scenario, testing::ValuesIn([] {
      std::set<std::string> files;
      for (const auto& entry : std::filesystem::directory_iterator(
               std::getenv("STATION_SOURCE_DIR") + std::string("/tests/data/scenarios")))
        files.insert(entry.path().string());
      return files;
    }()),
    [](const auto& info) { return std::filesystem::path(info.param).stem().string(); });

}  // namespace
