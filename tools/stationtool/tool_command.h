// The subcommand table of stationtool. Each file of the tool owns one table of its commands
// and adds it with a namespace-scope ToolCommandGroup; main.cpp knows none of them by name,
// so a new file of commands joins the tool without touching the others.
#pragma once

#include <cstddef>
#include <cstdint>

// A number argument: where it stands among the arguments, the largest value it takes, and
// its refusal (a printf format whose %s is the text typed).
struct NumberArgument {
  int at = -1;  // -1: no such argument
  uint32_t max = 0;
  const char* refusal = nullptr;
};

struct ToolCommand {
  const char* name;  // "eeprom-read-byte"
  int min_args;      // arguments after the name
  int max_args;
  const char* usage;    // the arguments as --help shows them: "OFF VAL"
  const char* summary;  // one line for --help
  bool eeprom;          // works on the EEPROM: with a root, refused when there is no image
  NumberArgument numbers[2];
  // Looks at the other arguments before anything is touched (no root prepared, nothing
  // written): 0 when they are usable; otherwise one line on stderr and a nonzero result.
  // May be null.
  int (*check)(char** argv);
  // Runs the command with the root in force, numbers[k] read into number[k]; the result is
  // the exit status.
  int (*run)(char** argv, const uint32_t* number);
};

struct ToolCommandGroup {
  template <std::size_t N>
  explicit ToolCommandGroup(const ToolCommand (&table)[N]) : commands(table), count(N) {
    add_to_tool();
  }
  ToolCommandGroup(const ToolCommandGroup&) = delete;
  ToolCommandGroup& operator=(const ToolCommandGroup&) = delete;

  const ToolCommand* commands;
  std::size_t count;
  ToolCommandGroup* next = nullptr;

 private:
  void add_to_tool();  // appends this group to the tool's list (main.cpp)
};

// Exit statuses shared by every command.
constexpr int kToolOk = 0;
constexpr int kToolFailed = 1;   // the operation ran and did not succeed
constexpr int kToolBadArgs = 2;  // nothing was done

// One line "stationtool: <message>" on stderr; returns kToolBadArgs for `return bad_args(...)`.
int bad_args(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Same line, returns kToolFailed.
int tool_failed(const char* format, ...) __attribute__((format(printf, 1, 2)));
