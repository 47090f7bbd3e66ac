#include "bench_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/device_root.h"
#include "platform/i2c_port.h"
#include "platform/root.h"
#include "storage/defaults.h"
#include "storage/manufacturing_image.h"
#include "storage/station_ini.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "bench: %s\n", what);
  std::exit(2);
}

std::string root_dir_name;

void remove_root() {
  std::error_code ignored;
  if (!root_dir_name.empty()) std::filesystem::remove_all(root_dir_name, ignored);
}

// Sections of other programs of the device, put ahead of the port sections until the text
// is exactly `size` bytes long.
std::string padded(const std::string& text, size_t size) {
  const size_t at = text.find("[COM1]");
  if (at == std::string::npos) fail("the default export has no [COM1]");
  std::string pad;
  char line[64];
  for (int s = 0; text.size() + pad.size() + 400 < size; ++s) {
    std::snprintf(line, sizeof line, "[APP%03d]\n", s);
    pad += line;
    for (int k = 0; k < 10; ++k) {
      std::snprintf(line, sizeof line, "app_option_%02d=value %d of section %d\n", k, k, s);
      pad += line;
    }
    pad += "\n";
  }
  // Comment lines fill the rest to the byte (short ones: inih's lines hold 200 bytes).
  for (size_t left; (left = size - text.size() - pad.size()) > 0;) {
    const size_t n = left > 80 ? 60 : left;
    pad += ";" + std::string(n - 2, '-') + "\n";
  }
  return text.substr(0, at) + pad + text.substr(at);
}

BenchFiles make_files() {
  BenchFiles f;
  char dir[] = "/tmp/station-bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) fail("cannot make a scratch folder");
  root_dir_name = dir;
  std::atexit(remove_root);
  f.root = dir;
  if (prepare_device_root(dir) != 0) fail("cannot prepare the device root");
  set_i2c_pause([](unsigned) {});

  // The export prints its check lines; the benchmark's own output stays a table.
  std::fflush(stdout);
  const int saved = dup(1), null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  if (write_manufacturing_image(rooted("/dev/i2c-0").c_str()) != 0)
    fail("cannot write the manufacturing image");
  factory_initialize();
  load_default_settings();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(null);

  f.text[0] = bench_read(rooted(kStationIniPath).c_str());
  if (f.text[0].find(kBenchKey) == std::string::npos) fail("the default export is incomplete");
  f.text[1] = padded(f.text[0], 16 * 1024);
  f.text[2] = padded(f.text[0], 60 * 1024);
  std::filesystem::create_directories(f.root + "/bench");
  for (int i = 0; i < kBenchFileCount; ++i) {
    f.path[i] = f.root + "/bench/" + kBenchFileNames[i] + ".ini";
    bench_write(f.path[i], f.text[i]);
  }
  return f;
}

}  // namespace

const BenchFiles& bench_files() {
  static const BenchFiles files = make_files();
  return files;
}

std::string bench_copy(int index, const char* name) {
  const BenchFiles& f = bench_files();
  const std::string path = f.root + "/bench/" + kBenchFileNames[index] + "-" + name + ".ini";
  bench_write(path, f.text[index]);
  return path;
}

std::string bench_read(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return text;
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, n);
  close(fd);
  return text;
}

void bench_write(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    fail("cannot write a benchmark file");
  close(fd);
}
