// stationctl: reads and changes the settings of the serial ports of the device server over its
// control protocol. This file declares the command line with CLI11 (options, sub-commands,
// their checks and help) and hands the words and options, in the order typed, to the
// commands.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../cli_completion.h"
#include "cli.h"
#include "client/field_codec.h"

namespace {

// Every level's help: how to call it, what it does, its options, its sub-commands, its notes.
class HelpFormat : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    return make_usage(app, name) + make_description(app) + make_positionals(app) +
           make_groups(app, mode) + make_subcommands(app, mode) +
           (app->get_footer().empty() ? "" : "\n" + make_footer(app));
  }
};

// A number option's check, with the words of its refusal.
CLI::Validator number_from(uint32_t low, uint32_t high,
                           std::function<std::string(const std::string&)> refusal) {
  return CLI::Validator(
      [=](std::string& text) {
        uint32_t n = 0;
        return parse_number(text, high, &n) && n >= low ? std::string() : refusal(text);
      },
      "");
}

CLI::App* level(CLI::App* parent, const char* name, const std::string& what,
                const std::string& notes = "") {
  CLI::App* app = parent->add_subcommand(name, what);
  app->fallthrough();  // the connection options go anywhere on the line
  // One sub-command a level: a word that names another level's ("raw" after "tcp-mode") is
  // a value there.
  parent->require_subcommand(0, 1);
  app->footer(notes);
  return app;
}

// Options whose values go to the command in the order typed (each may come more than once).
void value_options(CLI::App* app, const std::vector<OptionField>& options) {
  for (const OptionField& o : options) {
    const std::string help = o.option == std::string("baud") ? baud_rates_text() : o.help;
    app->add_option(std::string("--") + o.option, help)
        ->take_all()
        ->allow_extra_args(false)
        ->type_name(o.value);
  }
}

struct CommandLine {
  CLI::App app{"Reads and changes the settings of the serial ports of the device server.",
               "stationctl"};
  Args args;
  std::vector<std::string> positionals;

  CommandLine();
  int parse(int argc, char** argv);
};

