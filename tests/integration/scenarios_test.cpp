// Plays each scenario file of tests/data/scenarios against the real simulator: its own
// namespaces, a fresh root, real TCP. The files are the reference data; this is their player.
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "storage/inifile.h"
#include "support/scenario.h"
#include "support/sim_harness.h"

namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string hex(const std::string& bytes) {
  std::ostringstream out;
  for (unsigned char c : bytes) {
    static const char digits[] = "0123456789ABCDEF";
    out << (out.tellp() > 0 ? " " : "") << digits[c >> 4] << digits[c & 15];
  }
  return out.str();
}

// The words of a step after the first `skip`, then those of its block.
std::vector<std::string> words_of(const ScenarioStep& step, std::size_t skip) {
  std::vector<std::string> words(step.words.begin() + static_cast<long>(skip), step.words.end());
  for (const std::string& line : step.block) {
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
  }
  return words;
}

class Scenario : public SimulatorTest, public testing::WithParamInterface<std::string> {
 protected:
  std::string ini_path() const { return root_file("mnt/jffs2/station.ini"); }

  bool started() { return sim_ && sim_->running(); }

  // The bytes of a step's line and of its block.
  std::string bytes_of(const ScenarioStep& step) {
    std::string text = step.rest, bytes, why;
    for (const std::string& line : step.block) text += " " + line;
    EXPECT_TRUE(scenario_bytes(text, &bytes, &why)) << why;
    return bytes;
  }

  // The forwarder log holds exactly these lines, and nothing more follows for a moment.
  void expect_notices(const ScenarioStep& step) {
    std::string want;
    for (const std::string& port : step.words) want += port + "\n";
    if (!want.empty()) wait_for_text("var/log/forwarder.log", want);
    usleep(200000);
    EXPECT_EQ(read_file(root_file("var/log/forwarder.log")), want);
  }

  // $ROOT and $DIR in a command line: the device root and the test's folder.
  std::string expand(std::string text) const {
    for (const auto& [name, value] : {std::pair{"$ROOT", root()}, std::pair{"$DIR", dir_->path()}})
      for (std::size_t at; (at = text.find(name)) != std::string::npos;)
        text.replace(at, std::strlen(name), value);
    return text;
  }

