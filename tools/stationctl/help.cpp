// The help texts, one per command level. The protocol's facts in them (the control port, the
// baud rates, the command codes) come from its description: {port}, {bauds} and {codes} stand
// for them.
#include <cstdio>
#include <string>

#include "cli.h"
#include "protocol/command_table.h"

namespace {

constexpr std::size_t kHelpWidth = 80;

struct Help {
  const char* path;
  const char* text;
};

constexpr Help kHelp[] = {
    {"",
     "Usage: stationctl [OPTIONS] COMMAND ...\n"
     "Reads and changes the settings of one serial port of the device server.\n"
     "\n"
     "Commands:\n"
     "  show                 the whole port as a table (--json: as one JSON object)\n"
     "  set WHAT ...         change settings: serial, interface, tcp-mode, link, delimiter,\n"
     "                       alias, snmp, password, net\n"
     "  export               the whole unit as one JSON document: its own settings, then\n"
     "                       each serial port\n"
     "  apply FILE.json      apply what show --json or export printed (the fields present),\n"
     "                       then show\n"
     "  diff FILE.json       what apply would change (--json: as a JSON list)\n"
     "  raw HEX...           send frames given in hex, print each reply frame decoded\n"
     "\n"
     "Options:\n"
     "  -H, --host ADDRESS       the unit (default 127.0.0.1)\n"
     "      --tcp-port N         its control port (default {port})\n"
     "  -u, --user NAME          log in as NAME (default: with the password alone)\n"
     "      --password-file FILE the password is the first line of FILE\n"
     "      --port 1|2           the serial port (default 1); selected before every command\n"
     "      --timeout SECONDS    how long to wait for the unit (default 10)\n"
     "  -h, --help               this text; COMMAND --help for a command's\n"
     "\n"
     "The password comes from --password-file, else the environment variable\n"
     "STATIONCTL_PASSWORD (which may be empty), else a prompt on the terminal. It is never\n"
     "taken from the command line.\n"
     "\n"
     "Exit status: 0 done; 1 diff found differences; 2 bad usage or a value the unit would\n"
     "not take (nothing sent); 3 login refused; 4 the unit refused a command; 5 no\n"
     "connection, or no reply in time.\n"},
    {"show",
     "Usage: stationctl show [--json]\n"
     "Prints the port: serial line, interface, TCP mode, link mode and its settings, both\n"
     "delimiter blocks, SNMP texts, and the stored address, gateway and netmask when the\n"
     "session arrived on the unit's eth0. The alias and the two option bytes live in the\n"
     "unit's memory only until its next get-all; show reads them first and marks them.\n"
     "Nothing is changed and the unit announces no change.\n"
     "  --json   one JSON object, the format of apply and diff\n"},
    {"set",
     "Usage: stationctl set WHAT [OPTIONS]\n"
     "  serial     --baud N --data-bits 5..8 --parity P --stop-bits 1|2 --flow F\n"
     "  interface  rs232|rs422|rs485\n"
     "  tcp-mode   virtual-com|raw\n"
     "  link       tcp-server|tcp-client|udp [OPTIONS]\n"
     "  delimiter  uart|tcp --flag N --timer N --chars HEX --max-bytes N\n"
     "  alias      TEXT\n"
     "  snmp       --name TEXT --location TEXT --contact TEXT\n"
     "  password   (the new one from --new-password-file, STATIONCTL_NEW_PASSWORD or a\n"
     "             prompt)\n"
     "  net        --ip A --gateway A --netmask A\n"
     "Values the unit would not take are refused before anything is sent (exit 2).\n"
     "stationctl set WHAT --help tells more.\n"},
    {"set serial",
     "Usage: stationctl set serial [--baud N] [--data-bits N] [--parity P] [--stop-bits N]\n"
     "                             [--flow F]\n"
     "Any of them, sent in one buffer.\n"
     "  --baud N       {bauds}\n"
     "  --data-bits N  5, 6, 7 or 8\n"
     "  --parity P     none, odd, even, mark or space\n"
     "  --stop-bits N  1 or 2\n"
     "  --flow F       none, xon-xoff or rts-cts\n"},
    {"set interface",
     "Usage: stationctl set interface rs232|rs422|rs485\n"
     "The serial interface type of the port.\n"},
    {"set tcp-mode",
     "Usage: stationctl set tcp-mode virtual-com|raw\n"
     "The unit keeps raw while the link mode is udp, so virtual-com is refused then.\n"},
    {"set link",
     "Usage: stationctl set link tcp-server|tcp-client|udp [OPTIONS]\n"
     "Sets the link mode with its settings; settings not given keep what the unit holds\n"
     "for that mode. stationctl set link MODE --help lists the options.\n"},
    {"set link tcp-server",
     "Usage: stationctl set link tcp-server [--local-port N] [--ip-filter on|off]\n"
     "                                      [--source-ip A] [--max-connections N]\n"},
    {"set link tcp-client",
     "Usage: stationctl set link tcp-client [--dest1-ip A] [--dest1-port N] [--dest2 on|off]\n"
     "                                      [--dest2-ip A] [--dest2-port N]\n"},
    {"set link udp",
     "Usage: stationctl set link udp [--local-port N] [--entry K [--enable on|off]\n"
     "                               [--dest-port N] [--begin-ip A] [--end-ip A]]...\n"
     "--entry K (1 to 8) picks the destination range that the options after it change.\n"
     "Entry 1 is always enabled.\n"},
    {"set delimiter",
     "Usage: stationctl set delimiter uart|tcp [--flag N] [--timer N] [--chars HEX]\n"
     "                                        [--max-bytes N]\n"
     "The serial-side (uart) or network-side (tcp) packet delimiter. --chars takes none,\n"
     "one or two bytes in hex (0d0a). A flag whose low byte is 0 cannot be sent: the unit\n"
     "reads such a block as a query.\n"},
    {"set alias",
     "Usage: stationctl set alias TEXT\n"
     "The port's alias, at most 31 characters. The unit keeps it in memory only, until its\n"
     "next get-all (every show runs one).\n"},
    {"set snmp",
     "Usage: stationctl set snmp [--name TEXT] [--location TEXT] [--contact TEXT]\n"
     "The SNMP system texts, at most 31 characters each.\n"},
    {"set password",
     "Usage: stationctl set password [--new-password-file FILE]\n"
     "The new login password (at most 8 characters, no spaces) is the first line of FILE,\n"
     "else the environment variable STATIONCTL_NEW_PASSWORD, else asked twice on the\n"
     "terminal.\n"},
    {"set net",
     "Usage: stationctl set net [--ip A] [--gateway A] [--netmask A]\n"
     "The stored address, gateway and netmask of the unit's eth0. The unit takes them only\n"
     "from a session that arrived on its eth0: connect to eth0's address.\n"},
    {"export",
     "Usage: stationctl export\n"
     "Prints the whole unit as one JSON object: \"unit\" holds the settings of the whole\n"
     "unit (the SNMP texts; the stored address, gateway and netmask when the session arrived\n"
     "on the unit's eth0), \"ports\" each serial port as show --json prints it without them.\n"
     "The password is never shown. apply and diff take the document back.\n"},
    {"apply",
     "Usage: stationctl apply [--json] FILE.json\n"
     "Applies the settings of FILE (only the fields present), then shows the result. A port\n"
     "document (as show --json prints it) goes to the port chosen with --port; a unit\n"
     "document (as export prints it) goes to the ports it names, its unit settings once.\n"
     "Every port is read and checked before anything is sent, and fields that already hold\n"
     "the value are not sent. \"port\" and \"memory_only\" are not applied.\n"},
    {"diff",
     "Usage: stationctl diff [--json] FILE.json\n"
     "Prints one line \"FIELD: NOW -> FILE\" for each setting apply would change (in a unit\n"
     "document, \"port N FIELD: ...\" for a port's own); with --json, a JSON list of\n"
     "{\"port\", \"field\", \"from\", \"to\"}, the port null for a setting of the whole unit.\n"
     "Exit status 1 when there is a change, 0 when there is none.\n"},
    {"raw",
     "Usage: stationctl raw HEX...\n"
     "Sends the frames given in hex (spaces and colons allowed) in one buffer after the\n"
     "login, and prints each reply frame: its code, the command it answers, its data.\n"
     "The port is selected only when --port is given.\n"
     "Example: stationctl raw fffa2c5e00fff0\n"
     "\n"
     "The codes the unit serves, each with the reply frames one request earns:\n"
     "{codes}"},
};

// Words joined by spaces, wrapped under the column they start at.
std::string wrapped(const std::vector<std::string>& words, std::size_t column) {
  std::string out;
  std::size_t at = column;
  for (const std::string& w : words) {
    if (!out.empty() && at + 1 + w.size() > kHelpWidth) {
      out += "\n" + std::string(column, ' ');
      at = column;
    } else if (!out.empty()) {
      out += " ";
      ++at;
    }
    out += w;
    at += w.size();
  }
  return out;
}

// Three to a line: code, name, the reply frames of a request the command table accepts.
std::string code_list() {
  static const unsigned char zeros[kReceiveBufferSize] = {};
  std::string out;
  int column = 0;
  for (const CommandRow& row : kCommandRows) {
    if (row.route == ChangeRoute::kNotServed) continue;
    int length = 0;
    while (length < kReceiveBufferSize && !request_length_ok(row, zeros, length)) ++length;
    char cell[32];
    std::snprintf(cell, sizeof cell, "  %3d %-15s %2d", row.code, row.name,
                  reply_frames(row.code, zeros, length));
    out += cell;
    out += ++column % 3 == 0 ? "\n" : "  ";
  }
  return column % 3 == 0 ? out : out.substr(0, out.size() - 2) + "\n";
}

void replace(std::string* text, const std::string& name, const std::string& value) {
  const std::size_t at = text->find(name);
  if (at != std::string::npos) text->replace(at, name.size(), value);
}

}  // namespace

std::string help_text(const std::string& path) {
  for (const Help& h : kHelp) {
    if (path != h.path) continue;
    std::string text = h.text;
    std::vector<std::string> rates;
    for (uint32_t rate : kBaudRates) rates.push_back(std::to_string(rate));
    const std::size_t bauds = text.find("{bauds}");
    if (bauds != std::string::npos)
      replace(&text, "{bauds}", wrapped(rates, bauds - text.rfind('\n', bauds) - 1));
    replace(&text, "{port}", std::to_string(kControlPort));
    replace(&text, "{codes}", code_list());
    return text;
  }
  return "";
}
