#!/usr/bin/env bash
# Runs the fuzzers of oscnet-train's readers (CSV data, JSON, weights files, options) for
# SECONDS each, two at a time, from scratch copies of their seeds; nothing is written into the
# repository. Builds them first in BUILD_DIR, which must be configured with -DOSCNET_FUZZ=ON.
#
#   scripts/fuzz-trainer-readers.sh [BUILD_DIR] [SECONDS]     (default build-fuzz, 30)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-fuzz}
seconds=${2:-30}
if [[ ! $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz-trainer-readers.sh: SECONDS must be a whole number above 0, not '$seconds'" >&2
  exit 2
fi
if [[ ! -f $build_dir/CMakeCache.txt ]] ||
  ! grep -q '^OSCNET_FUZZ:BOOL=ON$' "$build_dir/CMakeCache.txt"; then
  echo "fuzz-trainer-readers.sh: $build_dir is not a build configured with -DOSCNET_FUZZ=ON" \
    "(CC=clang-14 CXX=clang++-14 cmake -S . -B $build_dir -DOSCNET_FUZZ=ON)" >&2
  exit 2
fi

source_dir=tests/fuzz/trainer
# Each reader with the longest input it is given: data and weights files long enough for many
# rows and params, a command line of a few dozen words.
readers=(csv_reader json weights_file options)
declare -A max_len=([csv_reader]=8192 [json]=8192 [weights_file]=8192 [options]=1024)

targets=()
for reader in "${readers[@]}"; do targets+=("${reader}_fuzzer"); done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! cmake --build "$build_dir" --parallel 2 --target "${targets[@]}" >"$scratch/build.log" 2>&1; then
  cat "$scratch/build.log" >&2
  echo "fuzz-trainer-readers.sh: building the fuzzers in $build_dir failed" >&2
  exit 1
fi

start() {
  local reader=$1 dir=$scratch/$1
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp "$source_dir/corpus-$reader"/* "$dir/corpus"
  # A hang shows as a timeout and a memory blow-up as an rss or malloc limit: both fail the run.
  "$build_dir/tests/fuzz/trainer/${reader}_fuzzer" "$dir/corpus" -max_total_time="$seconds" \
    -max_len="${max_len[$reader]}" -timeout=10 -rss_limit_mb=1024 \
    -dict="$source_dir/$reader.dict" -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/" >"$dir/log" 2>&1 &
  pids[$reader]=$!
}

# Two at a time on two cores: the four take twice SECONDS.
declare -A pids
failed=()
for pair in "csv_reader json" "weights_file options"; do
  for reader in $pair; do start "$reader"; done
  for reader in $pair; do
    if ! wait "${pids[$reader]}"; then failed+=("$reader"); fi
  done
done

for reader in "${readers[@]}"; do
  echo "-- ${reader}_fuzzer"
  grep -E '^(Done|stat::(average_exec_per_sec|new_units_added|peak_rss_mb))|(INITED|DONE) +cov:' \
    "$scratch/$reader/log" || true
done
if ((${#failed[@]} > 0)); then
  keep=$(mktemp -d)
  for reader in "${failed[@]}"; do
    cp -r "$scratch/$reader" "$keep/$reader"
    echo "== ${reader}_fuzzer failed; the end of its log:" >&2
    tail -n 40 "$keep/$reader/log" >&2
    echo "the failing input is in $keep/$reader/artifacts (log: $keep/$reader/log)" >&2
  done
  exit 1
fi
