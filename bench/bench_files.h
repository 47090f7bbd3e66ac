// The files every benchmark works on: a device root in a scratch folder whose station.ini is
// the one the default export writes (after factory initialisation of a unit fresh from
// manufacturing), and copies of that file padded to 16 KB and 60 KB.
#pragma once

#include <string>

// The three station.ini texts the key benchmarks run on, in the order of kBenchFileNames.
constexpr int kBenchFileCount = 3;
inline constexpr const char* kBenchFileNames[kBenchFileCount] = {"default", "16K", "60K"};

// The key every read and write benchmark looks up. The padding goes ahead of the port
// sections, so the search passes through all of it before it reaches this key.
inline constexpr char kBenchSection[] = "COM2";
inline constexpr char kBenchKey[] = "com_baud_rate";
inline constexpr char kBenchValue[] = "9600";

struct BenchFiles {
  std::string root;                   // the device root (the process's root and cwd)
  std::string text[kBenchFileCount];  // each file's text
  std::string path[kBenchFileCount];  // a pristine copy of each, never written
};

// Prepares the root on first use (a second or so, with the EEPROM's write pause made
// instant); the root is removed at exit. Stops the process when the root cannot be made.
const BenchFiles& bench_files();

// A fresh copy of file `index` under the root, for a benchmark that rewrites it.
std::string bench_copy(int index, const char* name);

// Whole-file helpers.
std::string bench_read(const std::string& path);
void bench_write(const std::string& path, const std::string& text);
