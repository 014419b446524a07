#!/usr/bin/env bash
# Renders the built-in Cornell box to cornell.png in the repository folder:
# installs whatever is missing, builds the `vitrel` program in Release (the
# build tree build/release is reused on later runs) and renders.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVITREL_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/release -j "$(nproc)" --target vitrel

build/release/cli/vitrel render -o cornell.png
echo "The image is $(pwd)/cornell.png"
