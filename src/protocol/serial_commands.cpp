// Serial-line commands, codes 1 to 5: set the baud rate, data size, parity, stop size or flow
// control of the current port. A value the device does not support changes nothing and is
// answered with the current setting, so it doubles as a query. Accepted values go to
// station.ini first, then into the record; the writer's result is not looked at.
#include "protocol/serial_commands.h"

#include "common/byte_order.h"
#include "protocol/command_handlers.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "storage/station_ini.h"

namespace {

constexpr int32_t kBaudRates[kBaudRateCount] = {300,    600,    1200,   2400,   4800,
                                                9600,   19200,  38400,  57600,  115200,
                                                230400, 460800, 500000, 576000, 921600};

// Codes 2 to 5 share one shape: one data byte, accepted within lowest..highest, written to
// station.ini as the value itself (data size) or as the word index value - 1, and kept in
// one byte of the record.
struct ByteSetting {
  int code;
  int lowest;
  int highest;
  int (*write)(int port, int value);
  int index_offset;
  uint8_t PortSettings::*field;
  unsigned report;  // code 5 reports 2, the others 1
};

constexpr ByteSetting kDataSize = {2, 5, 8, set_com_data_bit, 0, &PortSettings::data_bits, 1};
constexpr ByteSetting kParity = {3, 1, 5, set_com_parity, 1, &PortSettings::parity, 1};
constexpr ByteSetting kStopSize = {4, 1, 2, set_com_stop_bit, 1, &PortSettings::stop_bits, 1};
constexpr ByteSetting kControl = {5, 1, 3, set_com_flow_control, 1, &PortSettings::flow_control, 2};

unsigned set_byte_setting(const ByteSetting& setting, const unsigned char* data, int length,
                          unsigned char* pos, int* size) {
  if (length != 1) {
    put_error_reply(pos, size, setting.code);
    return 0;
  }
  const int value = data[0];
  PortSettings& record = *current_port_record();
  const bool accepted = value >= setting.lowest && value <= setting.highest;
  if (accepted) {
    setting.write(act_g(), value - setting.index_offset);
    record.*setting.field = static_cast<uint8_t>(value);
  }
  const unsigned char reply = record.*setting.field;
  put_reply(pos, size, setting.code, &reply, 1);
  return accepted ? setting.report : 0;
}

}  // namespace

int baud_rate_index(int32_t rate) {
  for (int i = 0; i < kBaudRateCount; ++i)
    if (kBaudRates[i] == rate) return i + 1;
  return 0;
}

unsigned cmd_set_baudrate(const unsigned char* data, int length, unsigned char* pos, int* size) {
  constexpr int kCode = 1;
  if (length != 4) {
    put_error_reply(pos, size, kCode);
    return 0;
  }
  const uint32_t rate = get_be32(data);
  PortSettings& record = *current_port_record();
  // 0 asks for the current rate; so does any rate outside the table.
  const bool accepted = rate != 0 && baud_rate_index(static_cast<int32_t>(rate)) != 0;
  if (accepted) {
    set_com_baud_rate(act_g(), static_cast<int>(rate));
    record.baud_rate = rate;
  }
  unsigned char reply[4];
  put_be32(record.baud_rate, reply);
  put_reply(pos, size, kCode, reply, sizeof reply);
  return accepted ? 1 : 0;
}

unsigned cmd_set_datasize(const unsigned char* data, int length, unsigned char* pos, int* size) {
  return set_byte_setting(kDataSize, data, length, pos, size);
}

unsigned cmd_set_parity(const unsigned char* data, int length, unsigned char* pos, int* size) {
  return set_byte_setting(kParity, data, length, pos, size);
}

unsigned cmd_set_stopsize(const unsigned char* data, int length, unsigned char* pos, int* size) {
  return set_byte_setting(kStopSize, data, length, pos, size);
}

unsigned cmd_set_control(const unsigned char* data, int length, unsigned char* pos, int* size) {
  return set_byte_setting(kControl, data, length, pos, size);
}
