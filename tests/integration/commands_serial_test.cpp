// The serial-line commands over real TCP: station.ini written in the current port's section,
// values outside the supported set answered as queries, and one ChangeNotice per buffer.
#include "commands_support.h"

namespace {

constexpr char kIni[] =
    "[COM1]\ncom_baud_rate=115200\ncom_data_bit=7\ncom_parity=None\ncom_stop_bit=1\n"
    "com_flow_control=None\n[COM2]\ncom_baud_rate=19200\n";

TEST_F(CommandsTest, SerialSetsWriteTheCurrentPortAndQueriesWriteNothing) {
  start(kIni);
  // Select COM2 and set 9600 baud in one segment.
  EXPECT_EQ(ask(frame(94, "\x02") + frame(1, bytes({0, 0, 0x25, 0x80})), 17),
            bytes({0xFF, 0xFA, 0x2C, 0xC2, 0x02, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00,
                   0x25, 0x80, 0xFF, 0xF0}));
  EXPECT_EQ(section("COM2"), "com_baud_rate=9600\n");

  // 0 and 14400 ask for the rate; three bytes are refused. Nothing is written.
  const std::string before = ini();
  const std::string rate = bytes({0x00, 0x01, 0xC2, 0x00});
  EXPECT_EQ(ask(frame(94, "\x01") + frame(1, bytes({0, 0, 0, 0})) +
                    frame(1, bytes({0, 0, 0x38, 0x40})) + frame(1, bytes({0, 0x25, 0x80})) +
                    frame(2, "\x04") + frame(4, "\x03") + frame(5, "\x08"),
                7 + 10 + 10 + 7 + 7 + 7 + 7),
            reply(94, "\x01") + reply(1, rate) + reply(1, rate) +
                bytes({0xFF, 0xFA, 0x2C, 0xB4, 0x01, 0xFF, 0xF0}) + reply(2, "\x07") +
                reply(4, "\x01") + reply(5, "\x01"));
  EXPECT_EQ(ini(), before);

  EXPECT_EQ(ask(frame(2, "\x08") + frame(3, "\x03") + frame(4, "\x02"), 21),
            reply(2, "\x08") + reply(3, "\x03") + reply(4, "\x02"));
  EXPECT_EQ(ask(frame(5, "\x03"), 7), reply(5, "\x03"));
  EXPECT_EQ(section("COM1"),
            "com_baud_rate=115200\ncom_data_bit=8\ncom_parity=Even\ncom_stop_bit=2\n"
            "com_flow_control=RTS/CTS\n");
  EXPECT_EQ(section("COM2"), "com_baud_rate=9600\n");
  // COM2's set, then the two buffers of COM1's sets; the queries told nobody.
  expect_notices("2\n1\n1\n", '1');
}

}  // namespace
