// The frame scanner on inputs a session cannot easily send, and the reply writer at the edge of
// the space left.
#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/scenario.h"

namespace {

std::string bytes(const std::string& tokens) {
  std::string out, why;
  EXPECT_TRUE(scenario_bytes(tokens, &out, &why)) << why;
  return out;
}

TEST(FrameCodec, ScanFindsTheFirstWholeFrameAndWritersWriteWholeFramesOrNothing) {
  // Input, code, length (of the frame's own bytes), data.
  // clang-format off
  const std::tuple<const char*, int, int, const char*> cases[] = {
      {"00 FF FA 2C 02 08 FF F0", 2, 7, "08"},          {"FF FA 2C FF F0", 255, 5, ""},
      {"FF FA 2C 59 01 FF F0 02 FF F0", 0x59, 7, "01"}, {"FF FA 2C 59 FF 01 FF F0", 0x59, 8, "FF 01"},
      {"", -1, 0, ""}, {"FF FA 2C 01 00", -1, 0, ""}, {"FF FA 2C FF", -1, 0, ""},
      {"FF F0 FF FA 2C 01", -1, 0, ""}};
  // clang-format on
  for (const auto& [text, code, length, data] : cases) {
    const std::string in = bytes(text);
    int got = -7;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(1);
    EXPECT_EQ(scan_frame(reinterpret_cast<const unsigned char*>(in.data()),
                         static_cast<int>(in.size()), &got, &at),
              code)
        << text;
    EXPECT_EQ(got, length) << text;
    EXPECT_EQ(at ? std::string(reinterpret_cast<const char*>(at), got - 6) : "-",
              *data ? bytes(data) : "-")
        << text;
  }
  unsigned char out[16] = {};
  const unsigned char payload[] = {1, 2, 3};
  int size = 9;  // exactly d + 6
  put_reply(out, &size, 7, payload, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size), bytes("107(01 02 03)"));
  put_reply(out, &(size = 8), 7, payload, 3);
  EXPECT_EQ(size, 0);
  put_reply(out, &(size = 6), 200, nullptr, 0);
  EXPECT_EQ(out[3], 44);  // (200 + 100) modulo 256
  EXPECT_EQ(put_frame_head(out, 2) + put_frame_tail(out, 1), 0);
}

}  // namespace
