#!/usr/bin/env bash
# Configures and builds the suite (Win32, mingw-w64) in build/ (or $BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
# Configure every time: a folder that gained its CMakeLists.txt since the last build joins then.
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw32-toolchain.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)" -- --no-print-directory
