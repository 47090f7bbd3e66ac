// Refusal and boundary rules of the command handlers, in process: a real station.ini under a
// scratch root and a fake EEPROM. Byte-exact replies of whole sessions are the integration
// tests' business.
#include "protocol/command_handlers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "model/port_loader.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "protocol/serial_commands.h"
#include "service/session.h"
#include "support/fake_i2c.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Handler = unsigned (*)(const unsigned char*, int, unsigned char*, int*);

Bytes reply(int code, const Bytes& payload = {}) {
  Bytes f{0xFF, 0xFA, 0x2C, static_cast<unsigned char>(code + 100)};
  f.insert(f.end(), payload.begin(), payload.end());
  f.insert(f.end(), {0xFF, 0xF0});
  return f;
}
Bytes error(int byte) { return reply(80, {static_cast<unsigned char>(byte)}); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr char kIni[] =
    "[COM1]\ncom_baud_rate=9600\ncom_data_bit=8\ncom_parity=None\ncom_stop_bit=1\n"
    "com_flow_control=None\ncom_link_mode=TCP_Server\ncom_local_port=4001\n";

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

  // Runs a handler on one payload (none when empty); the reply, the report in *report.
  Bytes run(Handler h, const Bytes& data, unsigned* report = nullptr) {
    unsigned char answer[1024];
    int size = sizeof answer;
    const unsigned r =
        h(data.empty() ? nullptr : data.data(), static_cast<int>(data.size()), answer, &size);
    if (report) *report = r;
    return Bytes(answer, answer + size);
  }
  Bytes run_if(decltype(&cmd_net_address) h, const Bytes& data, int eth) {
    unsigned char answer[1024];
    int size = sizeof answer;
    h(data.empty() ? nullptr : data.data(), static_cast<int>(data.size()), eth, answer, &size);
    return Bytes(answer, answer + size);
  }

  std::filesystem::path cwd_ = std::filesystem::current_path();
  TempDir root_;
  FakeI2c i2c_;
  PortTable table_{};
  SnmpIdentity identity_{};
};

TEST_F(Handlers, SerialValuesOutsideTheSupportedSetAreQueries) {
  EXPECT_EQ(baud_rate_index(300), 1);
  EXPECT_EQ(baud_rate_index(921600), 15);
  for (int32_t rate : {0, 110, 14400, 921601, -300}) EXPECT_EQ(baud_rate_index(rate), 0);

  // station.ini holds 8 data bits, no parity, one stop bit, no flow control.
  struct Case {
    Handler h;
    int code, current, below, lowest, highest, above;
  };
  const Case cases[] = {{cmd_set_datasize, 2, 8, 4, 5, 8, 9},
                        {cmd_set_parity, 3, 1, 0, 1, 5, 6},
                        {cmd_set_stopsize, 4, 1, 0, 1, 2, 3},
                        {cmd_set_control, 5, 1, 0, 1, 3, 4}};
  for (const Case& c : cases) {
    const std::string before = read_file(ini_path());
    unsigned report = 9;
    for (int refused : {c.below, c.above, 255}) {
      EXPECT_EQ(run(c.h, {static_cast<unsigned char>(refused)}, &report),
                reply(c.code, {static_cast<unsigned char>(c.current)}));
      EXPECT_EQ(report, 0u) << c.code << " " << refused;
    }
    EXPECT_EQ(run(c.h, {}), error(c.code));
    EXPECT_EQ(run(c.h, {1, 1}), error(c.code));
    EXPECT_EQ(read_file(ini_path()), before) << c.code;
    for (int accepted : {c.lowest, c.highest}) {
      EXPECT_EQ(run(c.h, {static_cast<unsigned char>(accepted)}, &report),
                reply(c.code, {static_cast<unsigned char>(accepted)}));
      EXPECT_EQ(report, c.code == 5 ? 2u : 1u);
    }
  }
  const std::string before = read_file(ini_path());
  EXPECT_EQ(run(cmd_set_baudrate, {0, 0x25, 0x80}), error(1));
  EXPECT_EQ(run(cmd_set_baudrate, {0, 0, 0x25, 0x80, 0}), error(1));
  EXPECT_EQ(read_file(ini_path()), before);
}

