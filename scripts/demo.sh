#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job under Wine: dialconf configuring the
# simulated ISDN Tamrisk as a user would, driven headless through its dialogs by the UI driver
# (dialconf/dialconf_demo.cpp), each step printed; then cardflash showing the adapters of the
# fixture machine under Windows 98, NT 4.0 and Windows 2000 and upgrading the simulated card from
# its Update page (cardflash/app/cardflash_demo.cpp); then
# an ISDN application on msgcore.dll through a whole outgoing and incoming call against the
# scripted CAPI 2.0 library, every message traced (msgcore/msgcore_demo.cpp); then the whole ISDN
# chain, an application on msgcore.dll through the stand-in capi2032.dll and portbridge.exe to the
# simulated adapter on a COM port (portbridge/chain/chain_demo.cpp); then patchkit
# handing a fixture installation over to remover, which removes it with every box answered
# (patchkit/handover_demo.cpp, in a throw-away prefix of its own: it deletes).
# It runs the 32-bit build where the machine runs 32-bit programs and the 64-bit build under wine64
# where it cannot (TEST_ARCH=i686 or x86_64 forces one), as scripts/test.sh does.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/arch.sh"
suite_choose_arch
if [ "$SUITE_ARCH" = x86_64 ]; then
  echo "demo.sh: the 64-bit build under wine64: $SUITE_ARCH_WHY"
else
  echo "demo.sh: the 32-bit build: $SUITE_ARCH_WHY"
fi
build=$(suite_build_dir "$SUITE_ARCH")
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$SUITE_ARCH"
"$top/testing/wine/session" start "$build/wine" >/dev/null
rc=0
WINETEST="version=win98 ports=1" "$top/testing/wine/winerun" --root="$build/wine" \
  "$build/dialconf/dialconf_demo.exe" || rc=$?
if [ $rc -eq 0 ]; then
  WINETEST="version=win98 ports=1" "$top/testing/wine/winerun" --root="$build/wine" \
    "$build/cardflash/app/cardflash_demo.exe" || rc=$?
fi
if [ $rc -eq 0 ]; then
  WINETEST="version=win98 ports=0 env=WINEDLLOVERRIDES=capi2032=n" "$top/testing/wine/winerun" \
    --root="$build/wine" "$build/msgcore/msgcore_demo.exe" || rc=$?
fi
if [ $rc -eq 0 ]; then
  WINETEST="version=win98 ports=1 env=WINEDLLOVERRIDES=capi2032=n" "$top/testing/wine/winerun" \
    --root="$build/wine" "$build/portbridge/chain/isdn_chain_demo.exe" || rc=$?
fi
if [ $rc -eq 0 ]; then
  WINETEST="version=win2k ports=0 prefix=own" "$top/testing/wine/winerun" --root="$build/wine" \
    "$build/patchkit/handover_demo.exe" || rc=$?
fi
"$top/testing/wine/session" stop "$build/wine" >/dev/null || true
exit $rc
