#!/usr/bin/env bash
# Runs a program of the build under Xvfb and saves a PNG of the screen, for people (no test looks
# at pixels).
#
#   testing/screenshot.sh [-v VERSION] [-w SECONDS] [-p PAIRS] OUT.png PROGRAM.exe [ARGS...]
#
# Uses a throw-away copy of the build's Wine prefix with the X11 driver instead of the null one,
# and a server of its own, so it can run beside a test run. VERSION as in the tests (default win98);
# SECONDS to wait before the picture (default 3); PAIRS COM-port pairs for the program, given to it
# in WINETEST_PORTS as in a test (for a program that runs a simulator and drives another one).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
. "$here/wine/common.sh"

version=win98; wait_s=3; pairs=0
while getopts v:w:p: opt; do
  case $opt in v) version=$OPTARG ;; w) wait_s=$OPTARG ;; p) pairs=$OPTARG ;; *) exit 2 ;; esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || winetest_die "usage: screenshot.sh [-v VERSION] [-w SECONDS] OUT.png PROGRAM.exe [ARGS...]"
out=$(realpath -m "$1"); prog=$(realpath "$2"); shift 2

build=${BUILD_DIR:-$top/build}
"$here/wine/session" template "$build/wine"
work=$(mktemp -d)
display=:$((100 + RANDOM % 800))
relays=()
cleanup() {
  for pid in "${relays[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp "$build/wine/arch" "$work/arch" 2>/dev/null || true
winetest_env "$work"
cp -a "$build/wine/template" "$WINEPREFIX"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY=$display
wineserver -p </dev/null >/dev/null 2>&1
"$WINE" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f </dev/null >/dev/null 2>&1 || true
wineserver -k; sleep 0.5
wineserver -p </dev/null >/dev/null 2>&1
"$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1

name=$(basename "$prog" .exe)
"$WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name.exe" /v Version /d "$version" /f </dev/null >/dev/null 2>&1
ports=
for ((i = 0; i < pairs; i++)); do
  n=$((10 + 2 * i))
  python3 "$here/wine/portpair.py" "$WINEPREFIX/dosdevices/com$n" "$WINEPREFIX/dosdevices/com$((n + 1))" \
    "$work/ready.$i" </dev/null >/dev/null 2>&1 &
  relays+=($!)
  for ((t = 0; t < 200; t++)); do [ -f "$work/ready.$i" ] && break; sleep 0.01; done
  ports="${ports:+$ports;}COM$n,COM$((n + 1))"
done
WINETEST_PORTS=$ports "$WINE" "$prog" "$@" </dev/null >/dev/null 2>&1 &
sleep "$wait_s"
import -window root -display "$display" "$out"
echo "screenshot: $out"
