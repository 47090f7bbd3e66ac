// One key read and one key write of station.ini: the INI library against the floor (the
// file I/O the call cannot avoid) and against two well-kept INI libraries, inih and
// iniparser, on the default export and the same padded to 16 KB and 60 KB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bench_files.h"
#include "bench_suite.h"
#include "storage/inifile.h"

#ifdef STATION_BENCH_INIH
#include <ini.h>
#endif
#ifdef STATION_BENCH_INIPARSER
#include <iniparser/iniparser.h>
#endif

namespace {
char floor_buffer[kIniBufferSize];
}  // namespace

int floor_read(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int length = 0;
  for (ssize_t n; (n = read(fd, floor_buffer + length, kIniBufferSize - 1 - length)) > 0;)
    length += static_cast<int>(n);
  close(fd);
  return length;
}

int floor_write(const char* path) {
  const int length = floor_read(path);
  const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0 || write(fd, floor_buffer, length) != length) return -1;
  return close(fd);
}

namespace {

void read_floor(benchmark::State& state, int file) {
  const char* path = bench_files().path[file].c_str();
  const int want = static_cast<int>(bench_files().text[file].size());
  time_calls(state, [&] { return floor_read(path) == want; });
}

void read_string(benchmark::State& state, int file) {
  const char* path = bench_files().path[file].c_str();
  char value[32];
  time_calls(state, [&] {
    return read_profile_string(kBenchSection, kBenchKey, value, sizeof value, nullptr, path) == 1 &&
           std::strcmp(value, kBenchValue) == 0;
  });
}

void read_int(benchmark::State& state, int file) {
  const char* path = bench_files().path[file].c_str();
  time_calls(state, [&] { return read_profile_int(kBenchSection, kBenchKey, 0, path) == 9600; });
}

#ifdef STATION_BENCH_INIH
struct InihLookup {
  char value[32];
  bool found;
};
// Stops the parse at the key: a handler result of 0 ends it once stop-on-first-error is set.
int inih_handler(void* user, const char* section, const char* name, const char* value) {
  auto* lookup = static_cast<InihLookup*>(user);
  if (std::strcmp(section, kBenchSection) != 0 || std::strcmp(name, kBenchKey) != 0) return 1;
  std::strncpy(lookup->value, value, sizeof lookup->value - 1);
  lookup->value[sizeof lookup->value - 1] = '\0';
  lookup->found = true;
  return 0;
}

void read_inih(benchmark::State& state, int file) {
  const char* path = bench_files().path[file].c_str();
  ini_stop_on_first_error = true;
  InihLookup lookup{};
  time_calls(state, [&] {
    lookup.found = false;
    ini_parse(path, inih_handler, &lookup);
    return lookup.found && std::strcmp(lookup.value, kBenchValue) == 0;
  });
}
#endif

#ifdef STATION_BENCH_INIPARSER
const std::string kIniparserKey = std::string(kBenchSection) + ":" + kBenchKey;

void read_iniparser(benchmark::State& state, int file) {
  const char* path = bench_files().path[file].c_str();
  char value[32] = "";
  time_calls(state, [&] {
    dictionary* d = iniparser_load(path);
    const char* got = d ? iniparser_getstring(d, kIniparserKey.c_str(), nullptr) : nullptr;
    std::strncpy(value, got ? got : "", sizeof value - 1);
    iniparser_freedict(d);
    return std::strcmp(value, kBenchValue) == 0;
  });
}

void write_iniparser(benchmark::State& state, int file) {
  const std::string path = bench_copy(file, "iniparser");
  int i = 0;
  time_calls(state, [&] {
    dictionary* d = iniparser_load(path.c_str());
    bool ok = d && iniparser_set(d, kIniparserKey.c_str(), ++i % 2 ? "4800" : "9600") == 0;
    FILE* out = std::fopen(path.c_str(), "w");
    ok = ok && out;
    if (out) {
      iniparser_dump_ini(d, out);
      std::fclose(out);
    }
    iniparser_freedict(d);
    return ok;
  });
}
#endif

void write_floor(benchmark::State& state, int file) {
  const std::string path = bench_copy(file, "floor");
  time_calls(state, [&] { return floor_write(path.c_str()) == 0; });
}

void write_string(benchmark::State& state, int file) {
  const std::string path = bench_copy(file, "inifile");
  int i = 0;
  time_calls(state, [&] {
    return write_profile_string(kBenchSection, kBenchKey, ++i % 2 ? "4800" : "9600",
                                path.c_str()) == 1;
  });
  if (bench_read(path).size() != bench_files().text[file].size())
    state.SkipWithError("the file changed its size");
}

}  // namespace

void register_ini_benchmarks() {
  for (int f = 0; f < kBenchFileCount; ++f) {
    const std::string size = kBenchFileNames[f];
    bench_register("key read/" + size + "/floor", read_floor, f);
    bench_register("key read/" + size + "/read_profile_string", read_string, f);
    bench_register("key read/" + size + "/read_profile_int", read_int, f);
    for (const char* ours : {"read_profile_string", "read_profile_int"})
      bench_target("key read/" + size + "/" + ours, {{"key read/" + size + "/floor", 1}}, 1.5);
#ifdef STATION_BENCH_INIH
    bench_register("key read/" + size + "/inih", read_inih, f);
    for (const char* ours : {"read_profile_string", "read_profile_int"})
      bench_target("key read/" + size + "/" + ours, {{"key read/" + size + "/inih", 1}}, 1.0);
#endif
#ifdef STATION_BENCH_INIPARSER
    bench_register("key read/" + size + "/iniparser", read_iniparser, f);
#endif
  }
  for (int f = 0; f < kBenchFileCount; ++f) {
    const std::string size = kBenchFileNames[f];
    bench_register("key write/" + size + "/floor", write_floor, f);
    bench_register("key write/" + size + "/write_profile_string", write_string, f);
    bench_target("key write/" + size + "/write_profile_string",
                 {{"key write/" + size + "/floor", 1}}, 1.5);
#ifdef STATION_BENCH_INIPARSER
    bench_register("key write/" + size + "/iniparser", write_iniparser, f);
#endif
  }
}
