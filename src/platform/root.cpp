#include "platform/root.h"

#include <cstdio>
#include <cstring>

namespace {
char g_root[kRootMax + 1] = "";

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}
}  // namespace

int set_root(const char* dir) {
  if (!dir) dir = "";
  std::size_t n = std::strlen(dir);
  if (n > kRootMax) return -1;
  while (n > 0 && dir[n - 1] == '/') --n;  // "/x/" and "/x" are one root; "/" is none
  std::memcpy(g_root, dir, n);
  g_root[n] = '\0';
  return 0;
}

const char* root_dir() { return g_root; }

bool has_root() { return g_root[0] != '\0'; }

RootedPath rooted(const char* path) {
  RootedPath out{};
  const bool kernel_own = starts_with(path, "/proc/") || std::strcmp(path, "/proc") == 0 ||
                          std::strcmp(path, "/dev/null") == 0;
  if (!has_root() || kernel_own || path[0] != '/')
    std::snprintf(out.text, sizeof out.text, "%s", path);
  else
    std::snprintf(out.text, sizeof out.text, "%s%s", g_root, path);
  return out;
}
