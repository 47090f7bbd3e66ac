#include "forward/telnet_session.h"

#include <initializer_list>

#include "common/byte_order.h"

using namespace telnet;

namespace {

constexpr char kSignatureText[] = "stationfwd";

void put_command(TelnetSink* out, unsigned char verb, unsigned char option) {
  out->put(kIac);
  out->put(verb);
  out->put(option);
}

void put_escaped(TelnetSink* out, unsigned char b) {
  out->put(b);
  if (b == kIac) out->put(kIac);
}

}  // namespace

void TelnetSession::greet(TelnetSink* out) {
  // Binary both ways, so that CR and NUL pass as they are, and no go-ahead signals.
  for (unsigned char option : {kBinary, kSga}) {
    put_command(out, kWill, option);
    put_command(out, kDo, option);
    we_[option] = they_[option] = true;
  }
  // Asked for at once, so that a client that waits to be asked starts its settings too.
  if (com_port_) {
    put_command(out, kDo, kComPort);
    they_[kComPort] = true;
  }
}

// Options this side does: BINARY, SGA, and COM-PORT-OPTION in Virtual_COM (the peer's WILL).
void TelnetSession::negotiate(unsigned char verb, unsigned char option, TelnetSink* answers) {
  const bool ours = option == kBinary || option == kSga;
  const bool theirs = ours || (option == kComPort && com_port_);
  // Each side's state changes once per request and is answered only when it changed, so two
  // sides that both insist never loop (the rule of RFC 1143, without its queue).
  switch (verb) {
    case kDo:
      if (ours && !we_[option]) put_command(answers, kWill, option);
      if (!ours) put_command(answers, kWont, option);
      we_[option] = ours;
      break;
    case kDont:
      if (we_[option]) put_command(answers, kWont, option);
      we_[option] = false;
      break;
    case kWill:
      if (theirs && !they_[option]) put_command(answers, kDo, option);
      if (!theirs) put_command(answers, kDont, option);
      they_[option] = theirs;
      break;
    default:  // kWont
      if (they_[option]) put_command(answers, kDont, option);
      they_[option] = false;
      break;
  }
}

void TelnetSession::subnegotiation(TelnetSink* answers, ComRequest* requests, int* request_count) {
  if (sb_overflow_ || sb_size_ < 2 || sb_[0] != kComPort || !com_port_) return;
  const unsigned char command = sb_[1];
  const unsigned char* value = sb_ + 2;
  const std::size_t length = sb_size_ - 2;
  switch (command) {
    case kSignature:
      // An empty signature asks for ours; a text is the client's, taken and answered empty.
      answers->put(kIac);
      answers->put(kSb);
      answers->put(kComPort);
      answers->put(kSignature + kServerOffset);
      if (length == 0)
        for (const char* c = kSignatureText; *c; ++c)
          put_escaped(answers, static_cast<unsigned char>(*c));
      answers->put(kIac);
      answers->put(kSe);
      return;
    case kSetBaud:
      if (length != 4) return;
      if (*request_count < kMaxComRequests)
        requests[(*request_count)++] = {command, get_be32(value)};
      return;
    case kSetDataSize:
    case kSetParity:
    case kSetStopSize:
    case kSetControl:
    case kPurgeData:
      if (length != 1) return;
      if (*request_count < kMaxComRequests) requests[(*request_count)++] = {command, value[0]};
      return;
    case kSetLineStateMask:
    case kSetModemStateMask:
    case kFlowSuspend:
    case kFlowResume:
      // Nothing on this side reports line or modem states or pauses: taken as asked.
      telnet_com_answer(command, length == 1 ? value[0] : 0, answers);
      return;
    default:
      return;
  }
}

void TelnetSession::receive(const unsigned char* in, std::size_t count, TelnetSink* data,
                            TelnetSink* answers, ComRequest* requests, int* request_count) {
  *request_count = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char b = in[i];
    switch (state_) {
      case State::kData:
        if (b == kIac)
          state_ = State::kIac;
        else
          data->put(b);
        break;
      case State::kIac:
        state_ = State::kData;
        if (b == kIac) {
          data->put(kIac);
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::kOption;
        } else if (b == kSb) {
          sb_size_ = 0;
          sb_overflow_ = false;
          state_ = State::kSb;
        }  // other commands (NOP, go-ahead, a stray SE, ...) mean nothing to a serial line
        break;
      case State::kOption:
        negotiate(verb_, b, answers);
        state_ = State::kData;
        break;
      case State::kSb:
        if (b == kIac) {
          state_ = State::kSbIac;
        } else if (sb_size_ < sizeof sb_) {
          sb_[sb_size_++] = b;
        } else {
          sb_overflow_ = true;
        }
        break;
      case State::kSbIac:
        if (b == kIac) {
          if (sb_size_ < sizeof sb_)
            sb_[sb_size_++] = kIac;
          else
            sb_overflow_ = true;
          state_ = State::kSb;
        } else {
          // IAC SE ends it; any other command inside ends it as well (a broken peer).
          if (b == kSe) subnegotiation(answers, requests, request_count);
          state_ = State::kData;
        }
        break;
    }
  }
}

void telnet_com_answer(unsigned char command, uint32_t value, TelnetSink* out) {
  out->put(kIac);
  out->put(kSb);
  out->put(kComPort);
  out->put(static_cast<unsigned char>(command + kServerOffset));
  if (command == kSetBaud) {
    unsigned char rate[4];
    put_be32(value, rate);
    for (unsigned char b : rate) put_escaped(out, b);
  } else {
    put_escaped(out, static_cast<unsigned char>(value));
  }
  out->put(kIac);
  out->put(kSe);
}

std::size_t telnet_escape(const unsigned char* in, std::size_t count, unsigned char* out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    out[n++] = in[i];
    if (in[i] == kIac) out[n++] = kIac;
  }
  return n;
}
