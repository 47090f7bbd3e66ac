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

// Codes 2 to 5 share one shape: one data byte, kept in one byte of the record. A coded value
// is accepted when its table has it and goes to station.ini as its word's index; the data
// size is accepted within 5..8 and written as the number itself.
struct ByteSetting {
  int code;
  const ValueTable* values;
  int (*write)(int port, int value);
  uint8_t PortSettings::*field;
  unsigned report;  // code 5 reports 2, the others 1
};

constexpr int kLowestDataSize = 5;
constexpr int kHighestDataSize = 8;

constexpr ByteSetting kDataSize = {kSetDatasize, nullptr, set_com_data_bit,
                                   &PortSettings::data_bits, 1};
constexpr ByteSetting kParity = {kSetParity, &kParityValues, set_com_parity, &PortSettings::parity,
                                 1};
constexpr ByteSetting kStopSize = {kSetStopsize, &kStopBitValues, set_com_stop_bit,
                                   &PortSettings::stop_bits, 1};
constexpr ByteSetting kControl = {kSetControl, &kFlowValues, set_com_flow_control,
                                  &PortSettings::flow_control, 2};

unsigned set_byte_setting(const ByteSetting& setting, const unsigned char* data, unsigned char* pos,
                          int* size) {
  const int value = data[0];
  PortSettings& record = *current_port_record();
  const ValueRow* row = setting.values ? row_of_wire(*setting.values, value) : nullptr;
  const bool accepted =
      setting.values ? row != nullptr : value >= kLowestDataSize && value <= kHighestDataSize;
  if (accepted) {
    setting.write(act_g(), row ? row->ini_index : value);
    record.*setting.field = static_cast<uint8_t>(value);
  }
  const unsigned char reply = record.*setting.field;
  put_reply(pos, size, setting.code, &reply, 1);
  return accepted ? setting.report : 0;
}

}  // namespace

int baud_rate_index(int32_t rate) {
  for (int i = 0; i < kBaudRateCount; ++i)
    if (static_cast<int32_t>(kBaudRates[i]) == rate) return i + 1;
  return 0;
}

unsigned cmd_set_baudrate(const unsigned char* data, int, int, unsigned char* pos, int* size) {
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
  put_reply(pos, size, kSetBaudrate, reply, sizeof reply);
  return accepted ? 1 : 0;
}

unsigned cmd_set_datasize(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  return set_byte_setting(kDataSize, data, pos, size);
}

unsigned cmd_set_parity(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  return set_byte_setting(kParity, data, pos, size);
}

unsigned cmd_set_stopsize(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  return set_byte_setting(kStopSize, data, pos, size);
}

unsigned cmd_set_control(const unsigned char* data, int, int, unsigned char* pos, int* size) {
  return set_byte_setting(kControl, data, pos, size);
}
