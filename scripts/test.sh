#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (ctest); a run that finds no test
# fails. A test whose outside tool is missing is skipped and the tool is listed at the end; under
# continuous integration (CI set) it fails instead (tests/support/TestTools.h, scripts/missing-tool.sh).
#   test.sh [--shuffle-repeat] [ctest arguments...]
#   --shuffle-repeat  runs the GoogleTest binaries only, each twice over in fresh random orders
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
shuffleRepeat=0
if [ "${1:-}" = "--shuffle-repeat" ]; then
  shuffleRepeat=1
  shift
fi
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
build="${TWK_BUILD_DIR:-$here/build}"
export QT_QPA_PLATFORM=offscreen
export OPENBLAS_NUM_THREADS=1
cd "$build"
options=(--output-on-failure --no-tests=error -j "$(nproc)")
if [ "$shuffleRepeat" -eq 1 ]; then
  export GTEST_SHUFFLE=1 GTEST_REPEAT=2
  options+=(-L gtest)
fi
report="$(mktemp)"
trap 'rm -f "$report"' EXIT
status=0
ctest "${options[@]}" --output-junit "$report" "$@" || status=$?
missing="$(grep -o 'missing test tool: [^&<]*' "$report" | sed 's/^missing test tool: /  /' | sort -u || true)"
if [ -n "$missing" ]; then
  echo "Tests skipped for a missing tool:"
  echo "$missing"
fi
exit "$status"
