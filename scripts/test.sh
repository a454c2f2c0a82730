#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Win32 build under Wine, then the native
# build of the portable code with AddressSanitizer and UndefinedBehaviorSanitizer, then (for the
# whole suite only) a short fuzz run of every decoder: FUZZ_SECONDS per target, default 30, 0 skips.
#   scripts/test.sh [ctest arguments...]     e.g. scripts/test.sh -R harness (both builds, no fuzzing)
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

native=${NATIVE_BUILD_DIR:-$top/build-native}
cmake -S "$top/native" -B "$native" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$native" -j"$(nproc)" -- --no-print-directory >/dev/null
(cd "$native" && ctest -j"$(nproc)" --output-on-failure --timeout 300 "$@") || status=$?
if [ $# -eq 0 ] && [ "${FUZZ_SECONDS:-30}" != 0 ]; then
  NATIVE_BUILD_DIR=$native "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-30}" || status=$?
fi
exit $status
