// What the protocol promises each code on a logged-in connection, written from its own
// description and not from the command table; the client must expect as many replies.
#include "protocol/dispatcher.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <cstring>
#include <sstream>
#include <tuple>

#include "client/control_client.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

namespace {

// Code, refused requests' data ("|" between them, "|" alone: no data), an accepted request
// and its reply frames: how many, the first's code and data bytes ("stop": the dispatcher
// stops at the code). A refusal names the code, but 77 names 98.
// clang-format off
const std::tuple<int, const char*, const char*, const char*> kPromises[] = {
    {0, "", "\"secret\"", "1 100/1"}, {1, "|00 00 25|00 00 25 80 00", "00 00 25 80", "1 101/4"},
    {2, "|08 08", "08", "1 102/1"}, {3, "|03 03", "03", "1 103/1"}, {4, "|01 01", "01", "1 104/1"},
    {5, "|01 01", "01", "1 105/1"}, {76, "|01|01 00*8|01 00*10", "00", "1 176/10"},
    {77, "|01|01 00*8|01 00*10", "00 01 01", "1 177/10"}, {78, "|05 05", "05", "1 178/1"},
    {79, "|01 01", "01", "1 179/1"}, {85, "|01 01", "01", "1 185/1"},
    {88, "|04 00|00*4|00*6", "04", "1 188/5"}, {89, "|", "00", "1 189/2"},
    {90, "|01 01", "01", "1 190/1"}, {91, "|00 00", "00", "1 191/1"},
    {92, "|00 00|00*13|03*90", "00", "1 192/13"}, {92, nullptr, "08", "0"},
    {93, "00", "", "1 193/2"}, {94, "|01 01", "00", "1 194/1"}, {96, "00", "", "15 101/4"},
    {97, nullptr, "01 02 03", "0"}, {98, nullptr, "", "0"}, {99, "|01 01", "01", "1 199/1"},
    {50, nullptr, "", "stop"}, {80, nullptr, "00", "stop"}, {95, nullptr, "", "stop"},
    {196, nullptr, "", "stop"}, {92, nullptr, "04 5A*25 41", "1 192/0"}};
// clang-format on

// "frames first-code/data-bytes[/error byte]", or "stop", for one frame on a logged-in connection.
std::string answer(int code, const std::string& data) {
  std::string request, why;
  EXPECT_TRUE(scenario_bytes(std::to_string(code) + "(" + data + ")", &request, &why)) << why;
  const auto* bytes = reinterpret_cast<const unsigned char*>(request.data());
  unsigned char out[kAnswerBufferSize];
  int length = 0, logged_in = 1, frames = 0;
  const int result = dispatch_commands(bytes, static_cast<int>(request.size()), 1, &logged_in, out,
                                       sizeof out, &length);
  ReplyFrame f, first;
  for (int at = 0, used;
       at < length && (used = take_reply_frame(out + at, length - at, true, &f)) > 0; at += used)
    if (frames++ == 0) first = f;
  EXPECT_EQ(reply_frames(code, bytes + 4, static_cast<int>(request.size()) - 6),
            result < 0 ? -1 : frames)
      << code << "(" << data << ")";
  if (result < 0 || !frames) return result < 0 ? "stop" : "0";
  return std::to_string(frames) + " " + std::to_string(first.code) + "/" +
         std::to_string(first.data.size()) +
         (first.code == 180 ? "/" + std::to_string(first.data.at(0)) : "");
}

// With the password "secret"; the change notices go to an IPC namespace of this process alone.
TEST(Dispatcher, EachCodeKeepsItsLengthsErrorByteAndReplies) {
  if (unshare(CLONE_NEWIPC) != 0) GTEST_SKIP() << "no IPC namespace of our own (needs root)";
  TempDir root;
  FakeI2c i2c;
  PortTable table{};
  SnmpIdentity identity{};
  ASSERT_EQ(prepare_device_root(root.path().c_str()), 0);
  write_file(root.file("mnt/jffs2/station.ini"), "[COM1]\n");
  i2c.chip.fill(0);
  std::memcpy(i2c.chip.data() + 76, "secret", 6);  // eePassword
  set_session_context(&table, 2, &identity);
  set_current_port(1);
  testing::internal::CaptureStdout();
  for (const auto& [code, refused, accepted, replies] : kPromises) {
    std::istringstream each(refused ? refused : "");
    for (std::string data; refused && std::getline(each, data, '|');)
      EXPECT_EQ(answer(code, data), "1 180/1/" + std::to_string(code == 77 ? 98 : code))
          << code << "(" << data << ")";
    EXPECT_EQ(answer(code, accepted), replies) << code << "(" << accepted << ")";
  }
  testing::internal::GetCapturedStdout();
  // Link mode 4 has no word in station.ini and no reply layout: the port's record keeps it.
  const unsigned char* kept = table.records[0].settings.mode4_settings;
  EXPECT_EQ(std::string(kept, kept + 26), std::string(25, 'Z') + "A");
  set_root(nullptr);
}

}  // namespace
