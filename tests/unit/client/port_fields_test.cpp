#include "client/port_fields.h"

#include <gtest/gtest.h>

#include "client/json.h"
#include "client/port_json.h"

namespace {

using Bytes = std::vector<unsigned char>;

ReplyFrame reply(int code, Bytes data) { return ReplyFrame{code, std::move(data)}; }

// A field's value by its path as show --json names it; "(not shown)" when the view lacks it.
std::string value(const PortView& v, const std::string& path) {
  std::string text = "(no such field)";
  for (const Field& f : port_fields()) {
    if (f.path == path && field_shown(v, f)) return field_text(v, f, false);
    if (f.path == path) text = "(not shown)";
  }
  return text;
}

ReplyGroup get_all(const Bytes& link) {
  return {reply(101, {0, 1, 0xC2, 0}),
          reply(102, {8}),
          reply(103, {3}),
          reply(104, {1}),
          reply(105, {3}),
          reply(185, {2}),
          reply(189, {1, 0}),
          reply(190, {2}),
          reply(191, {5}),
          reply(192, link),
          reply(193, {0, 0}),
          reply(199, {2}),
          reply(198, {4, 3, 0xE7}),
          reply(197, {4, 3, 0xE7}),
          reply(195, {})};
}

// The replies to read_requests(1, kReadAll) of a port in UDP mode, over a session that did
// not arrive on eth0: local port 4660, entries 1 and 2 on, entry 2 to port 258 for
// 10.0.0.1 to 10.0.0.9; the serial-side delimiter flag 1, timer 32770, 0d 0a, 1452 bytes.
std::vector<ReplyGroup> udp_port_replies() {
  Bytes udp(91, 0);
  udp[0] = 3;
  udp[1] = 0x34, udp[2] = 0x12;
  for (int i = 0; i < 8; ++i) udp[3 + 11 * i] = i < 2;
  udp[3 + 11 + 1] = 0x02, udp[3 + 11 + 2] = 0x01;
  udp[3 + 11 + 3] = 10, udp[3 + 11 + 6] = 1;
  udp[3 + 11 + 7] = 10, udp[3 + 11 + 10] = 9;
  const Bytes block = {1, 0, 0x02, 0x80, 2, 0x0D, 0x0A, 0, 0xAC, 0x05};
  const Bytes error = {88};
  return {{reply(194, {1})},
          {reply(189, {1, 'a', 0})},
          {reply(179, {2})},
          {reply(199, {1})},
          get_all(udp),
          {reply(177, block)},
          {reply(176, {0, 0, 10, 0, 2, 0x0D, 0x0A, 0, 0xAC, 0x05})},
          {reply(189, {3, 'n', 0})},
          {reply(189, {5, 0})},
          {reply(189, {7, 'c', 0})},
          {reply(180, error)},
          {reply(180, error)},
          {reply(180, error)}};
}

PortView read_port(const std::vector<ReplyGroup>& replies,
                   ReadOutcome expected = ReadOutcome::kOk) {
  PortView v;
  std::string why;
  EXPECT_EQ(decode_read(replies, 1, kReadAll, &v, &why), expected) << why;
  return v;
}

// Show over a real daemon covers a TCP server port and the stored addresses over eth0; this
// port is in UDP mode, came in on another interface, and some replies are not whole.
TEST(PortView, ReadTakesEachGroupFromItsReplyAndRefusesWhatIsNotWhole) {
  const PortView v = read_port(udp_port_replies());
  const std::pair<const char*, const char*> expected[] = {
      {"serial.baud", "115200"},
      {"serial.parity", "even"},
      {"link.mode", "udp"},
      {"link.local_port", "4660"},
      {"link.entries[1].enable", "1"},
      {"link.entries[2].port", "258"},
      {"link.entries[2].end_ip", "10.0.0.9"},
      {"link.dest1_ip", "(not shown)"},
      {"delimiters.uart.chars", "0d0a"},
      {"snmp.location", ""},
      {"memory_only.alias", "a"},
      {"memory_only.option79", "2"},
      {"net.ip", "(not shown)"}};  // the address queries were refused: not eth0
  for (const auto& [path, text] : expected) EXPECT_EQ(value(v, path), text) << path;

  std::vector<ReplyGroup> refused = udp_port_replies();
  refused[4] = {reply(180, {96})};
  std::string why;
  PortView w;
  EXPECT_EQ(decode_read(refused, 1, kReadAll, &w, &why), ReadOutcome::kRefused);
  EXPECT_EQ(why, "get-all");

  // Mode 4 reports its link with no data at all: the mode, and no layout.
  std::vector<ReplyGroup> mode4 = udp_port_replies();
  mode4[4][9].data.clear();
  const PortView m = read_port(mode4);
  EXPECT_EQ(value(m, "link.mode"), "mode-4");
  EXPECT_EQ(value(m, "link.local_port"), "(not shown)");

  for (auto damage : std::vector<void (*)(std::vector<ReplyGroup>&)>{
           [](auto& r) { r[4][9].data.resize(60); },   // a UDP layout cut short
           [](auto& r) { r[4][9].data[0] = 9; },       // no such link mode
           [](auto& r) { r[4].erase(r[4].begin()); },  // no baud rate in the series
           [](auto& r) { r[4][3].data.clear(); },      // stop bits without their byte
           [](auto& r) { r[7][0].data[0] = 5; },       // the location for the name
           [](auto& r) { r[5][0].data.pop_back(); },   // a delimiter block too short
           [](auto& r) { r[0][0].data[0] = 2; }}) {    // another port selected
    std::vector<ReplyGroup> r = udp_port_replies();
    damage(r);
    read_port(r, ReadOutcome::kUnexpected);
  }
}

TEST(PortFields, PlansSendWholeGroupsInOrderAndOnlyWhatDiffers) {
  const PortView udp = read_port(udp_port_replies());
  EditPlan plan;
  std::string error;
  ASSERT_TRUE(plan_edits(udp,
                         {{"delimiters.uart.chars", "0d"},
                          {"serial.parity", "even"},
                          {"link.entries[3].enable", "1"},
                          {"serial.baud", "9600"}},
                         true, &plan, &error))
      << error;
  ASSERT_EQ(plan.requests.size(), 3u);  // parity already even: not sent
  EXPECT_EQ(plan.requests[0].code, 1);
  EXPECT_EQ(plan.requests[0].data, (Bytes{0, 0, 0x25, 0x80}));
  ASSERT_EQ(plan.requests[1].code, 92);
  ASSERT_EQ(plan.requests[1].data.size(), 91u);
  EXPECT_EQ(plan.requests[1].data[3 + 11 + 1], 0x02);  // entry 2 kept
  EXPECT_EQ(plan.requests[1].data[3 + 22], 1);         // entry 3 enabled
  EXPECT_EQ(plan.requests[2].data, (Bytes{1, 0, 0x02, 0x80, 1, 0x0D, 0, 0, 0xAC, 0x05}));
  EXPECT_EQ(plan.changes[2].field, "link.entries[3].enable");
  EXPECT_EQ(plan.changes[2].from, "0");

  // The link goes before the TCP mode, which the unit judges by the link mode it has.
  ASSERT_TRUE(plan_edits(udp,
                         {{"tcp_mode", "virtual-com"},
                          {"link.mode", "tcp-server"},
                          {"link.local_port", "1"},
                          {"link.ip_filter", "off"},
                          {"link.source_ip", "10.0.0.2"},
                          {"link.max_connections", "1"}},
                         false, &plan, &error))
      << error;
  ASSERT_EQ(plan.requests.size(), 2u);
  EXPECT_EQ(plan.requests[0].data, (Bytes{1, 1, 0, 0, 10, 0, 0, 2, 1, 0, 0, 0}));
  EXPECT_EQ(plan.requests[1].code, 85);

  // A value the port holds is not sent, so it passes even where the unit would refuse it.
  PortView unset = udp;
  unset.blocks[group::kBaud].bytes.assign(4, 0);
  EXPECT_TRUE(plan_edits(unset, {{"serial.baud", "0"}}, true, &plan, &error)) << error;
  EXPECT_TRUE(plan.requests.empty());
  EXPECT_FALSE(plan_edits(unset, {{"serial.baud", "0"}}, false, &plan, &error));
}

TEST(PortFields, APlanAsksFirstForWhatThePortMustTell) {
  const auto planned = [](const PortView& v, const std::vector<Edit>& edits) {
    EditPlan plan;
    std::string error;
    EXPECT_TRUE(plan_edits(v, edits, false, &plan, &error)) << error;
    return plan;
  };
  const PortView unread;
  EXPECT_EQ(planned(unread, {{"delimiters.uart.flag", "2"}}).needs_read, kReadUartDelimiter);
  EXPECT_EQ(planned(unread, {{"tcp_mode", "virtual-com"}}).needs_read, kReadGetAll);
  EXPECT_EQ(planned(unread, {{"tcp_mode", "raw"}}).requests[0].data, Bytes{2});
  EXPECT_EQ(planned(unread, {{"link.mode", "tcp-client"}, {"link.dest1_port", "1"}}).needs_read,
            kReadGetAll);
  // Every field of a layout given: nothing to read.
  const EditPlan whole = planned(unread, {{"link.mode", "tcp-client"},
                                          {"link.dest1_ip", "10.0.0.3"},
                                          {"link.dest1_port", "4001"},
                                          {"link.dest2_enable", "1"},
                                          {"link.dest2_ip", "10.0.0.4"},
                                          {"link.dest2_port", "4002"}});
  ASSERT_EQ(whole.requests.size(), 1u);
  EXPECT_EQ(whole.requests[0].data,
            (Bytes{2, 10, 0, 0, 3, 0xA1, 0x0F, 1, 10, 0, 0, 4, 0xA2, 0x0F}));

  // Get-all read, but in another mode: the layout query, then its reply completes the port.
  PortView udp = read_port(udp_port_replies());
  const std::vector<Edit> to_client = {{"link.mode", "tcp-client"}, {"link.dest1_port", "1"}};
  EXPECT_EQ(planned(udp, to_client).needs_layout, 2);
  EXPECT_EQ(layout_query(2).data, Bytes{6});
  const Bytes stored = {2, 10, 0, 0, 3, 0xA1, 0x0F, 1, 10, 0, 0, 4, 0xA2, 0x0F, 0};
  EXPECT_FALSE(decode_layout({reply(192, stored)}, 1, &udp));
  ASSERT_TRUE(decode_layout({reply(192, stored)}, 2, &udp));
  const EditPlan after = planned(udp, to_client);
  ASSERT_EQ(after.requests.size(), 1u);
  EXPECT_EQ(after.requests[0].data, (Bytes{2, 10, 0, 0, 3, 1, 0, 1, 10, 0, 0, 4, 0xA2, 0x0F}));
}

TEST(PortFields, ValuesTheUnitWouldRefuseOrNotKeepAreRefusedBeforeSending) {
  // The command-line tool's own test shows the common refusals end to end.
  std::string error;
  for (const auto& [field, text] : std::vector<std::pair<std::string, std::string>>{
           {"serial.data_bits", "4"},
           {"serial.stop_bits", "1.5"},
           {"link.entries[9].port", "1"},
           {"link.entries[1].enable", "off"},  // the unit reads entry 1 as on whatever it holds
           {"snmp.name", std::string(32, 'x')},
           {"link.local_port", "61695"},  // FF F0 would end the frame
           {"link.mode", "mode-4"},       // its layout is never reported, so never sent
           {"memory_only.option79", "1"},
           {"baud", "9600"}})
    EXPECT_FALSE(check_edit_values({{field, text}}, &error)) << field << " " << text;
  EXPECT_TRUE(check_edit_values({{"link.entries[2].enable", "on"}}, &error)) << error;
  EXPECT_FALSE(check_edit_values({{"link.mode", "udp"}, {"link.dest1_ip", "10.0.0.1"}}, &error));
  EXPECT_EQ(error, "link.dest1_ip is not a setting of link mode udp");

  // Checks that need the port's settings.
  const PortView udp = read_port(udp_port_replies());
  EditPlan plan;
  EXPECT_FALSE(plan_edits(udp, {{"tcp_mode", "virtual-com"}}, false, &plan, &error));
  EXPECT_EQ(error, "tcp_mode: virtual-com is not kept in link mode udp; the unit stores raw");
  // The network-side block has flag 0: the unit would read it as a query.
  EXPECT_FALSE(plan_edits(udp, {{"delimiters.tcp.timer", "5"}}, false, &plan, &error));
  EXPECT_EQ(error.rfind("delimiters.tcp.flag: 0 cannot be sent", 0), 0u) << error;
  EXPECT_TRUE(plan_edits(udp, {{"delimiters.tcp.timer", "10"}}, true, &plan, &error));
  EXPECT_TRUE(plan.requests.empty());  // unchanged, so nothing to send
  // FF F0 across two fields of a block: local port 65280 ends in FF, the filter byte is F0.
  EXPECT_FALSE(plan_edits(udp,
                          {{"link.mode", "tcp-server"},
                           {"link.local_port", "65280"},
                           {"link.ip_filter", "240"},
                           {"link.source_ip", "0.0.0.0"},
                           {"link.max_connections", "1"}},
                          false, &plan, &error));
  EXPECT_EQ(error.rfind("link.local_port: 65280 cannot be sent", 0), 0u) << error;
}

TEST(PortFields, RepliesConfirmTheirRequestsByEchoingThem) {
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
  ASSERT_TRUE(json_parse(R"({"serial": {"stop_bits": 1.5}, "snmp": {"name": "a\u00e9\t"}})", &json,
                         &error));
  ASSERT_TRUE(json_edits(json, &edits, &error));
  EXPECT_EQ(edits[0].value, "1.5");
  EXPECT_EQ(edits[1].value, "a\xC3\xA9\t");
  EXPECT_EQ(json_quote("a\"\\\t/\x01"), R"("a\"\\\t/\u0001")");
  EXPECT_FALSE(json_parse("{\n\"serial\": {\"baud\": 9600,}\n}", &json, &error));
  EXPECT_EQ(error.rfind("line 2:", 0), 0u);
  EXPECT_FALSE(json_parse(R"({"link": {"mode": null}})", &json, &error) &&
               json_edits(json, &edits, &error));
}

}  // namespace
