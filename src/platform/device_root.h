// The device root on a PC: the folder that plays the device's file system for the simulator,
// the maintenance tool and the tests. This unit owns the table of stand-ins for the device's
// programs, the preparation of a root, the shell's PATH fence and the PC build's refusal to
// run without a root. On the device none of it is used: there is no root.
#pragma once

#include <cstddef>

// One program of the device that a PC must never reach. Each becomes, under a root, a /bin/sh
// script that appends one line, its name and arguments separated by single spaces, to
// ROOT/var/log/programs.log and changes nothing else. `bare_name` marks the programs the
// system calls without a path, found through PATH in ROOT/bin; the shell refuses to run
// anything while one of these is missing.
struct StandIn {
  const char* path;  // the device's absolute path
  bool bare_name;
};

inline constexpr StandIn kStandIns[] = {
    {"/usr/sbin/mail", false},  {"/usr/sbin/rtc2systime", false},
    {"/sbin/syslogd", false},   {"/sbin/klogd", false},
    {"/bin/date", true},        {"/bin/systime2rtc", true},
    {"/bin/route", true},       {"/bin/killall", true},
    {"/bin/snmptrap", true},
};

// Makes DIR the root and readies it: sets the root to DIR's absolute name, creates the
// folders the device's fixed paths need (mnt/jffs2, dev, tmp, var/log, bin, sbin, usr/sbin,
// etc), each missing stand-in, and etc/resolv.conf as a link to the PC's /etc/resolv.conf;
// puts ROOT/bin first on PATH and makes DIR the working directory. What exists is used as
// it is. DIR itself is created when missing. Refused: no name, the PC's own "/", a name with
// characters the shell would read (the root lands unquoted in command lines), a name longer
// than kRootMax. Returns 0, or -1 with one line on stderr.
int prepare_device_root(const char* dir);

// Makes sure PATH begins with ROOT/bin (a root bin this process put there earlier is
// replaced). Nothing to do without a root. 0, or -1 when PATH cannot be set.
int put_root_bin_first_on_path();

// True in the device build (the PowerPC preset defines STATION_DEVICE_BUILD).
bool device_build();

// True for "", "/", "//", "/." and anything else that resolves to the PC's own root.
bool names_host_root(const char* dir);

// For the PC executables at start: -1 when this is a PC build and ROOT names no root
// (nullptr, empty) or names the PC's own "/"; 0 otherwise. Prints nothing: each executable
// says why in its own words.
int refuse_pc_without_root(const char* root);
