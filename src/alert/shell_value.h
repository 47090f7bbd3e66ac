// Shell safety of values that end up in command lines: the check for a value placed outside
// quotes (mail, trap and route commands) and the escaping of a value placed inside the
// double-quoted text of an alert-log echo. Owns the set of characters a bare value may hold.
#pragma once

#include <cstddef>

// The alert-log text recorded instead of running a command that would carry an unsafe value.
constexpr const char kShellRefused[] = "shell command refused: unsafe value";

// True when every character of `value` is a letter, a digit or one of "@._-+:/,%"; the empty
// value is safe. `separator` (0 for none) is also allowed: the blank a format itself puts
// between list items.
bool shell_safe_value(const char* value, char separator = '\0');

// A copy of `value` in which '"', '\\', '$' and '`' each get a backslash in front, so that
// inside echo "..." the shell prints the value literally. Long values are cut at a whole
// character; the copy always ends in a terminator.
struct EchoQuoted {
  static constexpr std::size_t kMax = 2048;
  char text[kMax];
  const char* c_str() const { return text; }
};
EchoQuoted echo_quoted(const char* value);
