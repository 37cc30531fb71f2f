#!/usr/bin/env bash
# One private Xvfb for the window tests of a run; they take turns on it.
#   xvfb_display.sh start STATE     starts it on a free display, noted in STATE
#   xvfb_display.sh stop STATE      ends it, by its process ID
#   xvfb_display.sh run STATE CMD…  runs CMD on it; CMD's output is shown once it has ended,
#                                   so that no process Wine leaves behind holds the test's pipe
set -euo pipefail
command=$1 state=$2
shift 2
case $command in
start)
    folder=$(mktemp -d /tmp/pfadlotse-xvfb-XXXXXX)
    # Xvfb picks a free display and writes its number; its output must not hold CTest's pipe.
    setsid "$XVFB" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$folder/display" \
        </dev/null >"$folder/xvfb.log" 2>&1 &
    echo "$folder $!" >"$state"
    for _ in $(seq 100); do [[ -s $folder/display ]] && exit 0; sleep 0.1; done
    echo "Xvfb did not start: $(cat "$folder/xvfb.log")" >&2
    exit 1
    ;;
stop)
    [[ -s $state ]] || exit 0
    read -r folder pid <"$state"
    kill "$pid" 2>/dev/null || true
    rm -rf "$folder" "$state"
    ;;
run)
    read -r folder _ <"$state"
    DISPLAY=:$(cat "$folder/display")
    export DISPLAY
    log=$(mktemp)
    status=0
    "$@" </dev/null >"$log" 2>&1 || status=$?
    cat "$log"
    rm -f "$log"
    exit $status
    ;;
esac
