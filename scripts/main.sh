#!/usr/bin/env bash
# The main job: installs what is missing, builds, and grades a sample frame
# with a sample LUT, both generated here, through the effect on the GPU: the
# host loads the effect module, chooses the LUT, renders the frame on a
# headless OpenGL context (no display needed), saves the project, and a second
# host process reopens it and renders the same frame again. Last, the LUT
# Manager window over a folder of sample looks, photographed on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target quillane-cpu-preview quillane-host quillane_effect \
  quillane-gallery-screenshot
mkdir -p out
# The sample frame and LUT (and the CPU's grading of it, for comparison).
build/release/host/quillane-cpu-preview out >/dev/null
# The shared exchange files go to a folder of this run, not the system's.
export QUILLANE_EXCHANGE_DIR="$PWD/out/exchange"
mkdir -p "$QUILLANE_EXCHANGE_DIR"
build/release/host/quillane-host choose-file out/sample-look.cube \
  render out/sample-frame.png out/sample-gpu-graded.png save out/sample-project.json
build/release/host/quillane-host open out/sample-project.json \
  render out/sample-frame.png out/sample-gpu-reopened.png
if cmp -s out/sample-gpu-graded.png out/sample-gpu-reopened.png; then
  reopened="renders the same"
else
  reopened="renders DIFFERENTLY"
fi
# The LUT Manager window over a folder of sample looks, on a virtual display
# (an earlier run's picture must not pass for this one's).
rm -f out/gallery-screenshot.png
xvfb-run -a -s "-screen 0 1280x800x24" build/release/gallery/quillane-gallery-screenshot \
  out/gallery-screenshot.png >/dev/null 2>&1 || echo "(no LUT Manager screenshot: the window could not open)"
echo "Sample frame:        $PWD/out/sample-frame.png"
echo "Sample LUT:          $PWD/out/sample-look.cube"
echo "Graded on the GPU:   $PWD/out/sample-gpu-graded.png"
echo "Project:             $PWD/out/sample-project.json (reopened, it $reopened)"
echo "CPU grading:         $PWD/out/sample-graded.png"
[ -f out/gallery-screenshot.png ] && echo "LUT Manager:         $PWD/out/gallery-screenshot.png"
true
