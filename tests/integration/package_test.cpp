// The Debian package of the PC tools, built from this build and unpacked (never installed):
// its stationctl talks to the simulator, its man page and its bash completion tell the
// options and commands of the tools they come with.
#include <cstdlib>
#include <string>

#include "support/sim_harness.h"

namespace {

TEST_F(SimulatorTest, PackageUnpackedRunsAndDocumentsItself) {
  const std::string build = std::string(std::getenv("STATION_BIN_DIR")) + "/..";
  if (!file_exists(build + "/CPackConfig.cmake")) GTEST_SKIP() << "the PC build makes the package";
  ASSERT_TRUE(start_simulator());
  const std::string unpacked = dir_->file("unpacked");
  std::string out, err;
  ASSERT_EQ(run_to_end({"sh", "-c",
                        "cpack --config \"$0/CPackConfig.cmake\" -B \"$1/package\" >/dev/null && "
                        "dpkg-deb -x \"$1\"/package/station-tools_*.deb \"$1/unpacked\"",
                        build, dir_->path()},
                       &out, &err, 120000),
            0)
      << err;
  const std::string bin = unpacked + "/usr/bin/", share = unpacked + "/usr/share/";
  ASSERT_EQ(
      run_to_end({"env", "STATIONCTL_PASSWORD=quillet", bin + "stationctl", "export"}, &out, &err),
      0)
      << err;
  EXPECT_NE(out.find("\"ports\": ["), std::string::npos) << out;
  ASSERT_EQ(run_to_end({"man", "-l", share + "man/man1/stationctl.1"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("--tcp-port"), std::string::npos) << out;
  ASSERT_EQ(run_to_end({"bash", "-c",
                        "source \"$0\"; COMP_WORDS=(stationctl se); COMP_CWORD=1; _stationctl; "
                        "echo \"${COMPREPLY[*]}\"; COMP_WORDS=(stationctl set link tcp-); "
                        "COMP_CWORD=3; _stationctl; echo \"${COMPREPLY[*]}\"",
                        share + "bash-completion/completions/stationctl"},
                       &out, &err),
            0)
      << err;
  EXPECT_EQ(out, "set\ntcp-server tcp-client\n");
  // The forwarder comes along, with its completion and a man page of its options.
  run_to_end({"bash", "-c", "source \"$0\"; COMP_WORDS=(stationfwd --q); COMP_CWORD=1; "
              "_stationfwd; echo ${COMPREPLY[*]}; man -l \"$1\" | grep -q -- --serial && echo ok",
              share + "bash-completion/completions/stationfwd", share + "man/man1/stationfwd.1"},
             &out, &err);
  EXPECT_EQ(out, "--queue-key\nok\n") << err;
}

}  // namespace
