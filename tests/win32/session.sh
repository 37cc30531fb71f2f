#!/bin/bash
# One Xvfb and one Wine prefix for the Windows window tests, made once per test run.
#   session.sh start STATE     a private Xvfb, a fresh prefix in a temp folder, its wineserver
#   session.sh stop STATE      ends both (by the Xvfb's process ID and the prefix's wineserver)
#   session.sh run STATE CMD…  runs CMD on that display with that prefix
# STATE is a file that names the temp folder.
set -euo pipefail
command=$1 state=$2
shift 2

use_session() {
    folder=$(cat "$state")
    export DISPLAY=$(cat "$folder/display") WINEPREFIX=$folder/prefix WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and asking for them would stall.
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

case $command in
start)
    for tool in Xvfb xdotool wine wineserver wineboot; do
        command -v "$tool" >/dev/null || { echo "$tool is missing: install xvfb, xdotool and wine64 (scripts/test does)"; exit 1; }
    done
    folder=$(mktemp -d /tmp/pfadlotse-wine-XXXXXX)
    echo "$folder" >"$state"
    # Xvfb picks a free display and writes its number; its output must not hold CTest's pipes.
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$folder/display" \
        </dev/null >"$folder/xvfb.log" 2>&1 &
    echo $! >"$folder/xvfb.pid"
    for _ in $(seq 100); do [ -s "$folder/display" ] && break; sleep 0.1; done
    [ -s "$folder/display" ] || { echo "Xvfb did not start"; cat "$folder/xvfb.log"; exit 1; }
    sed -i 's/^/:/' "$folder/display"
    use_session
    mkdir "$WINEPREFIX"
    # A persistent server, so that each test's program starts without waiting for a new one.
    wineserver -p </dev/null >"$folder/wineserver.log" 2>&1
    timeout 120 wineboot -i </dev/null >"$folder/wineboot.log" 2>&1 ||
        { echo "wineboot failed"; cat "$folder/wineboot.log"; exit 1; }
    ;;
stop)
    [ -s "$state" ] || exit 0
    use_session
    wineserver -k 2>/dev/null || true
    kill "$(cat "$folder/xvfb.pid")" 2>/dev/null || true
    rm -rf "$folder" "$state"
    ;;
run)
    use_session
    exec "$@"
    ;;
esac