CommandLine::CommandLine() {
  app.formatter(std::make_shared<HelpFormat>());
  app.get_formatter()->column_width(26);
  app.add_option("-H,--host", args.host, "the unit")->type_name("ADDRESS")->capture_default_str();
  app.add_option("--tcp-port", args.tcp_port, "its control port")
      ->type_name("N")
      ->check(number_from(1, 65535, [](const std::string&) { return "1 to 65535"; }))
      ->capture_default_str();
  app.add_option("-u,--user", args.user, "log in as NAME (default: with the password alone)")
      ->type_name("NAME");
  app.add_option("--password-file", args.password_file, "the password is the first line of FILE")
      ->type_name("FILE");
  app.add_option("--port", args.port, "the serial port, selected before every command")
      ->type_name("1|2")
      ->check(number_from(
          1, 2,
          [](const std::string& v) { return v + " is not a serial port of the unit (1 or 2)"; }))
      ->capture_default_str();
  app.add_option("--timeout", args.timeout_s, "how long to wait for the unit, in seconds")
      ->type_name("SECONDS")
      ->check(number_from(1, 3600, [](const std::string&) { return "1 to 3600 seconds"; }))
      ->capture_default_str();
  app.set_version_flag("--version", "stationctl " STATION_VERSION);
  app.footer(
      "The password comes from --password-file, else the environment variable\n"
      "STATIONCTL_PASSWORD (which may be empty), else a prompt on the terminal. It is never\n"
      "taken from the command line.\n"
      "\n"
      "Exit status: 0 done; 1 diff found differences; 2 bad usage or a value the unit would\n"
      "not take (nothing sent); 3 login refused; 4 the unit refused a command; 5 no\n"
      "connection, or no reply in time.\n");

  CLI::App* show =
      level(&app, "show", "the whole port as a table (--json: as one JSON object)",
            "Prints the port: serial line, interface, TCP mode, link mode and its settings, both\n"
            "delimiter blocks, SNMP texts, and the stored address, gateway and netmask when the\n"
            "session arrived on the unit's eth0. The alias and the two option bytes live in the\n"
            "unit's memory only until its next get-all; show reads them first and marks them.\n"
            "Nothing is changed and the unit announces no change.\n");
  show->add_flag("--json", args.json, "one JSON object, the format of apply and diff");

  CLI::App* set = level(&app, "set", "change settings",
                        "Values the unit would not take are refused before anything is sent "
                        "(exit 2).\n");
  value_options(level(set, "serial", "the serial line, any of its settings in one buffer"),
                kSerialOptions);
  level(set, "interface", "the serial interface type of the port")
      ->add_option("TYPE", positionals, "rs232, rs422 or rs485")
      ->type_name("");
  level(set, "tcp-mode", "virtual-com or raw",
        "The unit keeps raw while the link mode is udp, so virtual-com is refused then.\n")
      ->add_option("MODE", positionals, "virtual-com or raw")
      ->type_name("");
  CLI::App* link = level(set, "link", "the link mode with its settings",
                         "Settings not given keep what the unit holds for that mode.\n");
  value_options(level(link, "tcp-server", "the port serves TCP clients"), kServerOptions);
  value_options(level(link, "tcp-client", "the port connects to one or two servers"),
                kClientOptions);
  value_options(level(link, "udp", "the port exchanges datagrams with address ranges",
                      "--entry K (1 to 8) picks the destination range that the options after it\n"
                      "change. Entry 1 is always enabled.\n"),
                kUdpOptions);
  CLI::App* delimiter =
      level(set, "delimiter", "a packet delimiter block",
            "--chars takes none, one or two bytes in hex (0d0a). A flag whose low byte is 0\n"
            "cannot be sent: the unit reads such a block as a query.\n");
  for (const char* side : {"uart", "tcp"})
    value_options(level(delimiter, side,
                        side[0] == 'u' ? "the serial side's delimiter" : "the network side's"),
                  kDelimiterOptions);
  level(set, "alias", "the port's alias, at most 31 characters",
        "The unit keeps it in memory only, until its next get-all (every show runs one).\n")
      ->add_option("TEXT", positionals, "the alias")
      ->type_name("");
  value_options(level(set, "snmp", "the SNMP system texts, at most 31 characters each"),
                kSnmpOptions);
  value_options(level(set, "password", "the login password",
                      "The new password (at most 8 characters, no spaces) is the first line of\n"
                      "FILE, else the environment variable STATIONCTL_NEW_PASSWORD, else asked\n"
                      "twice on the terminal.\n"),
                kPasswordOptions);
  value_options(level(set, "net", "the stored address, gateway and netmask of the unit's eth0",
                      "The unit takes them only from a session that arrived on its eth0: connect\n"
                      "to eth0's address.\n"),
                kNetOptions);

  level(&app, "export", "the whole unit as one JSON document: its own settings, then each port",
        "\"unit\" holds the settings of the whole unit (the SNMP texts; the stored address,\n"
        "gateway and netmask when the session arrived on the unit's eth0), \"ports\" each\n"
        "serial port as show --json prints it without them. The password is never shown.\n"
        "apply and diff take the document back.\n");
  CLI::App* apply =
      level(&app, "apply", "apply what show --json or export printed, then show",
            "Only the fields present are applied. A port document (show --json) goes to the\n"
            "port chosen with --port; a unit document (export) to the ports it names, its unit\n"
            "settings once. Every port is read and checked before anything is sent, and fields\n"
            "that already hold the value are not sent. \"port\" and \"memory_only\" are not\n"
            "applied.\n");
  apply->add_option("FILE", positionals, "the JSON document")->type_name("");
  apply->add_flag("--json", args.json, "show the result as JSON");
  CLI::App* diff =
      level(&app, "diff", "what apply would change",
            "Prints one line \"FIELD: NOW -> FILE\" for each setting apply would change (in a\n"
            "unit document, \"port N FIELD: ...\" for a port's own); with --json, a JSON list\n"
            "of {\"port\", \"field\", \"from\", \"to\"}, the port null for a setting of the whole\n"
            "unit. Exit status 1 when there is a change, 0 when there is none.\n");
  diff->add_option("FILE", positionals, "the JSON document")->type_name("");
  diff->add_flag("--json", args.json, "the changes as a JSON list");
  level(&app, "raw", "send frames given in hex, print each reply frame decoded",
        "The frames (spaces and colons allowed) go in one buffer after the login; each reply\n"
        "frame is printed with its code, the command it answers and its data. The port is\n"
        "selected only when --port is given. Example: stationctl raw fffa2c5e00fff0\n"
        "\n"
        "The codes the unit serves, each with the reply frames one request earns:\n" +
            code_list())
      ->add_option("HEX", positionals, "frames in hex")
      ->type_name("");
}

