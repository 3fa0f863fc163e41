#!/bin/sh
# Runs a test's command in the Wine prefix of the slot ctest gave the case:
#   wine_slot.sh PREFIX command [arguments...]
# Slot 0 is PREFIX itself, slot N is PREFIX followed by N+1 (PREFIX2, ...).
# A case that asks for one "wineprefix" slot finds its id in
# CTEST_RESOURCE_GROUP_0_WINEPREFIX ("id:1,slots:1"). Without it (a run one
# case at a time, a test started by hand, gtest's case discovery) the first
# prefix serves. GPC_TEST_SLOT tells the test which slot it runs in, so that
# names it makes in folders every slot shares (the build tree) stay apart.
set -e
prefix=$1
shift
slot=0
case "${CTEST_RESOURCE_GROUP_0_WINEPREFIX:-}" in
    id:*)
        slot=${CTEST_RESOURCE_GROUP_0_WINEPREFIX#id:}
        slot=${slot%%,*}
        ;;
esac
case "$slot" in
    ''|*[!0-9]*) echo "wine_slot.sh: unusable slot '$slot'" >&2; exit 2 ;;
esac
[ "$slot" -gt 0 ] && prefix=$prefix$((slot + 1))
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all GPC_TEST_SLOT="$slot"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "$@"
