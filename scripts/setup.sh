#!/usr/bin/env bash
# Installs what the suite needs to build and test on Debian: the mingw-w64 cross compiler, Wine
# (32-bit), GoogleTest sources, CMake, Python for the port-pair relay, Xvfb for screenshots, and
# clang with its sanitizer and libFuzzer runtimes for the native checks, and the locale sources
# (a German system is one of the start-up tests).
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  cmake make g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386 libwine-dev googletest python3 xvfb x11-apps imagemagick locales
  clang libclang-rt-14-dev
)

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]} ..."
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
