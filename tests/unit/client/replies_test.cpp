// Frames as a session cannot show them: the daemon's writer at the edge of its space; the unit's
// answers split anywhere, damaged, foreign or not echoing. The rest: stationctl and the daemon.
#include <gtest/gtest.h>

#include "client/port_fields.h"
#include "protocol/command_table.h"
#include "protocol/frame_codec.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string text(const ReplyFrame& f) {
  return std::to_string(f.code) + ":" + hex_bytes(f.data.data(), f.data.size(), "") + "\n";
}

TEST(ReplyFrames, ComeWholeWhereverTheBytesSplitThoughTheirDataHoldFFF0AndAreWrittenWhole) {
  // After a stray byte: netmask 255.255.240.0; a TCP server on port 61695 (F0FF, low byte
  // first); a text with FF F0 before its NUL; the empty reply to a mode-4 set; an error.
  Bytes stream;
  parse_hex(
      "00 fffa2cbc05fffff000fff0 fffa2cc001fff000000000000100000000fff0 "
      "fffa2cbd0361fff06200fff0 fffa2cc0fff0 fffa2cb44dfff0",
      &stream);
  ReplyFrame f;
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    Bytes pending(stream.begin(), stream.begin() + split);
    std::string got;
    for (const std::size_t to : {split, stream.size()}) {
      pending.insert(pending.end(), stream.begin() + split, stream.begin() + to);
      for (int used; (used = take_reply_frame(pending.data(), static_cast<int>(pending.size()),
                                              false, &f)) > 0;
           pending.erase(pending.begin(), pending.begin() + used))
        got += text(f);
    }
    EXPECT_EQ(got,
              "188:05fffff000\n192:01fff000000000000100000000\n189:0361fff06200\n192:\n180:4d\n")
        << "split at " << split;
  }
  // When nothing more will come, the rest is cut at its first FF F0, as the daemon cuts it.
  EXPECT_EQ(take_reply_frame(stream.data(), 9, true, &f), 9);
  EXPECT_EQ(text(f), "188:05ff\n");
  // The daemon's writer: a whole reply in exactly its space, nothing in less.
  unsigned char out[16] = {};
  const unsigned char payload[] = {1, 2, 3};
  int size = 9;  // exactly the data and 6
  put_reply(out, &size, 7, payload, 3);
  EXPECT_EQ(hex_bytes(out, size, ""), "fffa2c6b010203fff0");
  put_reply(out, &(size = 8), 7, payload, 3);
  EXPECT_EQ(size, 0);
  put_reply(out, &(size = 6), 200, nullptr, 0);
  EXPECT_EQ(out[3], 44);  // (200 + 100) modulo 256
  EXPECT_EQ(put_frame_head(out, 2) + put_frame_tail(out, 1), 0);
  EXPECT_EQ(  // a request of a wrong length earns one error reply, whatever its code
      reply_frames(2, payload, 0) + reply_frames(77, payload, 1) + reply_frames(96, payload, 1), 3);
}

ReplyGroup one(int code, Bytes data) { return {ReplyFrame{code, std::move(data)}}; }

// The replies to read_requests(1, kReadAll) of a TCP-server port, address queries refused.
std::vector<ReplyGroup> port_replies() {
  // clang-format off
  const Bytes series[kGetAllFrames] = {{0, 1, 0xC2, 0}, {8}, {3}, {1}, {3}, {2}, {1, 0}, {2}, {5},
      {1, 0x34, 0x12, 0, 10, 0, 0, 2, 1, 0, 0, 0, 0}, {0, 0}, {2}, {4, 3, 0xE7}, {4, 3, 0xE7}, {}};
  // clang-format on
  ReplyGroup get_all;
  for (int i = 0; i < kGetAllFrames; ++i) get_all.push_back({kGetAllSeries[i] + 100, series[i]});
  const Bytes block = {1, 0, 0x02, 0x80, 2, 0x0D, 0x0A, 0, 0xAC, 0x05};
  return {one(194, {1}),    one(189, {1, 'a', 0}), one(179, {2}),   one(199, {1}),
          get_all,          one(177, block),       one(176, block), one(189, {3, 'n', 0}),
          one(189, {5, 0}), one(189, {7, 'c', 0}), one(180, {88}),  one(180, {88}),
          one(180, {88})};
}

TEST(PortReplies, ReadsComeFromEachGroupsWholeReplyAndChangesHoldOnlyWhereEchoed) {
  PortView v;
  std::string why;
  ASSERT_EQ(decode_read(port_replies(), 1, kReadAll, &v, &why), ReadOutcome::kOk) << why;
  std::vector<ReplyGroup> r = port_replies();
  r[4][9].data.clear();  // mode 4 reports its link with no data at all: the mode, no layout
  ASSERT_EQ(decode_read(r, 1, kReadAll, &(v = PortView()), &why), ReadOutcome::kOk) << why;
  EXPECT_TRUE(link_mode(v) == kLinkMode4 && !v.blocks[group::kTcpServer].known);
  (r = port_replies())[4] = one(180, {96});
  EXPECT_EQ(decode_read(r, 1, kReadAll, &v, &why) == ReadOutcome::kRefused ? why : "", "get-all");
  for (auto damage : std::vector<void (*)(std::vector<ReplyGroup>&)>{
           [](auto& r) { r[4][9].data.resize(8); },    // a link layout cut short
           [](auto& r) { r[4][9].data[0] = 9; },       // no such link mode
           [](auto& r) { r[4].erase(r[4].begin()); },  // no baud rate in the series
           [](auto& r) { r[7][0].data[0] = 5; },       // the location for the name
           [](auto& r) { r[5][0].data.pop_back(); },   // a delimiter block too short
           [](auto& r) { r[0][0].data[0] = 2; },       // another port selected
           [](auto& r) { r.pop_back(); }}) {           // a reply missing
    damage(r = port_replies());
    EXPECT_EQ(decode_read(r, 1, kReadAll, &v, &why), ReadOutcome::kUnexpected);
  }
  // A change holds only where the unit echoes each request.
  std::size_t failed = 0;
  for (const auto& [answer, outcome] : {std::pair{ReplyFrame{103, {3}}, ReadOutcome::kOk},
                                        {{103, {1}}, ReadOutcome::kUnexpected},  // stored another
                                        {{104, {3}}, ReadOutcome::kUnexpected},  // another setting
                                        {{180, {3}}, ReadOutcome::kRefused}})
    EXPECT_EQ(check_change_replies({{94, {1}}, {3, {3}}}, {one(194, {1}), {answer}}, &failed, &why),
              outcome);
  EXPECT_EQ(why + std::to_string(failed), "set-parity1");
}

}  // namespace