  void run(const ScenarioStep& step) {
    const std::string& v = step.verb;
    if (v == "sh") {  // a command of the test's own, in its namespaces; it must succeed
      EXPECT_EQ(std::system(expand(step.rest).c_str()), 0) << step.rest;
    } else if (v == "run") {  // a program of the system, to its end
      std::vector<std::string> args;
      for (std::size_t i = 1; i < step.words.size(); ++i) args.push_back(expand(step.words[i]));
      status_ = run_to_end(program_command(step.words.at(0), args), &out_, &err_);
    } else if (v == "status") {
      EXPECT_TRUE(WIFEXITED(status_) && WEXITSTATUS(status_) == std::stoi(step.rest))
          << "status " << status_ << "\nout:\n"
          << out_ << "err:\n"
          << err_;
    } else if (v == "out" || v == "err") {  // the program's whole output, or a line of it
      const std::string& got = v == "out" ? out_ : err_;
      if (step.rest.empty())
        EXPECT_EQ(got, expand(joined(step.block)));
      else
        EXPECT_NE(got.find(expand(step.rest)), std::string::npos) << got;
    } else if (v == "file") {
      std::filesystem::create_directories(
          std::filesystem::path(root_file(step.rest)).parent_path());
      write_file(root_file(step.rest), joined(step.block));
    } else if (v == "ini") {
      ASSERT_GE(step.words.size(), 2u);
      const std::size_t value_at = step.rest.find(step.words[1]) + step.words[1].size() + 1;
      const std::string value = value_at < step.rest.size() ? step.rest.substr(value_at) : "";
      write_profile_string(step.words[0].c_str(), step.words[1].c_str(), value.c_str(),
                           ini_path().c_str());
    } else if (v == "start") {
      ASSERT_TRUE(start_simulator(step.words));
    } else if (v == "connect") {
      if (!started()) {
        ASSERT_TRUE(start_simulator());
      }
      client_.reset();
      const std::string& where = step.words.at(0);
      client_ = greeted_client(where == "eth0"   ? kEth0Address
                               : where == "eth1" ? kEth1Address
                                                 : kLoopback);
    } else if (v == "login") {
      const std::string text = step.rest.empty() ? kDefaultLogin : step.rest;
      ASSERT_TRUE(client_->send(frame(0, text)));
      EXPECT_EQ(client_->read(7), reply(0, "S"));
    } else if (v == "send") {
      ASSERT_TRUE(client_->send(bytes_of(step)));
    } else if (v == "expect") {
      const std::string want = bytes_of(step);
      EXPECT_EQ(hex(client_->read(want.size())), hex(want));
    } else if (v == "silent") {
      EXPECT_TRUE(client_->silent_for(300));
    } else if (v == "closed") {
      EXPECT_TRUE(client_->closed_by_peer());
    } else if (v == "station.ini") {  // one line of the file per word, block included
      write_file(ini_path(), joined(words_of(step, 0)));
    } else if (v == "section") {  // one line of the section per word after its name
      EXPECT_EQ(section(step.words.at(0)), joined(words_of(step, 1)));
    } else if (v == "stdout") {
      const std::string want = joined(step.block);
      for (int waited = 0; waited < kWaitMs && sim_->out().find(want) == std::string::npos;
           waited += 20)
        usleep(20000);
      EXPECT_NE(sim_->out().find(want), std::string::npos) << "standard output:\n" << sim_->out();
    } else if (v == "has") {
      const std::string text = step.rest.substr(step.words.at(0).size() + 1);
      EXPECT_TRUE(wait_for_text(step.words[0], text)) << read_file(root_file(step.words[0]));
    } else if (v == "lacks") {  // PATH "stdout": the daemon's standard output so far
      const std::string text = step.rest.substr(step.words.at(0).size() + 1);
      const std::string where =
          step.words[0] == "stdout" ? sim_->out() : read_file(root_file(step.words[0]));
      EXPECT_EQ(where.find(text), std::string::npos) << text;
    } else if (v == "taken") {
      EXPECT_TRUE(client_->wait_taken());
    } else if (v == "notices") {
      expect_notices(step);
    } else if (v == "poke") {  // writes bytes into the EEPROM image before the start
      const std::string bytes =
          bytes_of({0, "", step.rest.substr(step.words.at(0).size()), {}, {}});
      std::string image = read_file(root_file("dev/i2c-0"));
      image.replace(std::stoul(step.words[0]), bytes.size(), bytes);
      write_file(root_file("dev/i2c-0"), image);
    } else if (v == "eeprom") {
      const std::string want = bytes_of({0, "", step.rest.substr(step.words.at(0).size()), {}, {}});
      const std::string image = read_file(root_file("dev/i2c-0"));
      EXPECT_EQ(hex(image.substr(std::stoul(step.words[0]), want.size())), hex(want));
    } else if (v == "mark") {
      marked_[step.rest] = read_file(root_file(step.rest));
    } else if (v == "same") {
      EXPECT_EQ(read_file(root_file(step.rest)), marked_[step.rest]) << step.rest;
    } else if (v == "stop") {
      client_.reset();
      EXPECT_EQ(sim_->stop(SIGTERM), 0);
    } else {
      ADD_FAILURE() << "unknown step " << v;
    }
  }

  std::unique_ptr<ControlClient> client_;
  std::map<std::string, std::string> marked_;
  int status_ = -1;
  std::string out_, err_;
};

TEST_P(Scenario, PlaysAsWritten) {
  // Mounts a scenario makes are its own, and go with its process.
  ASSERT_EQ(unshare(CLONE_NEWNS), 0);
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  std::vector<ScenarioStep> steps;
  std::string error;
  ASSERT_TRUE(parse_scenario(read_file(GetParam()), &steps, &error)) << GetParam() << ": " << error;
  for (const ScenarioStep& step : steps) {
    SCOPED_TRACE(GetParam() + ":" + std::to_string(step.line) + ": " + step.verb + " " + step.rest);
    run(step);
    if (HasFatalFailure()) return;
  }
}

std::string name_of(const testing::TestParamInfo<std::string>& info) {
  std::string name = std::filesystem::path(info.param).stem().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Scenario, testing::ValuesIn(scenario_files()), name_of);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Scenario);

}  // namespace
