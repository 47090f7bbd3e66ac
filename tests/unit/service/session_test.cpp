#include "service/session.h"

#include <gtest/gtest.h>

TEST(Session, CurrentPortStaysWithinThePortCount) {
  static PortTable table{};
  static SnmpIdentity identity{};
  EXPECT_EQ(get_port_count(), 2);
  set_session_context(&table, get_port_count(), &identity);
  EXPECT_EQ(session_context().port_table, &table);
  EXPECT_EQ(session_context().snmp_identity, &identity);

  set_current_port(2);
  EXPECT_EQ(act_g(), 2);
  EXPECT_EQ(current_port_record(), &table.records[1].settings);
  for (int bad : {0, -1, 3, 1000}) {
    set_current_port(2);
    set_current_port(bad);
    EXPECT_EQ(act_g(), 1) << bad;
    EXPECT_EQ(current_port_record(), &table.records[0].settings);
  }
  // Refreshing the context, as the loop does for every buffer, keeps the current port.
  set_current_port(2);
  set_session_context(&table, get_port_count(), &identity);
  EXPECT_EQ(act_g(), 2);
}
