// The SessionContext: the one process-wide place where command handlers find the PortTable,
// the SnmpIdentity block, the port count and the current port. The current port is kept
// across connections; set_current_port is the only way to change it and it never leaves
// the range 1..port count.
#pragma once

#include <cstdint>

#include "model/port_record.h"

struct SessionContext {
  PortTable* port_table;
  SnmpIdentity* snmp_identity;
  int port_count;
  int32_t current_port;  // 1-based, 1 at process start
};

// The number of serial ports: always 2.
int get_port_count();
void set_session_context(PortTable* table, int port_count, SnmpIdentity* identity);
// The number when it lies in 1..port count, else 1.
void set_current_port(int32_t port);
int32_t act_g();
// Settings view of record act_g() - 1. Only valid once set_session_context has run.
PortSettings* current_port_record();
const SessionContext& session_context();

// The process-wide SnmpIdentity block that the daemon loads at start.
SnmpIdentity* process_snmp_identity();
