# Sourced by setup.sh, test.sh and demo.sh: which build's Wine suite this machine runs.
#
#   suite_runs_i386       true when the machine runs 32-bit x86 Linux programs (Wine's 32-bit loader
#                         is one); found out by running one, not from the kernel's version or flags
#   suite_choose_arch     sets SUITE_ARCH (i686 or x86_64) and SUITE_ARCH_WHY: TEST_ARCH when set,
#                         else i686 where 32-bit programs run, else x86_64 (under wine64)
#   suite_build_dir ARCH  the build tree of ARCH: BUILD_DIR (default build/) for i686, BUILD64_DIR
#                         (default build64/) for x86_64

suite_runs_i386() {
  local probe rc
  probe=$(mktemp /tmp/i386probe.XXXXXX) || return 1
  # The smallest static i386 ELF program: one loadable segment whose code is exit(0) through
  # int 0x80 (mov eax, 1; xor ebx, ebx; int 0x80). A kernel without 32-bit emulation refuses to
  # start it ("Exec format error").
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$probe"
  printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$probe"
  printf '\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000' >>"$probe"
  printf '\000\020\000\000\270\001\000\000\000\061\333\315\200' >>"$probe"
  chmod +x "$probe"
  "$probe" </dev/null >/dev/null 2>&1
  rc=$?
  rm -f "$probe"
  [ $rc -eq 0 ]
}

suite_choose_arch() {
  case ${TEST_ARCH:-} in
    i686|x86_64)
      SUITE_ARCH=$TEST_ARCH; SUITE_ARCH_WHY="TEST_ARCH=$TEST_ARCH asks for it" ;;
    "")
      if suite_runs_i386; then
        SUITE_ARCH=i686; SUITE_ARCH_WHY="this machine runs 32-bit x86 programs"
      else
        SUITE_ARCH=x86_64
        SUITE_ARCH_WHY="this machine cannot run 32-bit x86 programs (an i386 test program did not start)"
      fi ;;
    *) echo "TEST_ARCH must be i686 or x86_64, not '$TEST_ARCH'" >&2; return 1 ;;
  esac
}

suite_build_dir() {
  if [ "$1" = x86_64 ]; then echo "${BUILD64_DIR:-$top/build64}"; else echo "${BUILD_DIR:-$top/build}"; fi
}
