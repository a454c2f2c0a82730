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

# Heap free checking for every program of the build tree: Image File Execution Options GlobalFlag
# 0x70 (tail checking, free checking, parameter checking) makes Wine fill a freed heap block with
# 0xFEEEFEEE, so a use after free reads a pattern that crashes (and the crash guard reports it)
# instead of stale bytes that happen to pass. The key is per program name: every program of the
# tree under its own name and under each per-version name that winerun runs it as.
# winetest_heap_checks   imports the keys into the running prefix (the reg file is made once per
#                        session start and reused by the throw-away prefixes of that session)
winetest_heap_checks() {
  local reg=$WINETEST_ROOT/heapcheck.reg build names name v
  if [ ! -f "$reg" ]; then
    build=$(cd "$WINETEST_ROOT/.." && pwd)
    names=$(find "$build" -path "$WINETEST_ROOT" -prune -o -name '*.exe' -printf '%f\n' |
            grep -Ev '\.(win31|win95|win98|winme|nt351|nt40|win2k|winxp)\.exe$' | sort -u)
    {
      printf 'REGEDIT4\r\n'
      for name in $names; do
        for v in "" win31. win95. win98. winme. nt351. nt40. win2k. winxp.; do
          printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\%s]\r\n"GlobalFlag"=dword:00000070\r\n' \
            "${name%.exe}.${v}exe"
        done
      done
    } >"$reg.tmp" && mv "$reg.tmp" "$reg"
  fi
  "$WINE" regedit /S "$(winetest_winpath "$reg")" </dev/null >/dev/null 2>&1 8>&- 9>&-
}

# A Linux path as Windows sees it through drive Z: (the Linux root in every prefix of ours).
winetest_winpath() { local p=$1; echo "Z:${p//\//\\}"; }

winetest_die() { echo "winetest: $*" >&2; exit 1; }