// The chain of sub-commands given, the root first.
std::vector<CLI::App*> chain_of(CLI::App* root) {
  std::vector<CLI::App*> chain = {root};
  while (!chain.back()->get_subcommands().empty())
    chain.push_back(chain.back()->get_subcommands().front());
  return chain;
}

// What went wrong on the command line, in the words a person can act on.
std::string refusal(const CLI::ParseError& e, const std::vector<CLI::App*>& chain) {
  if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    const std::vector<std::string> left = chain.front()->remaining(true);
    const std::string word = left.empty() ? "" : left.front();
    if (!word.empty() && word[0] == '-') return "unknown option " + word + " (--help lists them)";
    std::string path;
    for (std::size_t i = 1; i < chain.size(); ++i) path += " " + chain[i]->get_name();
    return "cannot" + (path.empty() ? std::string(" run") : path) + " " + word + " (stationctl" +
           path + " --help)";
  }
  const std::string what = e.what();  // "--baud: 1 required N missing"
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && what.find(" required ") != what.npos)
    return what.substr(0, what.find(':')) + " needs a value";
  return what;
}

int CommandLine::parse(int argc, char** argv) {
  const int status = cli_completion::parse(app, argc, argv, [this](const CLI::ParseError& e) {
    return fail(kExitUsage, refusal(e, chain_of(&app)));
  });
  if (status >= 0) return status;
  const std::vector<CLI::App*> chain = chain_of(&app);
  for (std::size_t i = 1; i < chain.size(); ++i) args.words.push_back(chain[i]->get_name());
  args.words.insert(args.words.end(), positionals.begin(), positionals.end());
  // The command's own options in the order typed, each occurrence with its value.
  std::map<const CLI::Option*, std::size_t> seen;  // occurrences so far
  for (const CLI::Option* o : chain.back()->parse_order()) {
    if (o->get_expected_max() == 0 || o->get_positional()) continue;  // flags, words
    args.options.emplace_back(o->get_name().substr(2), o->results().at(seen[o]++));
  }
  args.port_given = app.count("--port") > 0;
  return -1;
}

}  // namespace

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "stationctl: %s\n", message.c_str());
  return status;
}

int main(int argc, char** argv) {
  CommandLine line;
  if (const int status = line.parse(argc, argv); status >= 0) return status;
  const Args& args = line.args;
  if (args.words.empty()) {
    std::fputs(line.app.help().c_str(), stderr);
    return kExitUsage;
  }
  const std::string& command = args.words[0];
  if (command == "show") return run_show(args);
  if (command == "set") return run_set(args);
  if (command == "apply") return run_apply(args, false);
  if (command == "diff") return run_apply(args, true);
  if (command == "export") return run_export(args);
  return run_raw(args);
}
