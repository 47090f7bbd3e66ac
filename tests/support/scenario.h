// Scenario files: a session with the real daemon written as reference data, one step a line.
// This unit reads them; tests/integration/scenarios_test.cpp plays them against the simulator.
//
//   # a comment            file PATH + block     station.ini WORDS       ini SECTION KEY VALUE
//   start [ARGS...]
//   connect eth0|eth1|lo   login [TEXT]          send BYTES              expect BYTES
//   silent                 closed                section NAME WORDS      stdout + block
//   has PATH TEXT          lacks PATH TEXT       notices [PORT...]       eeprom OFFSET BYTES
//   poke OFFSET BYTES      mark PATH / same PATH taken                   stop
//   sh COMMAND             run PROGRAM ARGS      status N                out [TEXT] / err [TEXT]
//
// sh runs a command of the test's own in its namespaces (mounts stay in the test's own mount
// namespace); run runs a program of the system to its end; out and err check its output,
// whole (the block) or one piece of it. $ROOT and $DIR stand for the device root and the
// test's folder in their command lines and outputs.
//
// A block is the indented lines under its step. station.ini and section take one line of the
// file or section per word, on their own line and in their block. BYTES are tokens: two hex digits (FF), a
// quoted text ("admin quillet", escapes \0 \n \" \\), a frame CODE(BYTES) with its code in
// decimal (94(02) is FF FA 2C 5E 02 FF F0), error(CODE) for the error reply naming a code,
// FIRST..LAST in place of a code for one frame per code, and any token followed by *N for N
// copies.
#pragma once

#include <string>
#include <vector>

struct ScenarioStep {
  int line = 0;
  std::string verb;
  std::string rest;                // the line after the verb
  std::vector<std::string> words;  // the same, split at spaces
  std::vector<std::string> block;  // the indented lines under it, indentation removed
};

// Splits a scenario's text into steps. false with "line N: reason".
bool parse_scenario(const std::string& text, std::vector<ScenarioStep>* steps, std::string* error);
// The bytes BYTES stand for. false with the reason.
bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error);
// The scenario files of the source tree (STATION_SOURCE_DIR/tests/data/scenarios), sorted.
std::vector<std::string> scenario_files();
