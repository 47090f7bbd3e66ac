// The frame scanner on inputs a session cannot easily send, and the reply writer at the edge of
// the space left.
#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include "client/field_codec.h"
#include "support/scenario.h"

namespace {

std::string bytes(const std::string& tokens) {
  std::string out, why;
  EXPECT_TRUE(scenario_bytes(tokens, &out, &why)) << why;
  return out;
}

TEST(FrameCodec, ScanFindsTheFirstWholeFrameAndWritersWriteWholeFramesOrNothing) {
  // Input, and the code, the length of the frame's own bytes and the data found.
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"00 FF FA 2C 02 08 FF F0", "2 7 08"}, {"FF FA 2C FF F0", "255 5"}, {"FF FA 2C FF", "-1 0"},
      {"FF FA 2C 59 01 FF F0 02 FF F0", "89 7 01"}, {"FF FA 2C 59 FF 01 FF F0", "89 8 ff01"},
      {"FF FA 2C 5E FF F0", "94 6"}, {"FF FA 2C 01 00", "-1 0"}, {"FF F0 FF FA 2C 01", "-1 0"}};
  // clang-format on
  for (const auto& [text, want] : cases) {
    const std::string in = bytes(text);
    int length = -7;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(1);
    const int code = scan_frame(reinterpret_cast<const unsigned char*>(in.data()),
                                static_cast<int>(in.size()), &length, &data);
    EXPECT_EQ(std::to_string(code) + " " + std::to_string(length) +
                  (data ? " " + hex_bytes(data, length - 6, "") : ""),
              want)
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
