#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick and starts the workstation.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
build="${TWK_BUILD_DIR:-$here/build}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display to show the workstation on: set DISPLAY (or run it under xvfb-run)." >&2
  exit 1
fi
exec "$build/bin/tarnwick" "$@"
