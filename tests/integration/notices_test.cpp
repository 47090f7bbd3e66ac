// Which buffers announce a change: flag A or-ed over the serial-line and delimiter codes,
// flag B or-ed by code 79 and replaced by code 92's report, the notice naming the port that
// is current after the last frame; and the current port kept across connections.
#include "commands_support.h"

namespace {

const std::string kBaud9600 = bytes({0, 0, 0x25, 0x80});
const std::string kBad92 = bytes({1, 2});  // a link-mode length off the list: no change

TEST_F(CommandsTest, FlagsAAndBDecideTheNoticeForTheCurrentPort) {
  start();
  // 1 and 79 both change something: one notice.
  EXPECT_EQ(ask(frame(1, kBaud9600) + frame(79, "\x01"), 17),
            reply(1, kBaud9600) + reply(79, "\x01"));
  // 79 changes, then 92 reports no change: flag B is replaced, no notice.
  EXPECT_EQ(ask(frame(79, "\x02") + frame(92, kBad92), 14), reply(79, "\x02") + error_reply(92));
  // 1 changes, then the same 92: flag A still holds, one notice.
  EXPECT_EQ(ask(frame(1, kBaud9600) + frame(92, kBad92), 17),
            reply(1, kBaud9600) + error_reply(92));
  // 94 then 1: the notice names the newly selected port.
  EXPECT_EQ(ask(frame(94, "\x02") + frame(1, kBaud9600), 17),
            reply(94, "\x02") + reply(1, kBaud9600));
  expect_notices("1\n1\n2\n", '2');
}

TEST_F(CommandsTest, CurrentPortSurvivesAReconnectButTheLoginDoesNot) {
  start();
  EXPECT_EQ(ask(frame(94, "\x02"), 7), reply(94, "\x02"));
  client_.reset();
  client_ = greeted_client(kEth0Address);
  // A new connection must begin with IAC SB and log in again...
  EXPECT_EQ(ask(frame(94, bytes({0})), 7), error_reply(94));
  // ...and finds the port the previous client selected.
  EXPECT_EQ(ask(frame(0, "quillet") + frame(94, bytes({0})), 14),
            reply(0, "S") + reply(94, "\x02"));
}

}  // namespace
