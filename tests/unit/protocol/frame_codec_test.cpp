// The frame scanner on the inputs a session cannot easily send, one row per case, and the
// reply writers at the edge of the space left.
#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include "support/scenario.h"

namespace {

std::string bytes(const std::string& tokens) {
  std::string out, why;
  EXPECT_TRUE(scenario_bytes(tokens, &out, &why)) << why;
  return out;
}

TEST(FrameCodec, ScanFindsTheFirstWholeFrameAndCountsOnlyItsOwnBytes) {
  const struct {
    const char *in, *data;
    int code, length;
  } cases[] = {
      {"00 FF FA 2C 02 08 FF F0", "08", 2, 7},  // skipped bytes are not counted
      {"FF FA 2C 5E FF F0", "", 0x5E, 6},
      {"FF FA 2C FF F0", "", 255, 5},  // the one frame shorter than 6 bytes
      {"FF FA 2C 59 01 FF F0 02 FF F0", "01", 0x59, 7},
      {"FF FA 2C 59 FF 01 FF F0", "FF 01", 0x59, 8},  // a lone FF stays data
      {"", "", -1, 0},
      {"FF FA", "", -1, 0},
      {"FF FA 2C 01 00", "", -1, 0},
      {"FF FA 2C FF", "", -1, 0},
      {"FF F0 FF FA 2C 01", "", -1, 0},
  };
  for (const auto& c : cases) {
    const std::string in = bytes(c.in);
    int length = -7;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(1);
    const int code = scan_frame(reinterpret_cast<const unsigned char*>(in.data()),
                                static_cast<int>(in.size()), &length, &data);
    EXPECT_EQ(code, c.code) << c.in;
    EXPECT_EQ(length, c.length) << c.in;
    const std::string got =
        data ? std::string(reinterpret_cast<const char*>(data), length - 6) : "";
    EXPECT_EQ(got, bytes(c.data)) << c.in;
    EXPECT_EQ(data != nullptr, !got.empty()) << c.in;
  }
}

TEST(FrameCodec, WritersWriteWholeFramesOrNothing) {
  unsigned char out[16] = {};
  const unsigned char payload[] = {1, 2, 3};
  int size = 9;  // exactly d + 6
  put_reply(out, &size, 7, payload, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 9), bytes("107(01 02 03)"));
  size = 8;
  put_reply(out, &size, 7, payload, 3);
  EXPECT_EQ(size, 0);
  size = 6;
  put_reply(out, &size, 200, nullptr, 0);
  EXPECT_EQ(out[3], 44);  // (200 + 100) modulo 256
  EXPECT_EQ(put_frame_head(out, 2) + put_frame_tail(out, 1), 0);
}

}  // namespace
