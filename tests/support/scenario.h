// Scenario files: a session with the real daemon as reference data. A step a line; its block,
// the indented lines under it; # a comment. WORDS and BYTES go on in the block.
//   station.ini WORDS     the whole file, a line per word    ini SECTION KEY VALUE   one key
//   poke OFFSET BYTES     into the EEPROM image              eeprom OFFSET BYTES     expected
//   connect|queue eth0|lo greeted (the simulator starts) | waits unanswered; leave: it is greeted
//   send BYTES            expect BYTES                       silent / taken (all bytes read)
//   login (the default)   stop [INT] (a clean end, the daemon gone)   notices [PORT...]  exactly
//   notify [PORT...]      into the queue, made if missing    queued N|-  messages in the queue
//   section NAME WORDS    exactly, a line per word           mark PATH / same PATH   unchanged
//   has|lacks PATH TEXT   in a file under the root or stdout; has adds the block; lacks PATH: none
//   run STATUS PROGRAM ARGS  a shell line in the root; standard error holds the block or is empty
// BYTES, for scenario files and tests, are tokens: two hex digits (FF), a quoted text
// ("admin quillet", escapes \0 \n \" \\), a frame CODE(BYTES) with a decimal code (94(02) is
// FF FA 2C 5E 02 FF F0), error(CODE) for the error reply naming a code, FIRST..LAST in place
// of a code for one frame per code, and any token followed by *N for N copies.
#pragma once

#include <string>

// The bytes text stands for. false with the reason.
bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error);
