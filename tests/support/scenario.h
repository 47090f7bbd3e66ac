// Scenario files: a session with the real daemon as reference data. A step a line; its block,
// the indented lines under it; # a comment.
//   station.ini WORDS     the whole file, a line per word    ini SECTION KEY VALUE   one key
//   poke OFFSET BYTES     into the EEPROM image              eeprom OFFSET BYTES     expected
//   connect eth0|lo       greeted (the simulator starts)     login (the default)     stop [INT]
//   notify [PORT...]      change notices (the queue made)    queued N|-  messages in the queue
//   send BYTES            expect BYTES                       silent / taken (all bytes read)
//   section NAME WORDS    exactly, a line per word           notices [PORT...]       exactly
//   has|lacks PATH TEXT   a file under the root or stdout    mark PATH / same PATH   unchanged
//   queue eth0|lo         a second client waits, unanswered  leave   the waiting one is greeted
//   run STATUS PROGRAM ARGS  a shell line in the root; standard error holds the block (or is empty)
// WORDS and BYTES go on in the block; has takes its block's lines too; lacks PATH: no such file;
// stop also expects a clean end and the daemon gone.
//
// BYTES, for scenario files and tests, are tokens: two hex digits (FF), a quoted text
// ("admin quillet", escapes \0 \n \" \\), a frame CODE(BYTES) with a decimal code (94(02) is
// FF FA 2C 5E 02 FF F0), error(CODE) for the error reply naming a code, FIRST..LAST in place
// of a code for one frame per code, and any token followed by *N for N copies.
#pragma once

#include <string>

// The bytes text stands for. false with the reason.
bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error);
