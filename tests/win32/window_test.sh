#!/bin/bash
# pfadlotse.exe under Wine as a user meets it, driven with xdotool, its frames compared with
# the Linux pfadlotse-render's; run through xvfb_display.sh.
#   window_test.sh CASE PFADLOTSE_EXE
# Every case sees the window open (800 x 600, titled "Fenster"), does its part and ends the
# program with Escape (status 0).
# The program reads the mouse as relative motion: the harness moves it only relatively and
# keeps track of where the program's cursor is.
set -uo pipefail
case_name=$1 program=$2
render=$LINUX_TOOLS/pfadlotse-render scene=$TEST_DATA/conformance/cross_walls.scene
work=$(mktemp -d)
cd "$work" || exit 1
pid=0
mouse_x=0 mouse_y=0

fail() {
    echo "FAILED ($case_name): $*"
    [ -f program.log ] && { echo "program output:"; cat program.log; }
    exit 1
}
cleanup() {
    [ "$pid" -gt 0 ] && kill "$pid" 2>/dev/null
    cd / && rm -rf "$work"
}
trap cleanup EXIT

xdo() { timeout 10 "$XDOTOOL" "$@" || fail "xdotool $1 failed"; }
# Every key and button is held long enough for several frames to see it.
hold() { sleep 0.15; }
tap() { xdo keydown "$1"; hold; xdo keyup "$1"; hold; }
move_by() { xdo mousemove_relative -- "$1" "$2"; hold; }
move_to() { move_by $(($1 - mouse_x)) $(($2 - mouse_y)); mouse_x=$1 mouse_y=$2; }
# A drag with the button (1 left, 3 right) from the mouse's place to (x, y).
drag() { xdo mousedown "$1"; hold; move_to "$2" "$3"; xdo mouseup "$1"; hold; }

start_program() {
    (exec "$WINE" "$program") </dev/null >program.log 2>&1 &
    pid=$!
    local window=""
    for _ in $(seq 200); do
        window=$("$XDOTOOL" search --onlyvisible --name '^Fenster$' 2>/dev/null | head -1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "no window \"Fenster\" appeared"
    local geometry
    geometry=$("$XDOTOOL" getwindowgeometry "$window")
    [[ $geometry == *"Geometry: 800x600"* ]] || fail "the client area is not 800 x 600: $geometry"
    # There is no window manager: give the window the keyboard as a click would.
    for _ in $(seq 50); do
        "$XDOTOOL" windowfocus "$window" 2>/dev/null
        [ "$("$XDOTOOL" getwindowfocus 2>/dev/null)" = "$window" ] && break
        sleep 0.1
    done
    [ "$("$XDOTOOL" getwindowfocus)" = "$window" ] || fail "the window did not take the focus"
    # Far up and left: the program's mouse stops at (0, 0), where a fresh program has it.
    sleep 0.3
    move_by -2000 -2000
}

# Taps the key, then waits for the file it saves to be replaced (saves write a new file).
await_save() {
    local key=$1 file=$2 before
    before=$(stat -c %i "$file" 2>/dev/null || echo none)
    tap "$key"
    for _ in $(seq 200); do
        [ "$(stat -c %i "$file" 2>/dev/null || echo none)" != "$before" ] && return
        sleep 0.05
    done
    fail "$key wrote no new $file"
}

# F12, then the frame it saved copied to $1.
screenshot() {
    await_save F12 Screen.bmp
    [ "$(stat -c %s Screen.bmp)" = 1440054 ] || fail "Screen.bmp is not an 800 x 600 bitmap"
    cp Screen.bmp "$1"
}

# F5, then the scene file's size in bytes.
save_scene() {
    await_save F5 PathFindLog.txt
    stat -c %s PathFindLog.txt
}

# Bytes outside the computation-time line (which a tick boundary may change) in which two
# frames differ.
differences_beside_time() {
    cmp -l "$1" "$2" | awk '{ o = $1 - 55; y = 599 - int(o / 2400); x = int((o % 2400) / 3)
                              if (!(y >= 55 && y < 72 && x < 300)) n++ } END { print n + 0 }'
}

# The window's frame must equal the renderer's frame of the same scene (argument: scene file
# or nothing), with the mouse at (0, 0) as there. Until it does, for a while, the path may still
# be being computed; a job timed across a tick boundary shows 1 ms, and a right click beside
# the points computes the same scene again.
expect_rendered_frame() {
    move_to 0 0
    move_by -2000 -2000
    "$render" --bmp expected.bmp "$@" >render.log 2>&1 || fail "pfadlotse-render failed: $(cat render.log)"
    local differences=none
    for _ in $(seq 20); do
        screenshot frame.bmp
        cmp -s frame.bmp expected.bmp && return
        differences=$(differences_beside_time frame.bmp expected.bmp)
        if [ "$differences" = 0 ]; then
            # A loaded machine may time every job at a few milliseconds: the same frame with
            # the time it shows must then be the renderer's frame with that time.
            for shown in $(seq 1 40); do
                "$render" --time "$shown" --bmp timed.bmp "$@" >render.log 2>&1 || break
                cmp -s frame.bmp timed.bmp && return
            done
            xdo mousedown 3
            hold
            xdo mouseup 3
        fi
        sleep 0.5
    done
    fail "the frame differs from pfadlotse-render's ($differences bytes beside the time line)"
}

quit_with_escape() {
    xdo keydown Escape
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    xdo keyup Escape
    kill -0 "$pid" 2>/dev/null && fail "Escape did not end the program"
    wait "$pid"
    local status=$?
    pid=0
    [ "$status" = 0 ] || fail "the program ended with status $status"
}

start_program
case $case_name in
first-frame)
    expect_rendered_frame
    ;;
wall-drag)
    [ "$(save_scene)" = $((16 + 4 * 32)) ] || fail "F5 did not save the four border walls"
    screenshot before.bmp
    move_to 400 300
    drag 1 400 380
    [ "$(save_scene)" = $((16 + 5 * 32)) ] || fail "the dragged wall is not in the saved scene"
    # Its origin and offset, where the mouse went.
    [ "$(od -A n -t f4 -j 144 -N 16 PathFindLog.txt | xargs)" = "400 300 0 80" ] ||
        fail "the wall is elsewhere: $(od -A n -t f4 -j 144 -N 16 PathFindLog.txt)"
    screenshot after.bmp
    cmp -s before.bmp after.bmp && fail "the frame did not change"
    [ "$(differences_beside_time before.bmp after.bmp)" -gt 100 ] || fail "the path did not change"
    ;;
save-load)
    cp "$scene" PathFindLog.txt
    tap F6
    expect_rendered_frame PathFindLog.txt
    move_to 600 120
    drag 1 600 260
    tap F6
    expect_rendered_frame PathFindLog.txt
    save_scene >/dev/null
    cmp -s PathFindLog.txt "$scene" || fail "F5 after F6 did not save the loaded scene unchanged"
    ;;
*) fail "no such case" ;;
esac
quit_with_escape
echo "passed: $case_name"
