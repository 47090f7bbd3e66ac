// stationtool's alert and network commands as a real process (through the emulator on the
// device build), on a root of the test's own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun stationtool(const TempDir& scratch, const std::vector<std::string>& args) {
  const char* emulator = std::getenv("STATION_EMULATOR");
  std::string command = std::string(emulator ? emulator : "") + " " +
                        std::getenv("STATION_BIN_DIR") + "/stationtool --root " +
                        scratch.file("root");
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >" + scratch.file("out") + " 2>" + scratch.file("err");
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(scratch.file("out")),
          read_file(scratch.file("err"))};
}

TEST(AlertCommands, RunTheRoutinesAndRefuseBadArgumentsWithStatusTwo) {
  TempDir scratch;
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"gateway", "4"},
        {"if-addr", "eth0"},
        {"write-syslog", "tool", "24", "5", "x"},
        {"write-syslog", "tool", "16", "8", "x"},
        {"address-change-alert", "IP Address Changed (eth0)", "-1", "a", "b"},
        {"net-summary"}}) {
    const ToolRun run = stationtool(scratch, bad);
    EXPECT_EQ(run.status, 2) << bad[0];
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }

  EXPECT_EQ(stationtool(scratch, {"write-syslog", "tool", "16", "5", "hello there"}).status, 0);
  EXPECT_EQ(read_file(scratch.file("root/var/log/messages")), "notice local0 tool: hello there\n");
  EXPECT_EQ(stationtool(scratch, {"set-syslogd"}).status, 0);
  EXPECT_EQ(read_file(scratch.file("root/var/log/programs.log")),
            "killall syslogd\nkillall klogd\nsyslogd -l 1 -L -O " + scratch.file("root") +
                "/var/log/syslog -s 10 -b 5\nklogd -0\n");

  // Static mode everywhere (an image of 0xFF bytes): the stored values, never the PC's.
  write_file(scratch.file("root/dev/i2c-0"), std::string(8192, '\xff'));
  const ToolRun summary = stationtool(scratch, {"net-summary", "1"});
  EXPECT_EQ(summary.out,
            "DHCP off, IP 255.255.255.255, Netmask 255.255.255.255, Gateway "
            "255.255.255.255\n");
  EXPECT_EQ(stationtool(scratch, {"name-server", "4"}).out, "0.0.0.0\n");
}

}  // namespace
