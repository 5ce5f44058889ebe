#!/usr/bin/env bash
# Builds the benchmarks and prints oscnet against FANN and the fused floor, medians and ratios of
# one run. Usage: scripts/bench.sh [repetitions] (default 5). Run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-5}
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build --parallel "$(nproc)" --target oscnet_bench oscnet_lee_bench

report=$(mktemp)
trap 'rm -f "$report"' EXIT
build/bench/oscnet_bench --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$report"
python3 bench/ratio_table.py "$report"
echo
build/bench/oscnet_lee_bench --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median|Benchmark"
