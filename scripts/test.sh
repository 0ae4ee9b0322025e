#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (ctest).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
build="${TWK_BUILD_DIR:-$here/build}"
export QT_QPA_PLATFORM=offscreen
export OPENBLAS_NUM_THREADS=1
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
