// Runs a command line through the shell, exactly as the device runs it (system()). With a
// root, the shell's PATH begins with ROOT/bin and a command is refused while any stand-in
// for the device's bare-name programs is missing there, so a PC never reaches its own
// date, route, killall, systime2rtc or snmptrap.
#pragma once

// system()'s result; -1 when the command is refused.
int run_shell(const char* command);
