#!/usr/bin/env bash
# Installs what is needed, builds oscnet and runs the whole test suite twice: as released, and
# instrumented with AddressSanitizer (with leak checks) and UndefinedBehaviorSanitizer. Then
# checks the installed package, the 32-bit x86 Linux build (natively, or under qemu-i386 where
# the kernel cannot run 32-bit programs), the Windows DLLs and, under ThreadSanitizer, the thread
# tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)

# Starts a stage: prints its title and how long the previous stage took.
stage_title="" stage_start=$SECONDS
stage() {
  if [[ -n $stage_title ]]; then echo "-- $stage_title: $((SECONDS - stage_start)) s"; fi
  stage_title=$1 stage_start=$SECONDS
  echo "== $1"
}

stage "release build"
# Options are set explicitly so that a cache left by a hand-made build cannot skip the tests.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_TESTS=ON \
  -DOSCNET_BUILD_UNIT_TESTS=ON -DOSCNET_BUILD_EXAMPLES=ON -DOSCNET_BUILD_TRAINER=ON \
  -DOSCNET_BUILD_BENCHMARKS=ON -DOSCNET_SANITIZE=OFF >/dev/null
cmake --build build --parallel "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error --parallel "$jobs"

stage "sanitizer build (address, undefined)"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DOSCNET_BUILD_TESTS=ON -DOSCNET_SANITIZE=ON \
  -DOSCNET_BUILD_BENCHMARKS=OFF \
  >/dev/null
cmake --build build-sanitize --parallel "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure --no-tests=error --parallel "$jobs"

stage "install check (CMake package, pkg-config, soname chain)"
bash scripts/check-install.sh build

stage "Python package installed with pip (fresh virtual environments, offline)"
bash scripts/check-python-package.sh build

stage "README commands, as printed, in a scratch copy of the repository"
bash scripts/check-readme.sh

stage "32-bit x86 Linux build (C hosts and oscnet-train on the real 32-bit library)"
source scripts/i686-runner.sh
i686_mode=$(i686_run_mode)
if [[ $i686_mode == native ]]; then
  echo "32-bit programs run natively on this kernel"
  i686_emulator=""
else
  # The kernel refuses 32-bit programs ("Exec format error"): ctest runs them under qemu-i386.
  i686_emulator=$(i686_emulator_list)
  echo "32-bit programs run under qemu-i386 (the kernel cannot run them, or OSCNET_I686_RUN=qemu)"
  echo "skipped under qemu-i386, with their reasons: the hosts' address-space and data-segment limit checks"
fi
# GoogleTest from Debian is 64-bit only: the C hosts carry the 32-bit checks.
cmake -S . -B build-i686 --no-warn-unused-cli --toolchain cmake/toolchains/linux-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_TESTS=ON -DOSCNET_BUILD_UNIT_TESTS=OFF \
  -DOSCNET_BUILD_EXAMPLES=OFF -DOSCNET_BUILD_BENCHMARKS=OFF -DOSCNET_SANITIZE=OFF \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$i686_emulator" >/dev/null
cmake --build build-i686 --parallel "$jobs"
for library in build-i686/liboscnet.so*; do
  if ! file -L "$library" | grep -q "ELF 32-bit.*Intel 80386"; then
    echo "not a 32-bit x86 library: $(file -L "$library")" >&2
    exit 1
  fi
done
ctest --test-dir build-i686 --output-on-failure --no-tests=error --parallel "$jobs"

stage "Windows DLLs: 32-bit checked statically, 64-bit checked and run under wine64"
bash scripts/check-windows-dll.sh i686 build-mingw
bash scripts/run-windows-host-under-wine64.sh build-mingw64

stage "ThreadSanitizer: networks on several threads, the default network shared between them"
bash scripts/check-threads.sh build-tsan

stage "fuzzing the exported functions (libFuzzer, 60 s)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSCNET_FUZZ=ON >/dev/null
cmake --build build-fuzz --parallel "$jobs"
# libFuzzer adds to its first corpus directory and drops crash inputs where it is told: both go
# to scratch space, never into the repository.
fuzz_dir=$(mktemp -d)
mkdir "$fuzz_dir/corpus"
cp tests/fuzz/corpus/* "$fuzz_dir/corpus"
if ! build-fuzz/tests/fuzz/oscnet_call_fuzzer "$fuzz_dir/corpus" -max_total_time=60 \
  -print_final_stats=1 -artifact_prefix="$fuzz_dir/" >"$fuzz_dir/log" 2>&1; then
  tail -n 40 "$fuzz_dir/log" >&2
  echo "fuzzer failed; the failing input is in $fuzz_dir" >&2
  exit 1
fi
grep -E '^(Done|stat::(average_exec_per_sec|new_units_added|peak_rss_mb))' "$fuzz_dir/log"
rm -rf "$fuzz_dir"

stage "fuzzing the trainer's readers (libFuzzer, 30 s each, two at a time)"
bash scripts/fuzz-trainer-readers.sh build-fuzz 30

stage "soak (release build): 300000 cycles, resident memory must stay flat"
build/bench/oscnet_soak 1 --cycles 300000
stage "all stages passed in $SECONDS s"
