// A scratch folder for one test, removed with everything in it when the test ends; whole-file
// helpers for expectations on real files; a child process for what a test must not do itself.
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
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);

// Runs body in a forked child whose standard output goes to the parent: the child's exit
// status (-1 when it did not exit) and what it printed, followed by the text body returned.
// body may end the child itself (with its own status, or through the routine under test).
struct ChildRun {
  int status;
  std::string out;
};
ChildRun in_child(const std::function<std::string()>& body);
