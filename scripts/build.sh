#!/usr/bin/env bash
# Configures and builds Tarnwick into ./build (Ninja, ccache when present).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TWK_BUILD_DIR:-$here/build}"
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$here"
  export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
  export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-10G}"
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
fi
jobs="$(nproc)"
cmake --build "$build" -j "$jobs"
