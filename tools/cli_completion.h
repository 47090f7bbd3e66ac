// Bash completion for a program whose command line is declared with CLI11, generated from the
// same declaration: at each level the words that may follow (its sub-commands, its options and
// those of the levels above), the level found from the words already typed.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

namespace cli_completion {

// Appends word to the blank-separated list unless it is there.
inline void add_word(const std::string& word, std::string* list) {
  if ((" " + *list + " ").find(" " + word + " ") == std::string::npos)
    *list += (list->empty() ? "" : " ") + word;
}

inline void add_level(const CLI::App& app, const std::string& path, std::string words,
                      std::string* table) {
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_group().empty() || o->get_positional()) continue;  // hidden, or a value
    for (const std::string& name : o->get_lnames()) add_word("--" + name, &words);
    for (const std::string& name : o->get_snames()) add_word("-" + name, &words);
  }
  const std::string options = words;
  for (const CLI::App* sub : app.get_subcommands({})) add_word(sub->get_name(), &words);
  *table += "    [\"" + path + "\"]=\"" + words + "\"\n";
  for (const CLI::App* sub : app.get_subcommands({}))
    add_level(*sub, path + " " + sub->get_name(), sub->get_fallthrough() ? options : "", table);
}

// The script: a function _NAME and its `complete` line.
inline std::string bash_script(const CLI::App& app, const std::string& name) {
  std::string table;
  add_level(app, "_", "", &table);  // "_", "_ set", "_ set link": bash takes no empty key
  std::string f = "_" + name;
  for (char& c : f)
    if (c == '-') c = '_';
  return "# bash completion for " + name + ", generated from its own command line\n" + f +
         "() {\n  local -A next=(\n" + table +
         "  )\n"
         "  local path=_ w i\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    w=${COMP_WORDS[i]}\n"
         "    [[ -n ${next[\"$path $w\"]+x} ]] && path=\"$path $w\"\n"
         "  done\n"
         "  COMPREPLY=($(compgen -W \"${next[$path]}\" -- \"${COMP_WORDS[COMP_CWORD]}\"))\n"
         "}\n"
         "complete -F " +
         f + " " + name + "\n";
}

// Reads the command line into app once --bash-completion (for the package), --help and
// --version are answered. -1 to go on, else the exit status; refused(error) says what is wrong
// with a line that does not parse and gives its status.
template <typename Refused>
int parse(CLI::App& app, int argc, char** argv, Refused refused) {
  if (argc == 2 && std::string(argv[1]) == "--bash-completion") {
    std::fputs(bash_script(app, app.get_name()).c_str(), stdout);
    return 0;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help or --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return refused(e);
  }
  return -1;
}

}  // namespace cli_completion
