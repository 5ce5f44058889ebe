#!/usr/bin/env bash
# Installs what is needed, builds oscnet and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_EXAMPLES=ON >/dev/null
cmake --build build --parallel "$(nproc)" --target hello_oscnet
./build/examples/hello_oscnet
