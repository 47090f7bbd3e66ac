// The Debian package of the PC tools, built and unpacked (never installed): its stationctl talks
// to the simulator; the man pages and completions of stationctl and stationfwd tell their words.
#include <cstdlib>
#include <string>

#include "support/sim_harness.h"

namespace {

TEST_F(SimulatorTest, PackageUnpackedRunsAndDocumentsItself) {
  const std::string build = std::string(std::getenv("STATION_BIN_DIR")) + "/..";
  if (!file_exists(build + "/CPackConfig.cmake")) GTEST_SKIP() << "the PC build makes the package";
  ASSERT_TRUE(start_simulator());
  std::string out, err;
  run_to_end({"sh", "-c",
              "cpack --config \"$0/CPackConfig.cmake\" -B \"$1/package\" >/dev/null && "
              "dpkg-deb -x \"$1\"/package/station-tools_*.deb \"$1\" && cd \"$1/usr\" && "
              "STATIONCTL_PASSWORD=quillet bin/stationctl export | grep -c '\"ports\": \\[' && "
              "man -l share/man/man1/stationctl.1 | grep -q -- --tcp-port && echo ctl && "
              "exec bash -c 'ask() { . share/bash-completion/completions/$1; COMP_WORDS=(\"$@\"); "
              "COMP_CWORD=$(($# - 1)); _$1; echo \"${COMPREPLY[*]}\"; }; ask stationctl se; "
              "ask stationctl set link tcp-; ask stationfwd --q'",
              build, dir_->path()},
             &out, &err, 120000);
  EXPECT_EQ(out, "1\nctl\nset\ntcp-server tcp-client\n--queue-key\n") << err;
}

}  // namespace
