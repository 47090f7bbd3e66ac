#include "client/port_fields.h"

#include <gtest/gtest.h>

#include "client/json.h"
#include "client/port_json.h"
#include "client/port_view.h"

namespace {

using Bytes = std::vector<unsigned char>;

ReplyFrame reply(int code, Bytes data) { return ReplyFrame{code, std::move(data)}; }

// The replies to read_requests(1, kReadAll) of a port in UDP mode, over a session that did
// not arrive on eth0.
std::vector<ReplyGroup> udp_port_replies() {
  Bytes udp(91, 0);
  udp[0] = 3;
  udp[1] = 0x34, udp[2] = 0x12;  // local port 4660
  for (int i = 0; i < 8; ++i) udp[3 + 11 * i] = i < 2;
  udp[3 + 11 + 1] = 0x02, udp[3 + 11 + 2] = 0x01;  // entry 2: port 258
  udp[3 + 11 + 3] = 10, udp[3 + 11 + 6] = 1;       // 10.0.0.1
  udp[3 + 11 + 7] = 10, udp[3 + 11 + 10] = 9;      // 10.0.0.9
  ReplyGroup get_all = {reply(101, {0, 1, 0xC2, 0}), reply(102, {8}), reply(103, {3}),
                        reply(104, {1}), reply(105, {3}), reply(185, {2}), reply(189, {1, 0}),
                        reply(190, {2}), reply(191, {5}), reply(192, udp), reply(193, {0, 0}),
                        reply(199, {2}), reply(198, {4, 3, 0xE7}), reply(197, {4, 3, 0xE7}),
                        reply(195, {})};
  const Bytes block = {1, 0, 0x02, 0x80, 2, 0x0D, 0x0A, 0, 0xAC, 0x05};  // 1, 32770, 0d0a, 1452
  const Bytes error = {88};
  return {{reply(194, {1})},  {reply(189, {1, 'a', 0})},     {reply(179, {2})},
          {reply(199, {1})},  get_all,
          {reply(177, block)}, {reply(176, {0, 0, 10, 0, 0, 0, 0, 0, 0, 0})},
          {reply(189, {3, 'n', 0})}, {reply(189, {5, 0})}, {reply(189, {7, 'c', 0})},
          {reply(180, error)}, {reply(180, error)}, {reply(180, error)}};
}

PortView udp_port() {
  PortView v;
  std::string why;
  EXPECT_EQ(decode_read(udp_port_replies(), 1, kReadAll, &v, &why), ReadOutcome::kOk) << why;
  return v;
}

// Show over a real daemon covers the TCP-server fields and the alias; this port is in UDP
// mode and came in on another interface.
TEST(PortView, ReadDecodesGetAllQueriesAndTheMemoryOnlyValues) {
  const PortView v = udp_port();
  EXPECT_EQ(v.serial.baud, 115200u);
  EXPECT_EQ(v.link.mode, 3);
  EXPECT_EQ(v.link.udp.local_port, 4660);
  EXPECT_EQ(v.link.udp.entries[1].port, 258);
  EXPECT_EQ(format_ipv4(v.link.udp.entries[1].end_ip), "10.0.0.9");
  EXPECT_EQ(v.uart_delimiter.chars, (Bytes{0x0D, 0x0A}));
  EXPECT_EQ(v.option79, 2);
  EXPECT_EQ(v.option99, 1);
  EXPECT_FALSE(v.has_net);  // the address queries were refused: not eth0

  // The request order that makes this true.
  const std::vector<Request> r = read_requests(1, kReadAll);
  ASSERT_EQ(r.size(), 13u);
  EXPECT_EQ(r[1].code, 89);
  EXPECT_EQ(r[4].code, 96);

  std::vector<ReplyGroup> refused = udp_port_replies();
  refused[4] = {reply(180, {96})};
  PortView w;
  std::string why;
  EXPECT_EQ(decode_read(refused, 1, kReadAll, &w, &why), ReadOutcome::kRefused);
  EXPECT_EQ(why, "get-all");
}

TEST(PortView, LinkAndDelimiterBlocksKeepTheWireLayout) {
  LinkSettings server;
  server.mode = 1;
  server.server = {true, 258, 1, {10, 0, 0, 2}, 1};
  EXPECT_EQ(link_payload(server), (Bytes{1, 0x02, 0x01, 1, 10, 0, 0, 2, 1, 0, 0, 0}));
  LinkSettings client;
  client.mode = 2;
  client.client = {true, {10, 0, 0, 3}, 4001, 1, {10, 0, 0, 4}, 4002};
  EXPECT_EQ(link_payload(client), (Bytes{2, 10, 0, 0, 3, 0xA1, 0x0F, 1, 10, 0, 0, 4, 0xA2, 0x0F}));
  Delimiter d{0x0102, 10, {0x0D}, 1452};
  EXPECT_EQ(delimiter_block(d), (Bytes{0x02, 0x01, 10, 0, 1, 0x0D, 0, 0, 0xAC, 0x05}));
  EXPECT_EQ(text_request(3, "ab").data, (Bytes{3, 'a', 'b', 0}));
}

TEST(PortFields, ValuesTheUnitWouldNotTakeAreRefusedBeforeSending) {
  std::string error;
  const auto refused = [&](const std::string& field, const std::string& value) {
    return !check_edit_values({{field, value}}, &error);
  };
  // The command-line tool's own test shows the common refusals end to end.
  EXPECT_TRUE(refused("serial.data_bits", "4"));
  EXPECT_TRUE(refused("link.entries[9].port", "1"));
  EXPECT_TRUE(refused("snmp.name", std::string(32, 'x')));
  EXPECT_TRUE(refused("link.local_port", "61695"));  // FF F0 would end the frame
  EXPECT_TRUE(refused("baud", "9600"));
  EXPECT_TRUE(refused("serial.stop_bits", "1.5"));
  EXPECT_EQ(error, "serial.stop_bits: 1.5 is not 1 or 2 stop bits");
  EXPECT_FALSE(refused("link.dest1_port", "4001"));  // a link field of some layout
  EXPECT_FALSE(check_edit_values({{"link.mode", "udp"}, {"link.dest1_ip", "10.0.0.1"}}, &error));
  EXPECT_EQ(error, "link.dest1_ip is not a setting of link mode udp");
  EXPECT_FALSE(refused("link.entries[2].enable", "on"));

  // Checks that need the port's settings.
  const PortView udp = udp_port();
  EditPlan plan;
  EXPECT_FALSE(plan_edits(udp, {{"tcp_mode", "virtual-com"}}, false, &plan, &error));
  EXPECT_TRUE(plan_edits(udp,
                         {{"link.mode", "tcp-server"},
                          {"link.local_port", "1"},
                          {"link.ip_filter", "0"},
                          {"link.source_ip", "0.0.0.0"},
                          {"link.max_connections", "1"},
                          {"tcp_mode", "virtual-com"}},
                         false, &plan, &error))
      << error;
  // The network-side block has flag 0, yet an unchanged value is not a change.
  EXPECT_TRUE(plan_edits(udp, {{"delimiters.tcp.timer", "10"}}, true, &plan, &error));
  EXPECT_TRUE(plan.requests.empty());  // unchanged, so nothing to send
}

TEST(PortFields, PlansSendWholeBlocksAndOnlyWhatDiffers) {
  const PortView udp = udp_port();
  EditPlan plan;
  std::string error;
  ASSERT_TRUE(plan_edits(udp,
                         {{"serial.baud", "9600"},
                          {"serial.parity", "even"},
                          {"link.entries[3].enable", "1"},
                          {"delimiters.uart.chars", "0d"}},
                         true, &plan, &error))
      << error;
  ASSERT_EQ(plan.requests.size(), 3u);  // parity already even: not sent
  EXPECT_EQ(plan.requests[0].data, (Bytes{0, 0, 0x25, 0x80}));
  ASSERT_EQ(plan.requests[1].code, 92);
  EXPECT_EQ(plan.requests[1].data.size(), 91u);
  EXPECT_EQ(plan.requests[1].data[3 + 11 + 1], 0x02);  // entry 2 kept
  EXPECT_EQ(plan.requests[1].data[3 + 22], 1);         // entry 3 enabled
  EXPECT_EQ(plan.requests[2].data, (Bytes{1, 0, 0x02, 0x80, 1, 0x0D, 0, 0, 0xAC, 0x05}));

  // A value the port holds is not sent, so it passes even where the unit would refuse it.
  PortView unset = udp;
  unset.serial.baud = 0;
  EXPECT_TRUE(plan_edits(unset, {{"serial.baud", "0"}}, true, &plan, &error)) << error;
  EXPECT_TRUE(plan.requests.empty());
  EXPECT_FALSE(plan_edits(unset, {{"serial.baud", "0"}}, false, &plan, &error));

  // A new link mode whose settings were not read, and not all given: read them first.
  ASSERT_TRUE(plan_edits(udp, {{"link.mode", "tcp-client"}, {"link.dest1_port", "1"}}, false, &plan,
                         &error));
  EXPECT_EQ(plan.needs_layout, 2);
  EXPECT_EQ(layout_query(2).data, (Bytes{6}));

  // Replies confirm by echoing the request; the error reply names the refused command.
  std::size_t failed = 0;
  std::string why;
  const std::vector<Request> sent = {{94, {1}}, {3, {3}}};
  EXPECT_EQ(check_change_replies(sent, {{reply(194, {1})}, {reply(103, {3})}}, &failed, &why),
            ReadOutcome::kOk);
  EXPECT_EQ(check_change_replies(sent, {{reply(194, {1})}, {reply(103, {1})}}, &failed, &why),
            ReadOutcome::kUnexpected);
  EXPECT_EQ(check_change_replies(sent, {{reply(194, {1})}, {reply(180, {3})}}, &failed, &why),
            ReadOutcome::kRefused);
  EXPECT_EQ(failed, 1u);
  EXPECT_EQ(why, "set-parity");
}

TEST(PortJson, NumbersAndEscapesReadAsTextAndErrorsNameTheirLine) {
  // Show, diff and apply over a real daemon prove the round trip; these are the edges.
  JsonValue json;
  std::string error;
  std::vector<Edit> edits;
  ASSERT_TRUE(
      json_parse(R"({"serial": {"stop_bits": 1.5}, "snmp": {"name": "a\u00e9"}})", &json, &error));
  ASSERT_TRUE(json_edits(json, &edits, &error));
  EXPECT_EQ(edits[0].value, "1.5");
  EXPECT_EQ(edits[1].value, "a\xC3\xA9");
  EXPECT_FALSE(json_parse("{\n\"serial\": {\"baud\": 9600,}\n}", &json, &error));
  EXPECT_EQ(error.rfind("line 2:", 0), 0u);
  EXPECT_FALSE(json_parse(R"({"link": {"mode": null}})", &json, &error) &&
               json_edits(json, &edits, &error));
}

}  // namespace
