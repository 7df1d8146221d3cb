#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs Windows programs under wine, in the wine prefix of one build directory.
#   cmake/wine-run.sh PREFIX --start         makes the prefix when missing and
#                                            starts a wine server that stays
#   cmake/wine-run.sh PREFIX PROGRAM ARGS... runs a program
#   cmake/wine-run.sh PREFIX --stop          stops that server and whatever
#                                            still runs in the prefix
# Without a server that stays, every program would start its own and wait
# for it, and a server started by a program would keep that program's
# standard output open after it ended. No window is opened (DISPLAY is
# unset), and a program that crashes ends with its status instead of
# starting wine's debugger (which could end it with status 0).
set -euo pipefail
export WINEPREFIX=$1
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset DISPLAY WAYLAND_DISPLAY
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

case "${1:-}" in
--start)
    mkdir -p "$WINEPREFIX"
    # A server left over from an earlier run (or a prefix being made by
    # another start) is used as it is.
    "$server" -p </dev/null >/dev/null 2>&1 9>&- || true
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
    else
        # The session's own processes (services and the like) start with the
        # first program. Started here, they hold no test's output open.
        /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 9>&-
    fi
    ;;
--stop)
    "$server" -k 2>/dev/null || true
    ;;
*)
    exec /usr/lib/wine/wine64 "$@"
    ;;
esac
