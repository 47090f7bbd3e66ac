// stationctl, the management client: what its parts share. The command line is read into
// Args by main.cpp; commands.cpp runs the commands over a Session; show_text.cpp prints a
// port for people; password.cpp finds the passwords without taking them from the command
// line.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/control_client.h"
#include "client/port_view.h"

// Exit statuses, as the help text lists them.
constexpr int kExitOk = 0;
constexpr int kExitDiffers = 1;     // diff: apply would change something
constexpr int kExitUsage = 2;       // bad usage, or a value the unit would not take
constexpr int kExitLogin = 3;       // login refused
constexpr int kExitRefused = 4;     // the unit answered a command with the error reply
constexpr int kExitConnection = 5;  // no connection, closed, or no reply in time

// The command line as main.cpp read it.
struct Args {
  std::vector<std::string> words;  // command, sub-command and positional values
  std::vector<std::pair<std::string, std::string>> options;  // long name (no dashes), value
  // Connection options, with their defaults.
  std::string host = "127.0.0.1";
  uint16_t tcp_port = kControlPort;
  std::string user;
  std::string password_file;
  int port = 1;
  bool port_given = false;
  int timeout_s = 10;
  bool json = false;
};

// Prints "stationctl: " and the message on standard error; returns status.
int fail(int status, const std::string& message);
// The whole file; false with "cannot read PATH: reason".
bool read_text_file(const std::string& path, std::string* text, std::string* error);

// The facts the help tells: the baud rates the unit supports, and the codes it serves, three
// to a line with their names and the reply frames of a request.
std::string baud_rates_text();
std::string code_list();

// A value option of a set command: its name (without dashes), the form of its value, its
// help, and the field it changes (for a UDP entry's options, the entry's field).
struct OptionField {
  const char* option;
  const char* value;
  const char* help;
  const char* field;
};
extern const std::vector<OptionField> kSerialOptions, kServerOptions, kClientOptions, kUdpOptions,
    kDelimiterOptions, kSnmpOptions, kNetOptions, kPasswordOptions;

// Commands; each returns the exit status.
int run_show(const Args& args);
int run_set(const Args& args);
int run_apply(const Args& args, bool only_diff);
int run_export(const Args& args);
int run_raw(const Args& args);

// A port for people: the show table.
std::string show_table(const PortView& view);

// Passwords. The login password: --password-file, else STATIONCTL_PASSWORD, else a prompt
// without echo when standard input is a terminal; none of them is an error. The new one of
// `set password`: --new-password-file, else STATIONCTL_NEW_PASSWORD, else a prompt given
// twice. false with a message when a file cannot be read, the prompt fails, or a password
// has no source.
bool login_password(const std::string& file, std::string* password, std::string* error);
bool new_password(const std::string& file, std::string* password, std::string* error);
