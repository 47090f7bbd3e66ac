// stationtool: the device's maintenance routines that nothing in the daemon calls, one
// subcommand each. The global part lives here: --root, --help, finding the command in the
// groups the tool's files added, checking its arguments before anything is touched, and
// preparing the device root.
#include <getopt.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "../eeprom_progress.h"
#include "common/number_text.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "storage/defaults.h"
#include "storage/eeprom_device.h"
#include "tool_command.h"

namespace {

// Groups are added during static initialisation, before main; a zero-initialised pointer
// is in place before any constructor runs, whatever the order of the files.
ToolCommandGroup* g_first_group;

void vprint_line(const char* format, va_list args) {
  std::fputs("stationtool: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

void print_help() {
  std::printf(
      "usage: stationtool [--root DIR] COMMAND [ARGUMENTS]\n"
      "Runs one of the device's maintenance routines.\n"
      "  --root DIR  play the device on the folder DIR (required on a PC)\n"
      "  --help      show this text\n"
      "  --version   show the tool's version\n"
      "Commands:\n");
  for (const ToolCommandGroup* g = g_first_group; g; g = g->next)
    for (std::size_t i = 0; i < g->count; ++i) {
      const ToolCommand& c = g->commands[i];
      std::printf("  %s%s%s\n      %s\n", c.name, c.usage[0] ? " " : "", c.usage, c.summary);
    }
}

// Bash completion from the same table: the options, then the commands.
void print_completion() {
  std::printf(
      "# bash completion for stationtool, generated from its own command table\n"
      "_stationtool() {\n  COMPREPLY=($(compgen -W \"--root --help --version");
  for (const ToolCommandGroup* g = g_first_group; g; g = g->next)
    for (std::size_t i = 0; i < g->count; ++i) std::printf(" %s", g->commands[i].name);
  std::printf("\" -- \"${COMP_WORDS[COMP_CWORD]}\"))\n}\ncomplete -F _stationtool stationtool\n");
}

const ToolCommand* find_command(const char* name) {
  for (const ToolCommandGroup* g = g_first_group; g; g = g->next)
    for (std::size_t i = 0; i < g->count; ++i)
      if (std::strcmp(g->commands[i].name, name) == 0) return &g->commands[i];
  return nullptr;
}

// The EEPROM bytes a command writes, when it knows them ahead; 0 when it does not.
unsigned eeprom_bytes_of(const char* name) {
  if (std::strcmp(name, "eeprom-clear") == 0) return kEepromSize;
  if (std::strcmp(name, "factory-initialize") == 0) return kFactoryInitializeBytes;
  if (std::strcmp(name, "load-default-settings") == 0) return kLoadDefaultSettingsBytes;
  return 0;
}

}  // namespace

void ToolCommandGroup::add_to_tool() {
  ToolCommandGroup** tail = &g_first_group;
  while (*tail) tail = &(*tail)->next;
  *tail = this;
}

int bad_args(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint_line(format, args);
  va_end(args);
  return kToolBadArgs;
}

int tool_failed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint_line(format, args);
  va_end(args);
  return kToolFailed;
}

int main(int argc, char** argv) {
  // getopt_long, not an option library: the tool runs on the device, where such a library
  // would cost several times the tool's own size. Options end at the command's name.
  static const option kOptions[] = {{"root", required_argument, nullptr, 'r'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'v'},
                                    {nullptr, 0, nullptr, 0}};
  if (argc == 2 && std::strcmp(argv[1], "--bash-completion") == 0)  // for the package
    return print_completion(), kToolOk;
  const char* root = nullptr;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "+:", kOptions, nullptr)) != -1;) {
    if (c == 'h') return print_help(), kToolOk;
    if (c == 'v') return std::puts("stationtool " STATION_VERSION), kToolOk;
    if (c == ':') return bad_args("--root needs a folder");
    if (c != 'r') return bad_args("unknown option %s (see --help)", argv[optind - 1]);
    root = optarg;
  }
  int i = optind;
  if (i >= argc) return bad_args("no command given (see --help)");

  const ToolCommand* command = find_command(argv[i]);
  if (!command) return bad_args("unknown command %s (see --help)", argv[i]);
  int nargs = argc - i - 1;
  char** args = argv + i + 1;
  if (nargs < command->min_args || nargs > command->max_args)
    return bad_args("usage: stationtool [--root DIR] %s %s", command->name, command->usage);
  uint32_t number[2] = {};
  for (int k = 0; k < 2; ++k) {
    const NumberArgument& n = command->numbers[k];
    if (n.at >= 0 && !parse_number(args[n.at], n.max, &number[k]))
      return bad_args(n.refusal, args[n.at]);
  }
  if (command->check)
    if (int status = command->check(args)) return status;

  // A PC is not the device: without a root its own clock, routes and I2C bus would be hit.
  if (refuse_pc_without_root(root) != 0)
    return bad_args("this is a PC build: give --root DIR, a device root folder other than /");
  if (root && root[0] && prepare_device_root(root) != 0) return kToolBadArgs;
  // With a root the EEPROM is an image file; a missing one would only give a screen of
  // "open ... error" lines (or end the byte routines), so say it once instead.
  struct stat st;
  const RootedPath node = rooted("/dev/i2c-0");
  if (command->eeprom && has_root() && ::stat(node.c_str(), &st) != 0)
    return tool_failed("%s: no EEPROM image", node.c_str());

  const EepromProgress progress(command->name, eeprom_bytes_of(command->name));
  return command->run(args, number);
}
