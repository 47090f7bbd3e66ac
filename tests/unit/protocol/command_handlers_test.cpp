// Boundary rules of the command handlers, in process: a real station.ini under a scratch
// device root and a fake EEPROM. The lengths a code accepts are the dispatcher's test; whole
// sessions, byte for byte, are the integration tests' business.
#include "protocol/command_handlers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "model/port_loader.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "protocol/serial_commands.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

std::string reply(int code, const std::string& payload = "") {
  return std::string("\xFF\xFA\x2C") + static_cast<char>(code + 100) + payload + "\xFF\xF0";
}
std::string error(int byte) { return reply(80, std::string(1, static_cast<char>(byte))); }
std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

constexpr char kIni[] = "[COM1]\ncom_data_bit=8\ncom_link_mode=TCP_Server\n";

class Handlers : public ::testing::Test {
 protected:
  void SetUp() override {
    // The password alert runs the device's programs: stand-ins only.
    ASSERT_EQ(prepare_device_root(root_.path().c_str()), 0);
    write_file(ini_path(), kIni);
    load_port_table(&table_, 2);
    set_session_context(&table_, 2, &identity_);
    set_current_port(1);
  }
  void TearDown() override {
    std::filesystem::current_path(cwd_);
    set_root(nullptr);
  }
  std::string ini_path() { return root_.file("mnt/jffs2/station.ini"); }
  const PortSettings& com1() { return table_.records[0].settings; }

  // One handler on one payload (none when empty) from interface eth: the reply, and the
  // report in report_.
  std::string run(CommandHandler h, const std::string& data, int eth = 1) {
    int size = sizeof answer_;
    report_ = h(data.empty() ? nullptr : reinterpret_cast<const unsigned char*>(data.data()),
                static_cast<int>(data.size()), eth, answer_, &size);
    return std::string(reinterpret_cast<char*>(answer_), static_cast<size_t>(size));
  }
  std::string eeprom(int offset, int n) {
    return std::string(i2c_.chip.begin() + offset, i2c_.chip.begin() + offset + n);
  }

  std::filesystem::path cwd_ = std::filesystem::current_path();
  TempDir root_;
  FakeI2c i2c_;
  PortTable table_{};
  SnmpIdentity identity_{};
  unsigned char answer_[1024];
  unsigned report_ = 99;
};

TEST_F(Handlers, SerialValuesOutsideTheSupportedSetChangeNothing) {
  EXPECT_EQ(baud_rate_index(300), 1);
  EXPECT_EQ(baud_rate_index(921600), 15);
  for (int32_t rate : {0, 110, 14400, 921601, -300}) EXPECT_EQ(baud_rate_index(rate), 0);

  // station.ini holds 8 data bits; the rest loads as 1 (no parity, one stop bit, no flow
  // control).
  const struct {
    CommandHandler h;
    int code, current, below, lowest, highest, above;
  } cases[] = {{cmd_set_datasize, 2, 8, 4, 5, 8, 9},
               {cmd_set_parity, 3, 1, 0, 1, 5, 6},
               {cmd_set_stopsize, 4, 1, 0, 1, 2, 3},
               {cmd_set_control, 5, 1, 0, 1, 3, 4}};
  for (const auto& c : cases) {
    const std::string before = read_file(ini_path());
    for (int refused : {c.below, c.above, 255}) {
      EXPECT_EQ(run(c.h, byte(refused)), reply(c.code, byte(c.current))) << refused;
      EXPECT_EQ(report_, 0u);
    }
    EXPECT_EQ(read_file(ini_path()), before) << c.code;
    for (int accepted : {c.lowest, c.highest}) {
      EXPECT_EQ(run(c.h, byte(accepted)), reply(c.code, byte(accepted)));
      EXPECT_EQ(report_, c.code == 5 ? 2u : 1u);
    }
  }
}

TEST_F(Handlers, LinkRequestsTooShortForTheirLayoutAreRefused) {
  testing::internal::CaptureStdout();
  const PortSettings before = com1();
  EXPECT_EQ(run(cmd_link_mode, ""), error(92));
  EXPECT_EQ(run(cmd_link_mode, std::string(9, '\1')), error(92));   // mode 1 needs 12 bytes
  EXPECT_EQ(run(cmd_link_mode, std::string(12, '\2')), error(92));  // mode 2 needs 14
  EXPECT_EQ(run(cmd_link_mode, std::string(14, '\4')), error(92));  // mode 4 needs 27
  EXPECT_EQ(std::memcmp(&before, &com1(), sizeof before), 0);
  EXPECT_EQ(read_file(ini_path()), kIni);

  // UDP stores and writes its mode before its length is checked.
  EXPECT_EQ(run(cmd_link_mode, std::string(27, '\3')), error(92));
  EXPECT_EQ(report_, 0u);
  EXPECT_EQ(com1().link_mode, 3);
  EXPECT_NE(read_file(ini_path()).find("com_link_mode=UDP"), std::string::npos);
  // Mode 4 keeps its 26 bytes in memory only, and like UDP carries RAW only.
  EXPECT_EQ(run(cmd_link_mode, byte(4) + std::string(26, 'Z')), reply(92));
  EXPECT_EQ(std::string(com1().mode4_settings, com1().mode4_settings + 26), std::string(26, 'Z'));
  EXPECT_EQ(run(cmd_tcp_mode, byte(1)), reply(85, byte(2)));
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("link length = 0\nlink length = 9\n"), 0u);
}

TEST_F(Handlers, NameTextsAreCutToTheirFields) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(set_namepassword, "", 1), error(89));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "set_namepassword function\nset_namepassword function error\n");
  // Without a NUL the text ends with the payload; 32-byte fields keep 31 characters.
  const std::string long_text(40, 'a');
  EXPECT_EQ(run(set_namepassword, byte(1) + long_text, 1),
            reply(89, byte(1) + long_text.substr(0, 31) + byte(0)));
  EXPECT_EQ(run(set_namepassword, byte(7) + long_text, 1),
            reply(89, byte(7) + long_text.substr(0, 31) + byte(0)));
  EXPECT_EQ(run(set_namepassword, "\x08x", 1), reply(89));
  EXPECT_EQ(run(set_namepassword, byte(200), 1), reply(89));
  // A short password is NUL-padded to the field's 8 bytes.
  EXPECT_EQ(run(set_namepassword, "\x09pw", 1), reply(89, "\x09pw" + byte(0)));
  EXPECT_EQ(eeprom(76, 8), std::string("pw\0\0\0\0\0\0", 8));
}

TEST_F(Handlers, NetAddressNeedsAnAddressToStoreAndKeepsEachInterfacesBlock) {
  EXPECT_EQ(run(cmd_net_address, "\x05\1\2", 1), error(88));
  EXPECT_EQ(run(cmd_net_address, byte(3), 1), error(88));
  EXPECT_EQ(i2c_.transfers.size(), 0u);
  EXPECT_EQ(run(cmd_net_address, "\x06\1\2\3\4", 1), reply(88, "\x06" + std::string(4, '\0')));
  EXPECT_EQ(run(cmd_net_address, byte(255), 1), reply(88, byte(255) + std::string(4, '\0')));
  // eth1's block lies 130 bytes after eth0's.
  EXPECT_EQ(run(cmd_net_address, "\x03\x0A\1\2\3", 2), reply(88, "\x03\x0A\1\2\3"));
  EXPECT_EQ(eeprom(122 + 130, 4), "\x0A\1\2\3");
  EXPECT_EQ(eeprom(122, 4), std::string(4, '\xFF'));
}

}  // namespace
