#!/usr/bin/env bash
# The main job: installs what is missing, builds, and grades a sample frame
# with a sample LUT, both generated here, writing the result as a PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target quillane-cpu-preview
mkdir -p out
build/release/host/quillane-cpu-preview out
