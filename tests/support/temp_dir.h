// A scratch folder removed with its contents at the end of the test, whole-file helpers, and
// a child process for what a test must not do itself.
#pragma once

#include <functional>
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);

// Runs body in a forked child (which it may end itself): the exit status (-1 when it did not
// exit) and what the child printed to standard output, then the text body returned.
struct ChildRun {
  int status;
  std::string out;
};
ChildRun in_child(const std::function<std::string()>& body);
