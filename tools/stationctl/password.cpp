#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace {

// The first line of a file, without its line end.
bool first_line(const std::string& path, std::string* line, std::string* error) {
  if (!read_text_file(path, line, error)) return false;
  line->erase(std::min(line->find('\n'), line->size()));
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

// Asks on the terminal with echo off. false when there is no terminal to ask.
bool prompt(const char* question, std::string* answer) {
  const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) return false;
  termios saved{};
  const bool have_termios = tcgetattr(tty, &saved) == 0;
  if (have_termios) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  ssize_t ignored = write(tty, question, std::strlen(question));
  answer->clear();
  char c;
  while (read(tty, &c, 1) == 1 && c != '\n') answer->push_back(c);
  if (have_termios) tcsetattr(tty, TCSAFLUSH, &saved);
  ignored = write(tty, "\n", 1);
  (void)ignored;
  close(tty);
  if (!answer->empty() && answer->back() == '\r') answer->pop_back();
  return true;
}

}  // namespace

bool login_password(const std::string& file, std::string* password, std::string* error) {
  if (!file.empty()) return first_line(file, password, error);
  if (const char* env = std::getenv("STATIONCTL_PASSWORD")) {
    *password = env;
    return true;
  }
  // Guessing is not harmless: every failed login raises the unit's alerts.
  if (!isatty(STDIN_FILENO) || !prompt("Password: ", password)) {
    *error = "no password: give --password-file FILE, set STATIONCTL_PASSWORD (empty for an "
             "empty password), or run on a terminal to be asked";
    return false;
  }
  return true;
}

bool new_password(const std::string& file, std::string* password, std::string* error) {
  if (!file.empty()) return first_line(file, password, error);
  if (const char* env = std::getenv("STATIONCTL_NEW_PASSWORD")) {
    *password = env;
    return true;
  }
  std::string again;
  if (!isatty(STDIN_FILENO) || !prompt("New password: ", password) ||
      !prompt("New password again: ", &again)) {
    *error =
        "set password needs the new password: --new-password-file FILE, "
        "STATIONCTL_NEW_PASSWORD, or a terminal to ask on";
    return false;
  }
  if (again != *password) {
    *error = "the two new passwords differ";
    return false;
  }
  return true;
}
