#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Scan {
  int code, length;
  Bytes data;
  bool has_data;
};

Scan scan(const Bytes& in) {
  int length = -7;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(1);
  const int code = scan_frame(in.data(), static_cast<int>(in.size()), &length, &data);
  Scan s{code, length, {}, data != nullptr};
  if (data) s.data.assign(data, data + (length - 6));
  return s;
}

Bytes reply(int code, const Bytes& payload, int space = 1024) {
  Bytes out(static_cast<size_t>(space) + 8, 0xAA);
  int size = space;
  put_reply(out.data(), &size, code, payload.empty() ? nullptr : payload.data(),
            static_cast<int>(payload.size()));
  out.resize(static_cast<size_t>(size));
  return out;
}

TEST(FrameCodec, WorkedExamplesHoldByteForByte) {
  // set baud rate 9600: the reply echoes the four rate bytes under code 101.
  Scan s = scan({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0});
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.length, 10);
  EXPECT_EQ(get_be32(s.data.data()), 9600u);
  EXPECT_EQ(reply(1, s.data), (Bytes{0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0}));

  unsigned char rate[4];
  put_be32(115200, rate);
  EXPECT_EQ(reply(1, Bytes(rate, rate + 4)),
            (Bytes{0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0}));
  EXPECT_EQ(reply(3, {0x03}), (Bytes{0xFF, 0xFA, 0x2C, 0x67, 0x03, 0xFF, 0xF0}));

  for (int code : {2, 5, 200}) {
    Bytes out(16, 0);
    int size = 16;
    put_error_reply(out.data(), &size, code);
    out.resize(static_cast<size_t>(size));
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0xB4, static_cast<unsigned char>(code), 0xFF, 0xF0}));
  }
}

TEST(FrameCodec, ScanFindsTheShortestWholeFrame) {
  const struct {
    Bytes in;
    int code, length;
    Bytes data;
  } cases[] = {
      {{0x00, 0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0}, 2, 7, {0x08}},  // skipped bytes uncounted
      {{0xFF, 0xFA, 0x2C, 0x5E, 0xFF, 0xF0}, 0x5E, 6, {}},
      {{0xFF, 0xFA, 0x2C, 0xFF, 0xF0}, 255, 5, {}},  // the one frame shorter than 6 bytes
      {{0xFF, 0xFA, 0x2C, 0x59, 0x01, 0xFF, 0xF0, 0x02, 0xFF, 0xF0}, 0x59, 7, {0x01}},
      {{0xFF, 0xFA, 0x2C, 0x59, 0xFF, 0x01, 0xFF, 0xF0}, 0x59, 8, {0xFF, 0x01}},  // lone FF
      // No whole head and tail: nothing found.
      {{}, -1, 0, {}},
      {{0xFF, 0xFA}, -1, 0, {}},
      {{0xFF, 0xFA, 0x2C, 0x01, 0x00}, -1, 0, {}},
      {{0xFF, 0xFA, 0x2C, 0xFF}, -1, 0, {}},
      {{0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x01}, -1, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    const Scan s = scan(c.in);
    EXPECT_EQ(s.code, c.code);
    EXPECT_EQ(s.length, c.length);
    EXPECT_EQ(s.data, c.data);
    EXPECT_EQ(s.has_data, !c.data.empty());
  }
}

TEST(FrameCodec, WritersRespectTheSpaceLeft) {
  const Bytes payload{1, 2, 3};
  EXPECT_EQ(reply(7, payload, 9).size(), 9u);  // exactly d + 6
  EXPECT_TRUE(reply(7, payload, 8).empty());   // d + 5: nothing, size 0
  EXPECT_EQ(reply(7, {}, 6), (Bytes{0xFF, 0xFA, 0x2C, 107, 0xFF, 0xF0}));
  EXPECT_EQ(reply(200, {}, 6)[3], 44);  // (200 + 100) modulo 256

  unsigned char buf[3] = {0x11, 0x11, 0x11};
  EXPECT_EQ(put_frame_head(buf, 2) + put_frame_tail(buf, 1), 0);
  EXPECT_EQ(buf[0], 0x11);
  EXPECT_EQ(put_frame_head(buf, 3), 3);
  EXPECT_EQ(put_frame_tail(buf, 2), 2);
  EXPECT_EQ(buf[1], 0xF0);
}

TEST(ByteOrder, HelpersAreExplicitOnEveryMachine) {
  unsigned char out[4];
  put_be32(9600, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x00, 0x00, 0x25, 0x80}));
  put_le32(0x12345678, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(get_le32(out), 0x12345678u);
  put_le16(0xABCD, out);
  put_be16(0xABCD, out + 2);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xCD, 0xAB, 0xAB, 0xCD}));
  EXPECT_EQ(get_le16(out), 0xABCD);
  EXPECT_EQ(get_be16(out + 2), 0xABCD);
}

}  // namespace
