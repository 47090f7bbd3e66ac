#include "platform/device_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/root.h"

namespace {

// The folders that the device's fixed paths live in.
constexpr const char* kFolders[] = {"/mnt/jffs2", "/dev", "/tmp", "/var/log",
                                    "/bin",       "/sbin", "/usr/sbin", "/etc"};

// The root lands unquoted in the command lines the system hands to the shell, so it may only
// hold characters the shell takes literally.
bool shell_safe(const char* text) {
  for (const char* p = text; *p; ++p) {
    const char c = *p;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::strchr("/._-+,@%=:", c) != nullptr;
    if (!ok) return false;
  }
  return true;
}

int fail(const char* what) {
  std::fprintf(stderr, "prepare_device_root: %s: %s\n", what, std::strerror(errno));
  return -1;
}

// mkdir -p; an existing folder is fine, an existing file in the way is not.
int make_folders(const char* path) {
  char buf[PATH_MAX];
  if (std::snprintf(buf, sizeof buf, "%s", path) >= static_cast<int>(sizeof buf)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  for (char* p = buf + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    if (mkdir(buf, 0755) != 0 && errno != EEXIST) return -1;
    *p = '/';
  }
  if (mkdir(buf, 0755) != 0 && errno != EEXIST) return -1;
  struct stat st;
  if (stat(buf, &st) != 0) return -1;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return -1;
  }
  return 0;
}

bool exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

// The stand-in finds programs.log from where it sits ($0), not from the root it was made in,
// so a copied root records into its own log. Only sh builtins and printf run.
int write_stand_in(const char* device_path) {
  const RootedPath file = rooted(device_path);
  if (exists(file.c_str())) return 0;
  const char* name = std::strrchr(device_path, '/') + 1;
  const char* up = std::strncmp(device_path, "/usr/", 5) == 0 ? "../.." : "..";
  char script[1024];
  const int n = std::snprintf(
      script, sizeof script,
      "#!/bin/sh\n"
      "# Stand-in for the device's %s: records its name and arguments, runs nothing.\n"
      "case \"$0\" in */*) here=\"${0%%/*}\" ;; *) here=. ;; esac\n"
      "{ printf '%%s' '%s'; for a in \"$@\"; do printf ' %%s' \"$a\"; done; printf '\\n'; } \\\n"
      "  >>\"$here/%s/var/log/programs.log\"\n",
      device_path, name, up);
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755);
  if (fd < 0) return -1;
  const bool written = write(fd, script, static_cast<std::size_t>(n)) == n;
  const int saved = errno;
  const bool mode_set = fchmod(fd, 0755) == 0;  // whatever the umask took away
  close(fd);
  errno = saved;
  return written && mode_set ? 0 : -1;
}

char g_prefixed[kRootedPathMax] = "";  // the root bin this process last put in front of PATH

}  // namespace

bool names_host_root(const char* dir) {
  std::size_t n = std::strlen(dir);
  while (n > 0 && dir[n - 1] == '/') --n;
  if (n == 0) return true;
  char real[PATH_MAX];
  return realpath(dir, real) != nullptr && std::strcmp(real, "/") == 0;
}

int put_root_bin_first_on_path() {
  if (!has_root()) return 0;
  const RootedPath bin = rooted("/bin");
  const std::size_t bin_len = std::strlen(bin.c_str());
  const char* path = std::getenv("PATH");
  if (path && std::strncmp(path, bin.c_str(), bin_len) == 0 &&
      (path[bin_len] == ':' || path[bin_len] == '\0'))
    return 0;

  char fallback[256] = "/bin:/usr/bin";
  if (!path || !*path) {
    if (confstr(_CS_PATH, fallback, sizeof fallback) == 0) std::strcpy(fallback, "/bin:/usr/bin");
    path = fallback;
  }
  const std::size_t old_len = std::strlen(g_prefixed);
  if (old_len > 0 && std::strncmp(path, g_prefixed, old_len) == 0 && path[old_len] == ':')
    path += old_len + 1;

  const std::size_t size = bin_len + 1 + std::strlen(path) + 1;
  char* value = static_cast<char*>(std::malloc(size));
  if (!value) return -1;
  std::snprintf(value, size, "%s:%s", bin.c_str(), path);
  const int rc = setenv("PATH", value, 1);
  std::free(value);
  if (rc != 0) return -1;
  std::snprintf(g_prefixed, sizeof g_prefixed, "%s", bin.c_str());
  return 0;
}

int prepare_device_root(const char* dir) {
  if (!dir || names_host_root(dir)) {
    std::fprintf(stderr, "prepare_device_root: a root folder other than / is needed\n");
    return -1;
  }
  if (!shell_safe(dir)) {
    std::fprintf(stderr, "prepare_device_root: %s: only letters, digits and /._-+,@%%=: please\n",
                 dir);
    return -1;
  }
  if (make_folders(dir) != 0) return fail(dir);
  char real[PATH_MAX];
  if (!realpath(dir, real)) return fail(dir);
  if (std::strcmp(real, "/") == 0 || !shell_safe(real) || set_root(real) != 0) {
    std::fprintf(stderr, "prepare_device_root: %s: not usable as a root\n", real);
    return -1;
  }

  for (const char* folder : kFolders) {
    const RootedPath path = rooted(folder);
    if (make_folders(path.c_str()) != 0) return fail(path.c_str());
  }
  for (const StandIn& s : kStandIns)
    if (write_stand_in(s.path) != 0) return fail(rooted(s.path).c_str());

  const RootedPath resolv = rooted("/etc/resolv.conf");
  if (!exists(resolv.c_str()) && symlink("/etc/resolv.conf", resolv.c_str()) != 0)
    return fail(resolv.c_str());

  if (put_root_bin_first_on_path() != 0) return fail("PATH");
  if (chdir(real) != 0) return fail(real);
  return 0;
}

bool device_build() {
#ifdef STATION_DEVICE_BUILD
  return true;
#else
  return false;
#endif
}

int refuse_pc_without_root(const char* root) {
  if (device_build()) return 0;
  return !root || names_host_root(root) ? -1 : 0;
}
