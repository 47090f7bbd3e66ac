// The dispatcher: cuts one received buffer into command frames, runs each frame's handler
// under the rules of its row in the command table, collects the replies in the answer buffer
// and, when a handler reported a port change, tells the serial-forwarding side with one
// ChangeNotice for the current port. Owns the login rule (every code but 0 is refused before
// a login) and the login check against the EEPROM.
#pragma once

#include "protocol/change_notice.h"
#include "protocol/command_handlers.h"
#include "protocol/command_table.h"

constexpr int kLoginWorkAreaSize = 126;

// Runs the frames of count received bytes. eth_index: 1 for eth0, -1 otherwise. *logged_in
// (0 or 1) is read and updated. *answer_length receives the bytes of replies written. The
// result is 0, or -1 when a logged-in client sent a code the dispatcher does not serve (or no
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
