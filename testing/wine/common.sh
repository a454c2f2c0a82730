# Shared by the harness scripts: the Wine environment of one build tree.
#   winetest_env ROOT   sets WINEPREFIX and friends for ROOT/prefix

winetest_env() {
  WINETEST_ROOT=$1
  export WINEARCH=win32
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
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 8>&- 9>&-
}

winetest_die() { echo "winetest: $*" >&2; exit 1; }
