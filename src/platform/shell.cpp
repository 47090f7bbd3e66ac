#include "platform/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/device_root.h"
#include "platform/root.h"

namespace {

// A stand-in that is missing, or present but not an executable file, would let the shell
// go on along PATH to the PC's own program of that name.
const char* missing_stand_in() {
  for (const StandIn& s : kStandIns) {
    if (!s.bare_name) continue;
    static RootedPath path;
    path = rooted(s.path);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0)
      return path.c_str();
  }
  return nullptr;
}

// Whether the shell will look in ROOT/bin first: checked apart from the routine that puts it
// there, so that no single slip in one place sends a command to the PC's own programs.
bool root_bin_leads_path() {
  const RootedPath bin = rooted("/bin");
  const char* path = std::getenv("PATH");
  const std::size_t n = std::strlen(bin.c_str());
  return path && std::strncmp(path, bin.c_str(), n) == 0 && (path[n] == ':' || path[n] == '\0');
}

}  // namespace

int run_shell(const char* command) {
  if (!has_root()) return std::system(command);
  if (const char* missing = missing_stand_in()) {
    std::fprintf(stderr, "run_shell: refused: stand-in %s is missing or not executable\n",
                 missing);
    return -1;
  }
  // Checked at every call: a test or tool may have set the root without preparing it, or
  // PATH may have been changed since.
  if (put_root_bin_first_on_path() != 0 || !root_bin_leads_path()) {
    std::fprintf(stderr, "run_shell: refused: cannot put %s/bin first on PATH\n", root_dir());
    return -1;
  }
  return std::system(command);
}
