// A scratch folder removed at the end, whole-file helpers, a child for what a test must not do.
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

// body in a forked child (it may end there): its exit status (-1: none), output, then text.
struct ChildRun {
  int status;
  std::string out;
};
ChildRun in_child(const std::function<std::string()>& body);
