#!/usr/bin/env bash
# Runs the benchmarks: the Google Benchmark suite, then the agent's whole
# cycle beside the physical floor (same reads, statvfs calls and datagram,
# no parsing), in the same run, with their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cycles=${CYCLES:-10000}
"$build_dir"/bench/vorn_bench_report
floor_src=${FLOOR_SRC:-../shared/bench/floor.c}
agent=$("$build_dir"/bench/vorn-cycle "$cycles")
echo "agent: $agent"
if [ -f "$floor_src" ]; then
  gcc -O2 -Wall -o "$build_dir"/floor "$floor_src"
  floor=$("$build_dir"/floor "$cycles")
  echo "floor: $floor"
  a=$(sed -n 's/.*cpu_us_per_cycle=\([0-9.]*\).*/\1/p' <<<"$agent")
  f=$(sed -n 's/.*cpu_us_per_cycle=\([0-9.]*\).*/\1/p' <<<"$floor")
  awk -v a="$a" -v f="$f" 'BEGIN { printf "ratio agent/floor = %.2f\n", a / f }'
fi
