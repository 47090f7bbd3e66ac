// A delimiter block read as a packing rule, against tests/data/pack_rule.txt: what each
// field means, and the length of a character time for the line's framing.
#include "forward/packer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/case_table.h"

namespace {

const std::map<std::string, int> kParities = {{"none", kParityNone}, {"odd", kParityOdd},
                                              {"even", kParityEven}};

TEST(Packer, DelimiterBlocksGiveTheirRules) {
  for (const CaseRow& row : read_case_table("pack_rule.txt")) {
    SCOPED_TRACE(row.where);
    Packing p{};
    p.flag = std::stoi(row.text(0));
    p.timer = std::stoi(row.text(1));
    const std::string chars = row.text(2);
    p.chars[0] = static_cast<unsigned char>(chars.size() / 2);
    for (std::size_t i = 0; i < chars.size() / 2; ++i)
      p.chars[1 + i] = static_cast<unsigned char>(std::stoi(chars.substr(2 * i, 2), nullptr, 16));
    p.max_bytes = std::stoi(row.text(3));
    const SerialSettings line{std::stoi(row.text(4)), std::stoi(row.text(5)),
                              kParities.at(row.text(6)), row.text(7) == "2", kFlowNone, 0x11,
                              0x13, kRs232};
    const PackRule r = make_pack_rule(p, line);
    EXPECT_EQ(r.on, row.text(8) == "on");
    EXPECT_EQ(r.delimiter_count, std::stoi(row.text(9)));
    EXPECT_EQ(r.idle_ms, std::stoi(row.text(10)));
    EXPECT_EQ(r.max_bytes, std::stoul(row.text(11)));
  }
}

}  // namespace
