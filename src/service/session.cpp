#include "service/session.h"

#include "common/require.h"

namespace {
SessionContext g_session = {nullptr, nullptr, kPortCount, 1};
SnmpIdentity g_snmp_identity = {};
}  // namespace

int get_port_count() { return kPortCount; }

void set_session_context(PortTable* table, int port_count, SnmpIdentity* identity) {
  STATION_REQUIRE(port_count >= 1 && port_count <= kPortCount);
  g_session.port_table = table;
  g_session.port_count = port_count;
  g_session.snmp_identity = identity;
}

void set_current_port(int32_t port) {
  g_session.current_port = (port >= 1 && port <= g_session.port_count) ? port : 1;
}

int32_t act_g() { return g_session.current_port; }

PortSettings* current_port_record() {
  STATION_REQUIRE(g_session.port_table != nullptr);
  return &g_session.port_table->records[g_session.current_port - 1].settings;
}

const SessionContext& session_context() { return g_session; }

SnmpIdentity* process_snmp_identity() { return &g_snmp_identity; }
