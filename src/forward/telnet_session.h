// The Telnet side of one data connection (TCP modes Virtual_COM and Reverse_Telnet): takes
// the commands out of what the peer sends, answers option negotiation, and hands the RFC 2217
// requests (COM-PORT-OPTION, Virtual_COM only) to the caller, which applies them and answers
// with telnet_com_answer. Pure logic: bytes in; data, answers and requests out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telnet {
inline constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                               kSb = 250, kSe = 240;
inline constexpr unsigned char kBinary = 0, kEcho = 1, kSga = 3, kComPort = 44;
// COM-PORT-OPTION commands, as the client sends them (the answer is the code + 100).
inline constexpr unsigned char kSignature = 0, kSetBaud = 1, kSetDataSize = 2, kSetParity = 3,
                               kSetStopSize = 4, kSetControl = 5, kNotifyLineState = 6,
                               kNotifyModemState = 7, kFlowSuspend = 8, kFlowResume = 9,
                               kSetLineStateMask = 10, kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr unsigned char kServerOffset = 100;
}  // namespace telnet

// Bytes for the peer, in a buffer of the caller's; what does not fit is left out.
struct TelnetSink {
  unsigned char* bytes;
  std::size_t capacity;
  std::size_t size = 0;
  void put(unsigned char b) {
    if (size < capacity) bytes[size++] = b;
  }
};

// One RFC 2217 request the line must answer: the command and its value (the 4-byte
// big-endian rate of SET-BAUDRATE, else the one value byte).
struct ComRequest {
  unsigned char command;
  uint32_t value;
};
inline constexpr int kMaxComRequests = 16;

class TelnetSession {
 public:
  // com_port: RFC 2217 is spoken (Virtual_COM); otherwise COM-PORT-OPTION is refused.
  explicit TelnetSession(bool com_port) : com_port_(com_port) {}
  // What the server says first: it offers and asks for BINARY and SGA, and asks for
  // COM-PORT-OPTION in Virtual_COM.
  void greet(TelnetSink* out);
  // Takes bytes from the peer: data to *data (never more than count bytes), answers to
  // negotiation to *answers, the requests of the line to requests (up to kMaxComRequests;
  // *request_count set). Commands may be split across calls.
  void receive(const unsigned char* in, std::size_t count, TelnetSink* data, TelnetSink* answers,
               ComRequest* requests, int* request_count);

 private:
  enum class State : unsigned char { kData, kIac, kOption, kSb, kSbIac };
  void negotiate(unsigned char verb, unsigned char option, TelnetSink* answers);
  void subnegotiation(TelnetSink* answers, ComRequest* requests, int* request_count);

  bool com_port_;
  State state_ = State::kData;
  unsigned char verb_ = 0;
  bool we_[256] = {};    // options in force on our side (WILL said and agreed)
  bool they_[256] = {};  // options in force on the peer's side
  unsigned char sb_[64];
  std::size_t sb_size_ = 0;
  bool sb_overflow_ = false;
};

// The answer to a request: IAC SB COM-PORT-OPTION (command + 100) value IAC SE, the value as
// the request had it (4 bytes for the rate, else 1), IAC doubled.
void telnet_com_answer(unsigned char command, uint32_t value, TelnetSink* out);

// Serial data for a Telnet peer: each IAC doubled. out must hold 2 * count bytes; the count
// written.
std::size_t telnet_escape(const unsigned char* in, std::size_t count, unsigned char* out);
