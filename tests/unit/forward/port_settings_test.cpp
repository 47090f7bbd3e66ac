// The [COMn] keys as the forwarder reads them: the line they give (tests/data/serial_line.txt on a
// real pseudo-terminal, read back from the kernel); keys of other link modes cost no connection.
#include "forward/port_settings.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include "forward/serial_line.h"
#include "support/case_table.h"

namespace {

PortSettings com1(const std::string& keys) {
  PortSettings ports[kForwardPorts];
  const std::string text = "[COM1]\n" + keys + "\n[+COM1]\n[COM2]\n[+COM2]\n";
  EXPECT_EQ(read_port_settings(text.c_str(), ports), 1);
  return ports[0];
}

const std::map<std::string, speed_t> kSpeeds = {{"300", B300},       {"2400", B2400},
                                                {"9600", B9600},     {"19200", B19200},
                                                {"115200", B115200}, {"460800", B460800}};
const std::map<std::string, tcflag_t> kSizes = {{"5", CS5}, {"6", CS6}, {"7", CS7}, {"8", CS8}};
const std::map<std::string, tcflag_t> kParities = {
    {"none", 0}, {"odd", PARENB | PARODD}, {"even", PARENB}, {"mark", PARENB | PARODD | CMSPAR},
    {"space", PARENB | CMSPAR}};

TEST(SerialLine, KeysGiveTheLine) {
  // A pty forces CS8 and no parity, qemu-user drops CMSPAR: those are checked as asked.
  const char* emulator = std::getenv("STATION_EMULATOR");
  const tcflag_t forced = CSIZE | PARENB | (emulator && *emulator ? CMSPAR : 0);
  for (const CaseRow& row : read_case_table("serial_line.txt")) {
    SCOPED_TRACE(row.where);
    const SerialSettings line = com1(row.text(0)).serial;
    int master, slave, rs485_errno = -1;
    termios before, t;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    EXPECT_EQ(apply_serial_settings(slave, line, &rs485_errno), 0);
    EXPECT_TRUE(rs485_errno == ENOTTY || rs485_errno == ENOSYS) << rs485_errno;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    for (int fd : {slave, master}) close(fd);
    const termios asked = line_termios(line, before);
    EXPECT_EQ(t.c_cflag & ~forced, asked.c_cflag & ~forced);
    t.c_cflag = asked.c_cflag;
    EXPECT_TRUE(cfgetospeed(&t) == kSpeeds.at(row.text(1)) && cfgetispeed(&t) == cfgetospeed(&t));
    EXPECT_EQ(t.c_cflag & CSIZE, kSizes.at(row.text(2)));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), kParities.at(row.text(3)));
    EXPECT_EQ((t.c_iflag & INPCK) != 0, row.text(3) != "none");
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, row.text(4) == "2");
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, row.text(5) == "rtscts");
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), row.text(5) == "xonxoff" ? IXON | IXOFF : 0u);
    EXPECT_EQ(t.c_cc[VSTART], std::stoi(row.text(6), nullptr, 16));
    EXPECT_EQ(t.c_cc[VSTOP], std::stoi(row.text(7), nullptr, 16));
    EXPECT_EQ(line_rs485(line).flags & (SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND),
              row.text(8) == "on" ? SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND : 0u);
  }
}

TEST(PortSettings, KeysOfOtherLinkModesCostNoConnection) {
  auto change = [](const std::string& a, const std::string& b) {
    return compare_port_settings(com1(a), com1(b));
  };
  const std::string server = "com_link_mode=TCP_Server\ncom_local_port=4660\n",
                    client = "com_link_mode=TCP_Client\ncom_local_port=4660\n";
  EXPECT_EQ(change(server, server + "com_des1_ip=127.0.0.1\ncom_udp_local_port=7"), 0u);
  EXPECT_EQ(change(client, client + "com_des1_ip=127.0.0.1"), kLinkChanged);
  EXPECT_EQ(change(client, "com_link_mode=TCP_Client\ncom_local_port=4670\n"), 0u);
}

}  // namespace
