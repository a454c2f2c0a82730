#!/usr/bin/env bash
# Installs what the suite needs to build and test on Debian: the mingw-w64 cross compilers (the
# 32-bit product and the 64-bit test build), Wine, GoogleTest sources, CMake, Python for the
# port-pair relay, Xvfb for screenshots, clang with its sanitizer and libFuzzer runtimes for the
# native checks, and the locale sources (a German system is one of the start-up tests).
#
# wine64 and the x86_64 compiler are always installed: the 64-bit build is what runs the Wine suite
# on a machine that cannot run 32-bit programs, and is built and partly run everywhere else so that
# it cannot rot. Wine's 32-bit half (wine32:i386, with the i386 architecture) is installed only
# where the machine runs 32-bit x86 programs; elsewhere it could not start anyway.
# Quiet and quick when everything is already there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/arch.sh"

packages=(
  cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 libwine-dev googletest python3 xvfb x11-apps imagemagick locales
  clang libclang-rt-14-dev
)
i386=
if suite_runs_i386; then
  i386=1
  packages+=(wine32:i386)
fi

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]} ..."
if [ -n "$i386" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
