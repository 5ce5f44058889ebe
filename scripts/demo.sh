#!/usr/bin/env bash
# Installs what is needed, builds oscnet and runs its main job, oscnet-train, on the built-in
# Mackey-Glass series. Arguments are passed on to oscnet-train (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --build-only
# The tests and benchmarks need more packages; scripts/test.sh turns them back on.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_TESTS=OFF \
  -DOSCNET_BUILD_BENCHMARKS=OFF -DOSCNET_BUILD_TRAINER=ON >/dev/null
cmake --build build --parallel "$(nproc)" --target oscnet-train
./build/trainer/oscnet-train "$@"
