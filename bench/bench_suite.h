// The benchmark suite's registry and report: each benchmark is named "group/label", and the
// report prints one table per group with each label's median time and its ratio to the
// group's first entry (the floor), then each target with the figures it is checked on.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

using BenchFunction = void (*)(benchmark::State&, int);

// Registers fn(state, arg) under "group/label". With manual_time, fn reports each
// iteration's time itself (round trips that wait for another process, in wall-clock time);
// otherwise the process's CPU time is measured.
void bench_register(const std::string& name, BenchFunction fn, int arg, bool manual_time = false);

// A target: the median of `measured` is at most `limit` times the sum of the reference
// terms, each a benchmark's median times a count.
using BenchTerms = std::vector<std::pair<std::string, double>>;
void bench_target(const std::string& measured, const BenchTerms& reference, double limit);

// A line printed under the table (how a figure was obtained).
void bench_note(const std::string& text);

// The floor of station.ini access: open, read the whole file, close; and that read followed
// by the whole file written back in place. Results: bytes read; 0 for a rewrite.
int floor_read(const char* path);
int floor_write(const char* path);

void register_ini_benchmarks();
void register_daemon_benchmarks();
void remove_change_queue();
// Round trips against `sim` (the simulator's path), or the daemon's entry point in a child.
void register_tcp_benchmarks(const char* sim);
void stop_tcp_benchmarks();

// The footprint client: "--drive=PORT:COUNT". Exit status 0 when every reply came.
int drive(const char* port_and_count);
