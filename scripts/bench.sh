#!/bin/sh
# Benchmarks and footprint of the daemon: one key read and write of station.ini against the
# floor (the file I/O itself), inih and iniparser; the port table load and the dispatcher in
# process; round trips to the simulator over loopback against a TCP echo server; then the
# sizes, heap and resident memory (bench/footprint). Prints tables with ratios and targets;
# every run is also kept in build/bench.json. Arguments go to Google Benchmark (for example
# --benchmark_filter=key); REPETITIONS (default 15) sets the repetitions behind each median: many
# short ones, in random order, so that a burst of other work on the machine moves a few of
# them and not the median.
#
# Runs in a private IPC and network namespace with loopback up, so that the simulator's
# change notices, its port and the echo server stay there. Needs root (apt-get, unshare).
# The benchmarks, the simulator and the echo server share one CPU (the last one this script
# may use), as the daemon shares the device's single core: a round trip then does not wait
# for the other CPU to wake up, and the figures stop depending on where each process lands.
set -eu
cd "$(dirname "$0")/.."
# The peers are needed here only, so they are installed here and not for CI: the INI
# libraries, and socat and ser2net for the forwarder (their services are kept from starting).
sh scripts/install-deps.sh libinih-dev libiniparser-dev socat ser2net >&2
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target station_bench stationd-sim stationfwd stationtool floor_relay \
  >/dev/null

cpu=$(awk '/^Cpus_allowed_list/ { print $2 }' /proc/self/status | sed 's/.*[-,]//')
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "$(uname -sr); benchmarks on CPU $cpu"
# shellcheck disable=SC2016
exec unshare --ipc --net sh -c '
  set -eu
  cpu=$1
  shift
  ip link set lo up
  taskset -c "$cpu" build/host/bin/station_bench --sim=build/host/bin/stationd-sim \
    --benchmark_repetitions="${REPETITIONS:-15}" --benchmark_min_time=0.2 \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$PWD/build/bench.json" "$@"
  sh bench/footprint
  /usr/bin/python3 bench/forward_bench.py build/host/bin "$cpu"
' sh "$cpu" "$@"
