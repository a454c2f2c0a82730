#!/usr/bin/env bash
# Configures and builds the suite (Windows, mingw-w64).
#   scripts/build.sh [i686|x86_64]   i686 (the default) is the product, the 32-bit build, in build/
#                                    (or $BUILD_DIR); x86_64 the 64-bit test build in build64/ (or
#                                    $BUILD64_DIR)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/arch.sh"
arch=${1:-i686}
case $arch in
  i686) toolchain=mingw32-toolchain.cmake ;;
  x86_64) toolchain=mingw64-toolchain.cmake ;;
  *) echo "build.sh: the architecture is i686 or x86_64, not '$arch'" >&2; exit 2 ;;
esac
build=$(suite_build_dir "$arch")
# Configure every time: a folder that gained its CMakeLists.txt since the last build joins then.
# The trees built here are the ones the tests and the demo run: with the crash guard.
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain" -DSUITE_CRASH_GUARD=ON >/dev/null
cmake --build "$build" -j"$(nproc)" -- --no-print-directory
