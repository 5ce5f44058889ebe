#!/usr/bin/env bash
# Installs what is needed, builds oscnet and runs its main job, oscnet-train, on the built-in
# Mackey-Glass series. Arguments are passed on to oscnet-train (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --parallel "$(nproc)" --target oscnet-train
./build/trainer/oscnet-train "$@"
