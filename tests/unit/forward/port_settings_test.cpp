// What a rewrite of station.ini asks of a port: the line, the listener, the link, or
// nothing. Keys of link modes the port is not in must not cost it its connections.
#include "forward/port_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

unsigned change(const std::string& before, const std::string& after, int port = 1) {
  const std::string rest = "[+COM1]\n[COM2]\ncom_baud_rate=9600\n[+COM2]\n";
  PortSettings a[kForwardPorts], b[kForwardPorts];
  EXPECT_EQ(read_port_settings(("[COM1]\n" + before + "\n" + rest).c_str(), a), 1);
  EXPECT_EQ(read_port_settings(("[COM1]\n" + after + "\n" + rest).c_str(), b), 1);
  return compare_port_settings(a[port - 1], b[port - 1]);
}

TEST(PortSettings, EachRewriteTouchesOnlyWhatItChanged) {
  const std::string server = "com_link_mode=TCP_Server\ncom_local_port=4660\ncom_data_bit=8\n";
  EXPECT_EQ(change(server + "com_baud_rate=9600", server + "com_baud_rate=19200"),
            kSerialChanged);
  EXPECT_EQ(change(server + "com_ixon=0x11", server + "com_ixon=0x01"), kSerialChanged);
  EXPECT_EQ(change(server, "com_link_mode=TCP_Server\ncom_local_port=4670\n"), kListenerChanged);
  EXPECT_EQ(change(server, server + "com_max_connection=2"), kLinkChanged);
  EXPECT_EQ(change(server, server + "com_des1_ip=127.0.0.1\ncom_udp_local_port=7"), 0u);
  // A timing key keeps the connections; a TCP mode is a new link.
  EXPECT_EQ(change(server, server + "com_reply_all=1"), kTransferChanged);
  EXPECT_EQ(change(server, server + "com_tcp_mode=Virtual_COM"), kLinkChanged);
  const std::string client = "com_link_mode=TCP_Client\ncom_local_port=4660\n";
  EXPECT_EQ(change(client, client + "com_des1_ip=127.0.0.1"), kLinkChanged);
  EXPECT_EQ(change(client, "com_link_mode=TCP_Client\ncom_local_port=4670\n"), 0u);
  EXPECT_EQ(change(server, client), kLinkChanged);
  EXPECT_EQ(change(server, server + "com_baud_rate=19200", 2), 0u);  // COM1's keys, COM2 asked
  // A rewrite caught half way is not a reading at all.
  PortSettings kept[kForwardPorts];
  EXPECT_EQ(read_port_settings("[COM1]\n[+COM1]\n[COM2]\ncom_baud_rate=9600\n", kept), 0);
}

}  // namespace
