// Each code the dispatcher checks refuses, on a logged-in connection, the lengths the protocol's
// description does not allow (written from it, not from the command table): one error reply
// naming the code (77 names 98), which the client expects as the only one.
#include "protocol/dispatcher.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <sstream>

#include "platform/root.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

namespace {

std::string bytes(const std::string& tokens) {
  std::string out, why;
  EXPECT_TRUE(scenario_bytes(tokens, &out, &why)) << tokens << ": " << why;
  return out;
}

TEST(Dispatcher, EachCodeRefusesTheLengthsItDoesNotTakeWithTheErrorReplyNamingIt) {
  // A handler run by mistake would write only under a root and notify no one.
  if (unshare(CLONE_NEWIPC) != 0) GTEST_SKIP() << "no IPC namespace of our own (needs root)";
  TempDir root;
  ASSERT_EQ(set_root(root.path().c_str()), 0);
  // Code and the refused requests' data, "|" between them ("|" alone: no data).
  // clang-format off
  const std::pair<int, const char*> kRefused[] = {
      {1, "|00 00 25|00 00 25 80 00"}, {2, "|08 08"}, {3, "|03 03"}, {4, "|01 01"}, {5, "|01 01"},
      {76, "|01|01 00*8|01 00*10"}, {77, "|01|01 00*8|01 00*10"}, {78, "|05 05"}, {79, "|01 01"},
      {85, "|01 01"}, {88, "|04 00|00*4|00*6"}, {90, "|01 01"}, {91, "|00 00"}, {93, "00"},
      {94, "|01 01"}, {96, "00"}, {99, "|01 01"}};
  // clang-format on
  for (const auto& [code, refused] : kRefused) {
    std::istringstream each(refused);
    for (std::string data; std::getline(each, data, '|');) {
      const std::string request = bytes(std::to_string(code) + "(" + data + ")");
      const auto* in = reinterpret_cast<const unsigned char*>(request.data());
      unsigned char out[kAnswerBufferSize];
      int length = 0, logged_in = 1;
      EXPECT_EQ(dispatch_commands(in, static_cast<int>(request.size()), 1, &logged_in, out,
                                  sizeof out, &length),
                0);
      char named[3];
      std::snprintf(named, sizeof named, "%02X", code == 77 ? 98 : code);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length),
                bytes("180(" + std::string(named) + ")"))
          << code << "(" << data << ")";
      EXPECT_EQ(reply_frames(code, in + 4, static_cast<int>(request.size()) - 6), 1) << code;
    }
  }
  set_root(nullptr);
}

}  // namespace
