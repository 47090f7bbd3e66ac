// The dispatcher: cuts one received buffer into command frames, runs each frame's handler
// from the command table, collects the replies in the answer buffer and, when a handler
// reported a port change, tells the serial-forwarding side with one ChangeNotice for the
// current port. Owns the login rule (every code but 0 is refused before a login) and the
// login check against the EEPROM.
#pragma once

#include "protocol/command_handlers.h"

constexpr int kAnswerBufferSize = 1024;
constexpr int kChangeNoticeKey = 1234;
constexpr int kChangeNoticeTextSize = 260;
constexpr int kLoginWorkAreaSize = 126;

// Where a handler's change report goes. Flag A and flag B each start at 0 per buffer; a
// ChangeNotice follows when either is not 0 after the last frame.
enum class ChangeRoute {
  kFlagA,         // or-ed into flag A
  kFlagB,         // or-ed into flag B
  kReplaceFlagB,  // replaces flag B (code 92)
  kIgnored,       // the handler runs, its report is dropped
  kNoHandler,     // codes 97 and 98: accepted, nothing runs, no reply
};

struct CommandEntry {
  int code;
  ChangeRoute route;
  CommandHandler handler;                 // set for every code but 88 and 89 ...
  InterfaceCommandHandler iface_handler;  // ... which get the interface number
};

// Runs the frames of count received bytes. eth_index: 1 for eth0, -1 otherwise. *logged_in
// (0 or 1) is read and updated. *answer_length receives the bytes of replies written. The
// result is 0, or -1 when a logged-in client sent a code that is not in the table (or no
// frame was found): "Fetch command error" is printed, the frames after it do not run, no
// ChangeNotice is sent, and *answer_length holds the replies built before it.
int dispatch_commands(const unsigned char* received, int count, int eth_index, int* logged_in,
                      unsigned char* answer, int answer_size, int* answer_length);

// Code 0. The credentials text is the password alone, or, when it holds a space, the user
// name, one space and the password. Replies "S" or "F"; 1 when they match, else 0.
unsigned handle_login(const unsigned char* data, int length, int eth_index, unsigned char* pos,
                      int* size);

// Sends the ChangeNotice (type 1, the decimal port number in a 260-byte text) to queue 1234,
// which the serial-forwarding side owns. Always 0.
int send_change_notice(int port);

// The table entry of a code, or nullptr.
const CommandEntry* find_command(int code);
// Puts another handler into the entry of a code that takes a plain CommandHandler and
// returns the one it replaced (nullptr for a code without such an entry). For tests that
// need a handler with a known change report.
CommandHandler swap_command_handler(int code, CommandHandler handler);
