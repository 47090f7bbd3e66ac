#include "support/temp_dir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  path_ = (std::filesystem::temp_directory_path() / "station-test-XXXXXX").string();
  if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool file_exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

ChildRun in_child(const std::function<std::string()>& body) {
  int out[2], status = 0;
  if (pipe(out) != 0) return {-1, ""};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    const std::string text = body();
    std::fflush(stdout);
    _exit(write(1, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(out[1]);
  std::string said;
  char chunk[4096];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
  close(out[0]);
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}
