// The benchmark program: registers every benchmark, runs them with Google Benchmark's flags
// (repetitions give the fastest repetition and the median), and prints the tables and targets
// instead of the usual per-run lines; --benchmark_out still writes every run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_suite.h"

namespace {

struct Target {
  std::string measured;
  BenchTerms reference;
  double limit;
};

std::vector<std::string> order;  // registration order of the benchmarks
std::vector<Target> targets;
std::vector<std::string> notes;
FILE* out = stdout;  // the table; the system's own diagnostics go to /dev/null meanwhile

// Each figure is the fastest repetition: on a shared machine other work only ever adds time,
// so the least disturbed repetition comes closest to the cost of the code itself. The median
// is shown beside it.
struct Result {
  double ns = NAN;      // fastest repetition (or the single run) in nanoseconds
  double median = NAN;  // median of the repetitions
  bool wall = false;    // wall-clock (time_steps), else CPU time
  double cv = NAN;      // coefficient of variation across repetitions
  std::string error;
};

double to_ns(double t, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return t;
    case benchmark::kMicrosecond:
      return t * 1e3;
    case benchmark::kMillisecond:
      return t * 1e6;
    case benchmark::kSecond:
      return t * 1e9;
  }
  return t;
}

std::string split_group(const std::string& name, std::string* label) {
  const size_t at = name.rfind('/');
  *label = name.substr(at + 1);
  return name.substr(0, at);
}

std::string format_time(double ns) {
  char text[32];
  if (std::isnan(ns)) return "-";
  if (ns < 1e4)
    std::snprintf(text, sizeof text, "%.0f ns", ns);
  else if (ns < 1e7)
    std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
  else
    std::snprintf(text, sizeof text, "%.1f ms", ns / 1e6);
  return text;
}

class TableReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.run_name.function_name;
      Result& r = results_[name];
      if (run.error_occurred) {
        r.error = run.error_message;
        continue;
      }
      // Manual time (time_steps) is reported as real time.
      r.wall = !run.run_name.time_type.empty();
      const double t =
          to_ns(r.wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime(), run.time_unit);
      if (run.run_type == Run::RT_Iteration) {
        // Repetitions: the figures come as aggregates; a single run stands for itself.
        if (run.repetitions <= 1) r.ns = r.median = t;
        std::fputc('.', stderr);
      } else if (run.aggregate_name == "min") {
        r.ns = t;
      } else if (run.aggregate_name == "median") {
        r.median = t;
      } else if (run.aggregate_name == "cv") {
        r.cv = r.wall ? run.real_accumulated_time : run.cpu_accumulated_time;  // a fraction
      }
    }
  }

  void Finalize() override {
    std::fputc('\n', stderr);
    std::string group, baseline;
    for (const std::string& name : order) {
      if (results_.count(name) == 0) continue;  // filtered out
      std::string label;
      const std::string g = split_group(name, &label);
      const Result& r = results_[name];
      if (g != group) {
        group = g;
        baseline = name;
        std::fprintf(out, "\n%-46s %10s %8s %10s %7s\n",
                     (g + (r.wall ? ", wall-clock" : ", CPU time")).c_str(), "fastest", "ratio",
                     "median", "cv");
      }
      const double base = results_[baseline].ns;
      if (!r.error.empty()) {
        std::fprintf(out, "  %-44s %s\n", label.c_str(), r.error.c_str());
        continue;
      }
      char cv[16] = "";
      if (!std::isnan(r.cv)) std::snprintf(cv, sizeof cv, "%.1f%%", r.cv * 100);
      std::fprintf(out, "  %-44s %10s %8.2f %10s %7s\n", label.c_str(), format_time(r.ns).c_str(),
                   r.ns / base, format_time(r.median).c_str(), cv);
    }
    bool heading = false;
    for (const Target& t : targets) {
      if (results_.count(t.measured) == 0) continue;
      if (!heading) std::fprintf(out, "\ntargets\n");
      heading = true;
      double reference = 0;
      std::string terms;
      for (const auto& [name, count] : t.reference) {
        const double ns = results_[name].ns;
        reference += count * ns;
        char text[200];
        std::snprintf(text, sizeof text, "%s%s%s (%s)", terms.empty() ? "" : " + ",
                      count == 1 ? "" : (std::to_string(static_cast<int>(count)) + " x ").c_str(),
                      name.c_str(), format_time(ns).c_str());
        terms += text;
      }
      const double ratio = results_[t.measured].ns / reference;
      const char* verdict = std::isnan(ratio)  ? "not measured"
                            : ratio <= t.limit ? "met"
                                               : "MISSED";
      std::fprintf(out, "  %-6s %5.2f <= %.2f  %s\n         against %s\n", verdict, ratio, t.limit,
                   t.measured.c_str(), terms.c_str());
    }
    for (const std::string& note : notes) std::fprintf(out, "%s\n", note.c_str());
    std::fflush(out);
  }

 private:
  std::map<std::string, Result> results_;
};

}  // namespace

void bench_register(const std::string& name, BenchFunction fn, int arg, Clock clock) {
  order.push_back(name);
  auto* b = benchmark::RegisterBenchmark(name.c_str(), fn, arg)->Unit(benchmark::kMicrosecond);
  b->ComputeStatistics("min", [](const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
  });
  // The time counted per iteration is one step of a batch of kBenchBatch: half a second of
  // counted time is about kBenchBatch half seconds of running.
  if (clock == Clock::kWall) b->UseManualTime()->MinTime(0.5 / kBenchBatch);
}

void bench_target(const std::string& measured, const BenchTerms& reference, double limit) {
  targets.push_back({measured, reference, limit});
}

void bench_note(const std::string& text) { notes.push_back(text); }

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* sim = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--sim=", 6) == 0) {
      // Absolute: preparing the benchmarks' root changes the working directory.
      sim = realpath(argv[i] + 6, nullptr);
      if (sim == nullptr) {
        std::fprintf(stderr, "%s: no simulator at %s\n", argv[0], argv[i] + 6);
        return 1;
      }
    } else if (std::strncmp(argv[i], "--drive=", 8) == 0) {
      return drive(argv[i] + 8);
    } else {
      std::fprintf(stderr, "%s: unknown argument %s (also: --sim=PATH, --drive=PORT:COUNT)\n",
                   argv[0], argv[i]);
      return 1;
    }
  }
  const BenchFiles& files = bench_files();
  char line[400];
  std::snprintf(line, sizeof line,
                "\nfiles: default export %zu bytes; padded copies %zu and %zu bytes (padding ahead "
                "of the port sections); key [%s] %s",
                files.text[0].size(), files.text[1].size(), files.text[2].size(), kBenchSection,
                kBenchKey);
  bench_note(line);
  std::snprintf(line, sizeof line,
                "times: the fastest repetition (its ratio to the first line of its table) and the "
                "median of the repetitions; CPU time of the process (kernel included) for work in "
                "process, wall-clock median of %d in a row for round trips",
                kBenchBatch);
  bench_note(line);
  // The handlers print their diagnostics on standard output, as the daemon does; the
  // table keeps a descriptor of its own.
  std::fflush(stdout);
  out = fdopen(dup(1), "w");
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  register_ini_benchmarks();
  register_daemon_benchmarks();
  register_tcp_benchmarks(sim);
  TableReporter table;
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  stop_tcp_benchmarks();
  remove_change_queue();
  return 0;
}
