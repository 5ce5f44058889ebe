#!/usr/bin/env bash
# Builds the library and its thread tests with ThreadSanitizer and runs those tests (every ctest
# test whose name contains "Thread"); the first race reported fails the run.
# Usage: scripts/check-threads.sh [BUILD_DIR] (default build-tsan).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-tsan}
# The executables that hold the thread tests; nothing else is built.
thread_test_targets=(oscnet_core_tests)

echo "configuring a ThreadSanitizer build in $build_dir"
if ! cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSCNET_TSAN=ON \
  -DOSCNET_SANITIZE=OFF -DOSCNET_FUZZ=OFF -DOSCNET_BUILD_TESTS=ON -DOSCNET_BUILD_UNIT_TESTS=ON \
  -DOSCNET_BUILD_BENCHMARKS=OFF -DOSCNET_BUILD_EXAMPLES=OFF -DOSCNET_BUILD_TRAINER=OFF \
  >"$build_dir.configure.log" 2>&1; then
  cat "$build_dir.configure.log" >&2
  echo "check-threads: configuring $build_dir failed" >&2
  exit 1
fi
rm -f "$build_dir.configure.log"
cmake --build "$build_dir" --parallel "$(nproc)" --target "${thread_test_targets[@]}"

# GCC 12's ThreadSanitizer runtime expects the address-space layout of older kernels: where the
# kernel randomises mappings with more bits (vm.mmap_rnd_bits above 28), it stops with "FATAL:
# ThreadSanitizer: unexpected memory mapping". Address-space randomisation is turned off for the
# tests alone when setarch may do so; where it may not, they run as they are.
runner=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  runner=(setarch "$(uname -m)" -R)
else
  echo "check-threads: setarch cannot turn off address randomisation here; running without it"
fi

# halt_on_error: the first race ends the test with a failure, instead of a report at exit.
if ! TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "${runner[@]}" \
  ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -R Thread \
  --parallel "$(nproc)"; then
  echo "check-threads: a thread test failed or ThreadSanitizer reported a race (see above)" >&2
  exit 1
fi
echo "check-threads: no race reported"
