// Fills the PortRecords and the SnmpIdentity block from station.ini, through the key
// accessors only. The loaders never fail: a missing file or key gives the accessors' empty
// values, which map to the codes of a plain port (TCP server, RAW, RS-232, no parity, ...).
#pragma once

#include "model/port_record.h"

// Record `index` (0-based) from sections "COM%d" and "+COM%d" of port index + 1. Memory-only
// fields return to their start values; bytes of link_settings beyond the layout of the
// loaded mode, mode4_settings and value93 are left as they were.
void load_port_record(PortTable* table, int index);
// The layout of link mode `mode` (1 TCP server, 2 TCP client, 3 UDP; others: nothing) as
// station.ini holds it, written in link_settings form into `layout`. With report_udp_port the
// UDP local port is printed as get-all reports it.
void read_link_layout(int port, int mode, unsigned char* layout, bool report_udp_port);
// load_port_record for 0 .. count - 1, in order. Always 0 (success).
int load_port_table(PortTable* table, int count);
// Clears and refills the three texts from section "SNMP".
void load_snmp_identity(SnmpIdentity* identity);