TEST_F(Handlers, DelimiterFramesWithoutAFirstByteOrOfWrongLengthAreRefused) {
  const std::string before = read_file(ini_path());
  EXPECT_EQ(run(cmd_uart_delimiter, {}), error(98));
  EXPECT_EQ(run(cmd_tcp_delimiter, {}), error(76));
  EXPECT_EQ(run(cmd_uart_delimiter, Bytes(9, 1)), error(98));
  EXPECT_EQ(run(cmd_tcp_delimiter, Bytes(11, 1)), error(76));
  // A first byte 0 is a query whatever follows.
  unsigned report = 9;
  EXPECT_EQ(run(cmd_uart_delimiter, Bytes{0, 7, 7}, &report), reply(77, Bytes(10, 0)));
  EXPECT_EQ(report, 0u);
  EXPECT_EQ(read_file(ini_path()), before);
}

TEST_F(Handlers, LinkModeSetsNeedTheirWholeLayout) {
  const std::string before = read_file(ini_path());
  const PortSettings saved = com1();
  unsigned report = 9;
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(cmd_link_mode, {}), error(92));
  EXPECT_EQ(run(cmd_link_mode, Bytes(13, 1)), error(92));
  EXPECT_EQ(run(cmd_link_mode, Bytes(9, 1)), error(92));   // mode 1 needs 12 bytes
  EXPECT_EQ(run(cmd_link_mode, Bytes(12, 2)), error(92));  // mode 2 needs 14
  EXPECT_EQ(run(cmd_link_mode, Bytes(14, 4)), error(92));  // mode 4 needs 27
  EXPECT_EQ(run(cmd_link_mode, Bytes(27, 8), &report), Bytes{});
  EXPECT_EQ(report, 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "link length = 0\nlink length = 13\nlink length = 9\nset linkmode = 1\n"
            "link length = 12\nset linkmode = 2\nlink length = 14\nset linkmode = 4\n"
            "link length = 27\nset linkmode = 8\n");
  EXPECT_EQ(read_file(ini_path()), before);
  EXPECT_EQ(std::memcmp(&saved, &com1(), sizeof saved), 0);

  // UDP stores and writes its mode before the length is checked.
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(cmd_link_mode, Bytes(27, 3), &report), error(92));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(report, 0u);
  EXPECT_EQ(com1().link_mode, 3);
  EXPECT_NE(read_file(ini_path()).find("com_link_mode=UDP"), std::string::npos);
}

TEST_F(Handlers, LinkModeFourIsMemoryOnlyAndForcesRaw) {
  testing::internal::CaptureStdout();
  Bytes set(27, 0x5A);
  set[0] = 4;
  unsigned report = 0;
  EXPECT_EQ(run(cmd_link_mode, set, &report), reply(92));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(report, 1u);
  EXPECT_EQ(Bytes(com1().mode4_settings, com1().mode4_settings + 26), Bytes(26, 0x5A));
  EXPECT_EQ(read_file(ini_path()), kIni);
  EXPECT_EQ(run(cmd_tcp_mode, {1}), reply(85, {2}));
  EXPECT_EQ(run(cmd_tcp_mode, {3}), reply(85, {2}));
  EXPECT_EQ(run(cmd_tcp_mode, {1, 1}), error(85));
}

