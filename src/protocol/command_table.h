// The command table as both sides read it: for each code, the request lengths it accepts, who
// refuses a wrong one, what its reply carries, the error byte and where the handler's change
// report goes (the rows are in commands.def; the dispatcher binds the handlers). From the rows
// come the number of reply frames a request earns, which the client waits for and the fuzzer
// holds the daemon to.
#pragma once

#include "protocol/wire_format.h"

enum class RequestLength {
  kAny,           // no rule (the login text)
  kNone,          // no data
  kOne,           // one byte
  kFour,          // four bytes (the baud rate)
  kOneOrFive,     // the sub-command alone, or with an address
  kAtLeastOne,    // the sub-command, then a text
  kLinkLengths,   // one of kLinkRequestLengths
  kQueryOrBlock,  // a first byte 0 is a query, whatever follows; else the 10-byte block
};

enum class LengthCheck {
  kDispatcher,  // the dispatcher refuses a wrong length; the handler does not run
  kHandler,     // the handler prints its trace line, then refuses a wrong length itself
};

enum class ReplyForm {
  kFixed,       // `reply_bytes` bytes
  kTaggedText,  // the tag, a text and its NUL; no data for the sub-commands without a text
  kLinkLayout,  // the mode byte and its layout (link_reply_length); no data after a mode-4 set
  kSeries,      // the kGetAllFrames frames of get-all, each in its own code's form
};

// Where a handler's change report goes. Flags A and B start at 0 for each received buffer; a
// ChangeNotice follows when either is not 0 after its last frame.
enum class ChangeRoute {
  kLogin,         // the report becomes the connection's login state; served before a login
  kFlagA,         // or-ed into flag A
  kFlagB,         // or-ed into flag B
  kReplaceFlagB,  // replaces flag B
  kIgnored,       // the handler runs, its report is dropped
  kNoHandler,     // accepted: nothing runs, no reply, no answer space used
  kNotServed,     // a reply code only: as a request, the dispatcher stops at it
};

struct CommandRow {
  int code;
  const char* name;
  RequestLength request;
  LengthCheck check;
  ReplyForm reply;
  int reply_bytes;
  int error_byte;
  ChangeRoute route;
};

inline constexpr CommandRow kCommandRows[] = {
#define COMMAND(code, id, name, request, check, reply, bytes, error, route, handler) \
  {code,  name,  RequestLength::request, LengthCheck::check, ReplyForm::reply,       \
   bytes, error, ChangeRoute::route},
#include "protocol/commands.def"
#undef COMMAND
};
inline constexpr int kCommandCount = sizeof kCommandRows / sizeof kCommandRows[0];

// The row of a code, or nullptr.
const CommandRow* find_command(int code);
// Whether the data length (and, for a delimiter query, the first byte) is one the row accepts.
bool request_length_ok(const CommandRow& row, const unsigned char* data, int length);
// The reply frames a logged-in connection gets for one request while the answer has room: 0,
// 1 (the error reply for a length the row refuses), or kGetAllFrames; -1 for a code the
// dispatcher does not serve, which ends the buffer.
int reply_frames(int code, const unsigned char* data, int length);
// The name of a request code, or of the request a reply code answers; "unknown" otherwise.
const char* command_name(int code);
