# Shared by the harness scripts: the Wine environment of one build tree.
#   winetest_env ROOT   sets WINEPREFIX and friends for ROOT/prefix, and WINE, the Wine loader to
#                       start programs with
#
# The architecture of the build tree is the one fact the harness takes from the build: CMake writes
# ROOT/arch ("i686" or "x86_64") when it configures. An i686 tree runs in a 32-bit prefix under
# Wine's 32-bit loader; an x86_64 tree in a 64-bit prefix under wine64, which needs no 32-bit
# support from the machine. A root without the file (an older tree) is i686.

winetest_arch() {
  local arch=i686
  [ -f "$1/arch" ] && arch=$(cat "$1/arch")
  case $arch in
    i686|x86_64) echo "$arch" ;;
    *) winetest_die "unknown architecture '$arch' in $1/arch" ;;
  esac
}

winetest_env() {
  WINETEST_ROOT=$1
  WINETEST_ARCH=$(winetest_arch "$WINETEST_ROOT")
  if [ "$WINETEST_ARCH" = x86_64 ]; then
    export WINEARCH=win64
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    # Programs that a program starts are started by this loader too.
    export WINELOADER=$WINE
  else
    export WINEARCH=win32
    WINE=wine
  fi
  export WINEPREFIX=$WINETEST_ROOT/prefix
  export WINEDEBUG=${WINEDEBUG:--all}
  # remover never restarts the machine under the harness: a restart would end the whole session.
  export REMOVER_NO_RESTART=1
  case ",${WINEDLLOVERRIDES:-}," in
    *,mscoree*) ;;
    *) export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}" ;;
  esac
  # Never talk to a display the user happens to have; the prefix uses the null driver anyway.
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$WINETEST_ROOT"
}

# A wineserver that stays for the whole session, and the session's services booted with their
# descriptors on /dev/null (they inherit those of the first Wine process, and a pipe would keep a
# reader such as ctest waiting forever).
# The lock descriptors 8 and 9 of the harness scripts are closed for every Wine process: a server
# or service that inherited one would hold the lock for as long as it lives.
winetest_server_up() {
  wineserver -p </dev/null >/dev/null 2>&1 8>&- 9>&-
  "$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1 8>&- 9>&-
}

winetest_die() { echo "winetest: $*" >&2; exit 1; }
