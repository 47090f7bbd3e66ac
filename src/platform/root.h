// The root prefix of the device's fixed paths. On the device the root is empty and every
// path is exactly the documented one; the simulator and the maintenance tool set a root once
// at start, and every fixed path, in a file name, a shell command line or a text written for
// another program, goes through rooted(). /proc and /dev/null are the kernel's and never get
// the root.
#pragma once

#include <cstddef>

constexpr std::size_t kRootMax = 256;        // longest root accepted
constexpr std::size_t kRootedPathMax = 512;  // a root plus any fixed path of the system

struct RootedPath {
  char text[kRootedPathMax];
  const char* c_str() const { return text; }
};

// Sets the root once at start. Returns 0, or -1 when the directory name is too long.
// An empty text or nullptr means the device (no root).
int set_root(const char* dir);
// "" on the device.
const char* root_dir();
bool has_root();
// The root followed by path, or path unchanged for /proc/..., /dev/null and when there is no
// root.
RootedPath rooted(const char* path);
