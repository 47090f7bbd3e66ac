// stationctl: reads and changes the settings of a serial port of the device server over its
// control protocol. This file reads the command line and picks the command.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace {

struct OptionDef {
  const char* name;
  char short_name;
  bool takes_value;
};

constexpr OptionDef kOptions[] = {
    {"host", 'H', true},
    {"tcp-port", 0, true},
    {"user", 'u', true},
    {"password-file", 0, true},
    {"port", 0, true},
    {"timeout", 0, true},
    {"help", 'h', false},
    {"json", 0, false},
    {"baud", 0, true},
    {"data-bits", 0, true},
    {"parity", 0, true},
    {"stop-bits", 0, true},
    {"flow", 0, true},
    {"local-port", 0, true},
    {"ip-filter", 0, true},
    {"source-ip", 0, true},
    {"max-connections", 0, true},
    {"dest1-ip", 0, true},
    {"dest1-port", 0, true},
    {"dest2", 0, true},
    {"dest2-ip", 0, true},
    {"dest2-port", 0, true},
    {"entry", 0, true},
    {"enable", 0, true},
    {"dest-port", 0, true},
    {"begin-ip", 0, true},
    {"end-ip", 0, true},
    {"flag", 0, true},
    {"timer", 0, true},
    {"chars", 0, true},
    {"max-bytes", 0, true},
    {"name", 0, true},
    {"location", 0, true},
    {"contact", 0, true},
    {"new-password-file", 0, true},
    {"ip", 0, true},
    {"gateway", 0, true},
    {"netmask", 0, true},
};

const OptionDef* find_option(const std::string& name, char short_name) {
  for (const OptionDef& o : kOptions)
    if (short_name ? o.short_name == short_name : name == o.name) return &o;
  return nullptr;
}

bool parse_number(const std::string& text, long min, long max, long* out) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

// Reads argv into args; the connection options are taken out of the option list.
bool parse_args(int argc, char** argv, Args* args, std::string* error) {
  bool words_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (words_only || a.size() < 2 || a[0] != '-') {
      args->words.push_back(a);
      continue;
    }
    if (a == "--") {
      words_only = true;
      continue;
    }
    const OptionDef* def = nullptr;
    std::string value;
    bool has_value = false;
    if (a[1] == '-') {
      const std::size_t eq = a.find('=');
      def = find_option(a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2), 0);
      if (eq != std::string::npos) value = a.substr(eq + 1), has_value = true;
    } else {
      def = find_option("", a[1]);
      if (a.size() > 2) value = a.substr(2), has_value = true;
    }
    if (!def) {
      *error = "unknown option " + a + " (stationctl --help lists them)";
      return false;
    }
    if (def->takes_value && !has_value) {
      if (i + 1 >= argc) {
        *error = std::string("--") + def->name + " needs a value";
        return false;
      }
      value = argv[++i];
    } else if (!def->takes_value && has_value) {
      *error = std::string("--") + def->name + " takes no value";
      return false;
    }
    const std::string name = def->name;
    long n = 0;
    if (name == "help") {
      args->help = true;
    } else if (name == "json") {
      args->json = true;
    } else if (name == "host") {
      args->host = value;
    } else if (name == "user") {
      args->user = value;
    } else if (name == "password-file") {
      args->password_file = value;
    } else if (name == "tcp-port") {
      if (!parse_number(value, 1, 65535, &n)) return (*error = "--tcp-port: 1 to 65535"), false;
      args->tcp_port = static_cast<uint16_t>(n);
    } else if (name == "port") {
      if (!parse_number(value, 1, 2, &n))
        return (*error = "--port: " + value + " is not a serial port of the unit (1 or 2)"), false;
      args->port = static_cast<int>(n);
      args->port_given = true;
    } else if (name == "timeout") {
      if (!parse_number(value, 1, 3600, &n))
        return (*error = "--timeout: 1 to 3600 seconds"), false;
      args->timeout_s = static_cast<int>(n);
    } else {
      args->options.emplace_back(name, value);
    }
  }
  return true;
}

// The longest known help path that the words begin with.
std::string help_path(const std::vector<std::string>& words) {
  std::string path, best;
  for (const std::string& w : words) {
    path += (path.empty() ? "" : " ") + w;
    if (!help_text(path).empty()) best = path;
  }
  return best;
}

}  // namespace

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "stationctl: %s\n", message.c_str());
  return status;
}

int main(int argc, char** argv) {
  Args args;
  std::string error;
  if (!parse_args(argc, argv, &args, &error)) return fail(kExitUsage, error);
  if (args.help) {
    std::fputs(help_text(help_path(args.words)).c_str(), stdout);
    return kExitOk;
  }
  if (args.words.empty()) {
    std::fputs(help_text("").c_str(), stderr);
    return kExitUsage;
  }
  const std::string& command = args.words[0];
  if (command == "show") return run_show(args);
  if (command == "set") return run_set(args);
  if (command == "apply") return run_apply(args, false);
  if (command == "diff") return run_apply(args, true);
  if (command == "export") return run_export(args);
  if (command == "raw") return run_raw(args);
  return fail(kExitUsage, "unknown command " + command + " (stationctl --help lists them)");
}