TEST_F(Handlers, NameTextsAreCutToTheirFieldsAndPasswordsToEightBytes) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_if(set_namepassword, {}, 1), error(89));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "set_namepassword function\nset_namepassword function error\n");
  const std::string long_text(40, 'a');
  Bytes set = Bytes{1} + text(long_text);  // no NUL: the text ends with the payload
  EXPECT_EQ(run_if(set_namepassword, set, 1),
            reply(89, Bytes{1} + text(long_text.substr(0, 31)) + Bytes{0}));
  EXPECT_EQ(run_if(set_namepassword, Bytes{3} + text("north") + Bytes{0, 'x'}, 1),
            reply(89, Bytes{3} + text("north") + Bytes{0}));
  EXPECT_EQ(run_if(set_namepassword, {8, 'x'}, 1), reply(89));
  EXPECT_EQ(run_if(set_namepassword, {200}, 1), reply(89));

  EXPECT_EQ(run_if(set_namepassword, Bytes{9} + text("0123456789") + Bytes{0}, 1),
            reply(89, Bytes{9} + text("0123456789") + Bytes{0}));
  EXPECT_EQ(Bytes(i2c_.chip.begin() + 76, i2c_.chip.begin() + 84), text("01234567"));
  EXPECT_EQ(run_if(set_namepassword, Bytes{9, 'a', 'b'}, 1), reply(89, Bytes{9, 'a', 'b', 0}));
  EXPECT_EQ(Bytes(i2c_.chip.begin() + 76, i2c_.chip.begin() + 84),
            (Bytes{'a', 'b', 0, 0, 0, 0, 0, 0}));
  EXPECT_NE(read_file(root_.file("var/log/messages")).find("Password Changed"), std::string::npos);
}

TEST_F(Handlers, NetAddressTouchesOnlyAKnownInterfaceAndNeedsAnAddressToStore) {
  EXPECT_EQ(run_if(cmd_net_address, {1, 10, 0, 0, 9}, -1), error(88));
  EXPECT_EQ(run_if(cmd_net_address, {0}, 0), error(88));
  EXPECT_EQ(run_if(cmd_net_address, {1}, 1), error(88));
  EXPECT_EQ(run_if(cmd_net_address, {0, 0, 0}, 1), error(88));
  EXPECT_EQ(i2c_.transfers.size(), 0u);
  EXPECT_EQ(run_if(cmd_net_address, {6, 1, 2, 3, 4}, 1), reply(88, {6, 0, 0, 0, 0}));
  EXPECT_EQ(run_if(cmd_net_address, {255}, 1), reply(88, {255, 0, 0, 0, 0}));
  // eth1's block lies 130 bytes after eth0's; its gateway at 122 + 130.
  EXPECT_EQ(run_if(cmd_net_address, {3, 10, 0, 0, 9}, 2), reply(88, {3, 10, 0, 0, 9}));
  EXPECT_EQ(Bytes(i2c_.chip.begin() + 252, i2c_.chip.begin() + 256), (Bytes{10, 0, 0, 9}));
  EXPECT_EQ(Bytes(i2c_.chip.begin() + 122, i2c_.chip.begin() + 126), Bytes(4, 0xFF));
}

TEST_F(Handlers, SmallValuesRefuseWrongLengths) {
  EXPECT_EQ(run(cmd_value93, {0}), error(93));
  EXPECT_EQ(run(cmd_get_all, {0}), error(96));
  for (auto [h, code] : {std::pair<Handler, int>{cmd_value91, 91},
                         {cmd_option79, 79},
                         {cmd_echo78, 78},
                         {cmd_select_port, 94},
                         {cmd_option99, 99},
                         {cmd_uart_mode, 90}}) {
    EXPECT_EQ(run(h, {}), error(code));
    EXPECT_EQ(run(h, {1, 1}), error(code));
  }
  unsigned report = 9;
  EXPECT_EQ(run(cmd_option79, {1}, &report), reply(79, {1}));
  EXPECT_EQ(report, 0u);  // already 1
  EXPECT_EQ(run(cmd_echo78, {3}, &report), reply(78, {3}));
  EXPECT_EQ(report, 0u);
  EXPECT_EQ(run(cmd_select_port, {3}), reply(94, {1}));
  EXPECT_EQ(run(cmd_uart_mode, {4}, &report), reply(90, {1}));
  EXPECT_EQ(report, 0u);
}

}  // namespace
