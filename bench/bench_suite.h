// The benchmark suite's registry and report: each benchmark is named "group/label", and the
// report prints one table per group with each label's fastest repetition, its ratio to the
// group's first entry (the floor) and the median, then each target with the figures it is
// checked on.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

using BenchFunction = void (*)(benchmark::State&, int);

// How a benchmark is timed. kCpu: Google Benchmark's own timing of many calls in a row, in
// the process's CPU time (kernel time included), for work done in this process; a busy
// machine's waits for a CPU or for the disk's journal are not counted. kWall: fn times
// itself with time_steps, for round trips that wait for another process.
enum class Clock { kCpu, kWall };

// Registers fn(state, arg) under "group/label".
void bench_register(const std::string& name, BenchFunction fn, int arg, Clock clock = Clock::kCpu);

// kCpu: runs step once per iteration; `after` runs untimed after each step (work that
// belongs to another program). A step returns false when its result is wrong.
template <typename Step, typename After>
void time_calls(benchmark::State& state, Step step, After after) {
  for (auto _ : state) {
    const bool ok = step();
    state.PauseTiming();
    after();
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError("wrong result");
      break;
    }
  }
}

template <typename Step>
void time_calls(benchmark::State& state, Step step) {
  for (auto _ : state)
    if (!step()) {
      state.SkipWithError("wrong result");
      break;
    }
}

// kWall: each iteration times a batch of steps one by one and counts the batch's median.
// On a shared machine a round trip now and then waits for a CPU, which says nothing about
// either side; the median of a batch leaves those out on every side alike.
constexpr int kBenchBatch = 15;

template <typename Step, typename After>
void time_steps(benchmark::State& state, Step step, After after) {
  double times[kBenchBatch];
  for (auto _ : state) {
    for (double& t : times) {
      const auto start = std::chrono::steady_clock::now();
      const bool ok = step();
      t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      after();
      if (!ok) {
        state.SkipWithError("wrong result or no reply");
        return;
      }
    }
    std::nth_element(times, times + kBenchBatch / 2, times + kBenchBatch);
    state.SetIterationTime(times[kBenchBatch / 2]);
  }
}

template <typename Step>
void time_steps(benchmark::State& state, Step step) {
  time_steps(state, step, [] {});
}

// A target: the fastest repetition of `measured` takes at most `limit` times the sum of the
// reference terms, each a benchmark's fastest repetition times a count.
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
