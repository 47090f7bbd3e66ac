#include "forward/com_request.h"

#include "forward/serial_line.h"

using namespace telnet;

namespace {

// SET-CONTROL values.
enum : uint32_t {
  kAskFlow = 0,
  kFlowOffOut = 1,
  kFlowXonOut = 2,
  kFlowHardOut = 3,
  kAskBreak = 4,
  kBreakOn = 5,
  kBreakOff = 6,
  kAskDtr = 7,
  kDtrOn = 8,
  kDtrOff = 9,
  kAskRts = 10,
  kRtsOn = 11,
  kRtsOff = 12,
  kAskFlowIn = 13,
  kFlowOffIn = 14,
  kFlowXonIn = 15,
  kFlowHardIn = 16
};

// The line's flow control as a SET-CONTROL value; inbound values are 13 above outbound ones.
uint32_t flow_value(const SerialSettings& s, uint32_t base) {
  switch (s.flow) {
    case kFlowXonXoff:
      return base + 1;
    case kFlowRtsCts:
      return base + 2;
    default:
      return base;
  }
}

// Flow control is one setting for both directions on this line: either request sets it.
ComOutcome control(uint32_t v, ComLineState* state) {
  ComOutcome o{v, false, 0, false};
  SerialSettings& s = state->line;
  const SerialSettings before = s;
  switch (v) {
    case kAskFlow:
      o.answer = flow_value(s, kFlowOffOut);
      break;
    case kAskFlowIn:
      o.answer = flow_value(s, kFlowOffIn);
      break;
    case kFlowOffOut:
    case kFlowOffIn:
      s.flow = kFlowNone;
      break;
    case kFlowXonOut:
    case kFlowXonIn:
      s.flow = kFlowXonXoff;
      break;
    case kFlowHardOut:
    case kFlowHardIn:
      s.flow = kFlowRtsCts;
      break;
    case kAskBreak:
      o.answer = state->brk ? kBreakOn : kBreakOff;
      break;
    case kAskDtr:
      o.answer = state->dtr ? kDtrOn : kDtrOff;
      break;
    case kAskRts:
      o.answer = state->rts ? kRtsOn : kRtsOff;
      break;
    case kBreakOn:
    case kBreakOff:
      o.signals_changed = state->brk != (v == kBreakOn);
      state->brk = v == kBreakOn;
      break;
    case kDtrOn:
    case kDtrOff:
      o.signals_changed = state->dtr != (v == kDtrOn);
      state->dtr = v == kDtrOn;
      break;
    case kRtsOn:
    case kRtsOff:
      o.signals_changed = state->rts != (v == kRtsOn);
      state->rts = v == kRtsOn;
      break;
    default:  // DCD, DTR or DSR flow control: not on this line; the flow in force answers
      o.answer = flow_value(s, kFlowOffOut);
      break;
  }
  o.line_changed = !(before == s);
  return o;
}

}  // namespace

ComOutcome apply_com_request(const ComRequest& request, ComLineState* state) {
  SerialSettings& s = state->line;
  const SerialSettings before = s;
  const uint32_t v = request.value;
  ComOutcome o{v, false, 0, false};
  switch (request.command) {
    case kSetBaud:
      // 0 asks for the rate; any other is held to a rate of the line, and that one answers.
      if (v != 0 && v <= 0x7FFFFFFF) s.baud_rate = line_rate(static_cast<int>(v));
      o.answer = static_cast<uint32_t>(line_rate(s.baud_rate));
      break;
    case kSetDataSize:
      if (v >= 5 && v <= 8)
        s.data_bits = static_cast<int>(v);
      else
        o.answer = static_cast<uint32_t>(s.data_bits);
      break;
    case kSetParity:
      if (v >= 1 && v <= 5)
        s.parity = static_cast<int>(v - 1);
      else
        o.answer = static_cast<uint32_t>(s.parity + 1);
      break;
    case kSetStopSize:
      // 1.5 stop bits (3) is not a setting of this line: the stop bits in force answer.
      if (v == 1 || v == 2)
        s.two_stop = v == 2 ? 1 : 0;
      else
        o.answer = s.two_stop ? 2 : 1;
      break;
    case kSetControl:
      return control(v, state);
    case kPurgeData:
      o.purge = v >= 1 && v <= 3 ? static_cast<int>(v) : 0;
      break;
    default:
      break;
  }
  o.line_changed = !(before == s);
  return o;
}
