// How many times an operation opens station.ini to read it and to rewrite it, counted by
// inotify on the file: the floor of an operation is that many whole-file reads and writes.
#pragma once

#include <string>

struct IniAccess {
  int reads;
  int writes;
};

// Runs fn(arg) once and counts the opens of `path` that it closed after reading only, and
// those it closed after writing. {-1, -1} when inotify is not available.
IniAccess count_ini_access(const std::string& path, void (*fn)(int), int arg);
