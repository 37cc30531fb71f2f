#!/bin/bash
# The session the Windows fault tests share, one per run: an Xvfb display, and a copy of the
# Windows tests' prefix with a server of its own that started its desktop on that display.
# Wine fixes a desktop's display when its first program starts: a program without one (a
# console tool of another test) would leave every box after it without a screen, and Wine
# takes seconds to come up on a display new to it.
#   win_fault_session.sh start|stop FOLDER   (FOLDER/display and FOLDER/prefix; needs WINEPREFIX)
set -euo pipefail
command=$1 folder=$2
stop() {
    if [ -d "$folder/prefix" ]; then
        WINEPREFIX=$folder/prefix "${WINESERVER:-wineserver}" -k 2>/dev/null || true
    fi
    if [ -f "$folder/xvfb.pid" ]; then kill "$(cat "$folder/xvfb.pid")" 2>/dev/null || true; fi
    rm -rf "$folder"
}
case $command in
start)
    stop
    mkdir -p "$folder"
    # Xvfb picks a free display and writes its number; its output must not hold CTest's pipes.
    setsid "${XVFB:-Xvfb}" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/number" \
        </dev/null >"$folder/xvfb.log" 2>&1 &
    echo $! >"$folder/xvfb.pid"
    for _ in $(seq 100); do [ -s "$folder/number" ] && break; sleep 0.1; done
    [ -s "$folder/number" ] || { echo "Xvfb did not start"; cat "$folder/xvfb.log"; exit 1; }
    echo ":$(cat "$folder/number")" >"$folder/display"
    cp -a "$WINEPREFIX" "$folder/prefix"
    export WINEPREFIX=$folder/prefix DISPLAY=:$(cat "$folder/number")
    "${WINESERVER:-wineserver}" -p </dev/null >"$folder/wineserver.log" 2>&1
    timeout 120 "${WINE:-wine}" cmd /c exit 0 </dev/null >"$folder/desktop.log" 2>&1 ||
        { echo "wine did not start on the display"; cat "$folder/desktop.log"; exit 1; }
    ;;
stop) stop ;;
esac
