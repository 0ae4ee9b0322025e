#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick and starts the workstation.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
build="${TWK_BUILD_DIR:-$here/build}"
if [ -x "$build/bin/tarnwick" ]; then
  exec "$build/bin/tarnwick" "$@"
else
  echo "Built the libraries in $build; the workstation program is not part of this build yet."
fi
