#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test under Wine.
#   scripts/test.sh [ctest arguments...]     e.g. scripts/test.sh -R harness
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
cd "$build"
status=0
ctest -j"$(nproc)" --output-on-failure --timeout 300 "$@" || status=$?
# The fixture ends the session's wineserver; make sure of it even when ctest was interrupted.
"$top/testing/wine/session" stop "$build/wine" || true
exit $status
