#!/bin/sh
# Runs a Windows program of the cross build under Wine, in the build tree's own
# prefix, headless and without the Mono and Gecko installers that Wine would
# otherwise offer. ctest and the test discovery use it as the emulator.
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]   run a program
#   wine-run.sh PREFIX --make-prefix            make the prefix anew
set -eu
case "$1" in
/*) WINEPREFIX="$1" ;;
*) WINEPREFIX="$(pwd)/$1" ;;  # Wine takes only an absolute prefix
esac
shift
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY

if [ "${1-}" = "--make-prefix" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i </dev/null
    # wineboot returns before the registry is on disk; the server writes it
    # when it ends.
    wineserver -w
    exit 0
fi

# The first Wine program of a session starts the Wine server and Wine's own
# background programs, and they would keep the program's output open: ctest
# would then wait for them, seconds after every test. So they are started
# here, detached, and kept for a while after the last program ends. The
# server refuses to start when one already serves the prefix.
if wineserver -p30 </dev/null >/dev/null 2>&1; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
