// Bytes written as tokens, for scenario files and tests: two hex digits (FF), a quoted text
// ("admin quillet", escapes \0 \n \" \\), a frame CODE(BYTES) with a decimal code (94(02) is
// FF FA 2C 5E 02 FF F0), error(CODE) for the error reply naming a code, FIRST..LAST in place
// of a code for one frame per code, and any token followed by *N for N copies.
#pragma once

#include <string>

// The bytes text stands for. false with the reason.
bool scenario_bytes(const std::string& text, std::string* bytes, std::string* error);
