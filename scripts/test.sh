#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Wine suite, then the native build of the
# portable code with AddressSanitizer and UndefinedBehaviorSanitizer, then (for the whole suite only)
# a short fuzz run of every decoder: FUZZ_SECONDS per target, default 30, 0 skips.
#   scripts/test.sh [ctest arguments...]     e.g. scripts/test.sh -R harness (no fuzzing)
#
# Both Windows builds are always built: the 32-bit product (build/) and the 64-bit test build
# (build64/). The Wine suite runs on the 32-bit build where the machine runs 32-bit programs, and on
# the 64-bit build under wine64 where it cannot; TEST_ARCH=i686 or TEST_ARCH=x86_64 forces one.
# Where the 32-bit suite ran for a whole run (no ctest arguments, no TEST_ARCH), the 64-bit build's
# ISDN cases (common, msgcore, portbridge and its chain) run under wine64 as well.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/arch.sh"
suite_choose_arch
if [ "$SUITE_ARCH" = x86_64 ]; then
  echo "test.sh: the Wine suite runs on the 64-bit build under wine64: $SUITE_ARCH_WHY"
else
  echo "test.sh: the Wine suite runs on the 32-bit build: $SUITE_ARCH_WHY"
fi
"$top/scripts/setup.sh"
"$top/scripts/build.sh" i686
"$top/scripts/build.sh" x86_64

# ctest in one build tree; the fixture ends the session's wineserver, and this makes sure of it
# even when ctest was interrupted.
wine_suite() {
  local build=$1; shift
  local rc=0
  # ctest lists the cases of every test program (through Wine) before it runs any, and one program
  # that fails to list them ends the whole run: list them first, once more if that failed (the
  # first Wine start of a fresh tree has failed so once under wine64; a listing that worked is kept).
  (cd "$build" && ctest -N "$@" >/dev/null 2>&1) || {
    echo "test.sh: listing the cases of $build failed once; again"
    (cd "$build" && ctest -N "$@" >/dev/null) || true
  }
  (cd "$build" && ctest -j"$(nproc)" --output-on-failure --timeout 300 "$@") || rc=$?
  "$top/testing/wine/session" stop "$build/wine" || true
  return $rc
}

status=0
wine_suite "$(suite_build_dir "$SUITE_ARCH")" "$@" || status=$?
if [ "$SUITE_ARCH" = i686 ] && [ -z "${TEST_ARCH:-}" ] && [ $# -eq 0 ]; then
  echo "test.sh: the 64-bit build's ISDN cases under wine64"
  wine_suite "$(suite_build_dir x86_64)" -L '^(common|msgcore|portbridge)$' || status=$?
fi

native=${NATIVE_BUILD_DIR:-$top/build-native}
cmake -S "$top/native" -B "$native" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$native" -j"$(nproc)" -- --no-print-directory >/dev/null
(cd "$native" && ctest -j"$(nproc)" --output-on-failure --timeout 300 "$@") || status=$?
if [ $# -eq 0 ] && [ "${FUZZ_SECONDS:-30}" != 0 ]; then
  NATIVE_BUILD_DIR=$native "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-30}" || status=$?
fi
exit $status
