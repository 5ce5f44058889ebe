#!/usr/bin/env bash
# Builds the benchmarks and prints oscnet against FANN and the fused floor, network handles against
# the default network, two networks on two threads against one, and 1000 rows predicted at once
# against one per call: medians and ratios of one run.
# Usage: scripts/bench.sh [repetitions] [BUILD_DIR] (defaults 5 and build). Run it on an
# otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-5}
build_dir=${2:-build}
if ! [[ $repetitions =~ ^[1-9][0-9]*$ ]]; then
  echo "bench.sh: repetitions must be a positive number, not '$repetitions'" >&2
  exit 1
fi
bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target oscnet_bench oscnet_lee_bench

report=$(mktemp)
trap 'rm -f "$report"' EXIT
# Repetitions run in random order, so that a load that comes and goes on a shared machine falls
# on every benchmark alike instead of on those that happen to run at the time.
"$build_dir"/bench/oscnet_bench --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$report"
python3 bench/ratio_table.py "$report"
echo
"$build_dir"/bench/oscnet_lee_bench --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median|Benchmark"
