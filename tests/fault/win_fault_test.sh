#!/bin/bash
# One fault of the Windows fault driver under Wine, in the fault tests' session (display and
# prefix, see win_fault_session.sh; the tools come from tests/win32's environment):
#   win_fault_test.sh SESSION_FOLDER DRIVER MODE THREAD
# The box "Fehler" comes up; stderr holds the three lines once, with the kind, the driver's
# line and the faulting instruction's address; with a worker's box up the frame loop goes on;
# Return closes the box and the process ends with the exception code, of which Wine hands
# Linux the low byte.
set -u
session=$1 driver=$2 mode=$3 thread=$4
wine=${WINE:-wine} xdotool=${XDOTOOL:-xdotool}
access="An attempted read or write to/from an address to which that process isn't allowed"
case $mode in
access | inline | library | window | both | handler-fault | end-during-report) code=0xC0000005 kind=$access ;;
divide) code=0xC0000094 kind="Attempted division by zero" ;;
breakpoint) code=0x80000003 kind="BREAKPOINT A breakpoint was encountered." ;;
illegal) code=0xC000001D kind="Try to execute an invalid instruction -such as MMX opcodes on a non MMX system" ;;
privileged) code=0xC0000096 kind="The instruction is not allowed in the current ring (inport, outport & control register manipulation usually)" ;;
stack) code=0xC00000FD kind="Stack overflow.Can occur during errant recursion, or when a function creates a particularly large array on the stack." ;;
float-divide) code=0xC000008E kind="FLOAT_DIVIDE_BY_ZERO The thread tried to divide a floating-point value by zero." ;;
raise-overflow) code=0xC0000091 kind="FLOAT_OVERFLOW The result was too big to represent" ;;
raise-unknown) code=0xE0001234 kind="UNKNOWN Error" ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac

work=$(mktemp -d)
pid=
failures=0
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' TERM INT
fail() {
    echo "FAIL ($mode on $thread): $*"
    failures=$((failures + 1))
}
said() { sed -n "s/^$1 //p" "$work/out" | head -1 | tr -d '\r'; }
ended() { ! kill -0 "$pid" 2>/dev/null; }

DISPLAY=$(cat "$session/display") || exit 1
export DISPLAY WINEPREFIX=$session/prefix

# A box slow to come up on a busy machine is no failure here.
PFAD_FAULT_SHOW_LIMIT_MS=60000 "$wine" "$driver" "$mode" "$thread" </dev/null >"$work/out" \
    2>"$work/err" &
pid=$!

# The box, found by the process that shows it.
box=
if [ "$mode" != handler-fault ]; then
    for _ in $(seq 600); do
        box=$("$xdotool" search --onlyvisible --pid "$pid" --name '^Fehler$' 2>/dev/null | head -1)
        [ -n "$box" ] && break
        ended && break
        sleep 0.1
    done
    [ -n "$box" ] || [ "$mode" = end-during-report ] || fail "no box"
fi
if [ -n "$box" ] && [ "$thread" = worker ]; then
    # The frame loop goes on while a worker's box is up, and knows the report is active.
    for _ in $(seq 100); do grep -q '^RUNNING' "$work/out" && break; sleep 0.1; done
    grep -q '^RUNNING' "$work/out" || fail "the frame loop stopped while the box was up"
fi
if [ -n "$box" ] && [ "$mode" != end-during-report ]; then
    "$xdotool" key --window "$box" Return 2>/dev/null
fi
for _ in $(seq 300); do ended && break; sleep 0.1; done
if ended; then
    wait "$pid"
    status=$?
    pid=
else
    fail "still running after the box"
    status=none
fi

want=$((code & 0xFF))
[ "$status" = "$want" ] || fail "status $status, wanted $want (the low byte of $code)"

err=$(tr -d '\r' <"$work/err")
[ "$(grep -c '^Typ: ' <<<"$err")" = 1 ] || fail "not exactly one report on stderr"
[ "$(grep '^Typ: ' <<<"$err")" = "Typ: $kind" ] || fail "kind line: $(grep '^Typ: ' <<<"$err")"
line=$(said LINE)
# A fault inside the report's own code ends at once, with what is known without the lines.
[ "$mode" = handler-fault ] && line=0
[ "$(grep '^File: ' <<<"$err")" = "File: Main Module   Line: $line" ] ||
    fail "position line: $(grep '^File: ' <<<"$err"), wanted line $line"
address=$(sed -n 's/^Memory: //p' <<<"$err")
read -r base end <<<"$(said MODULE)"
if ! [[ $address =~ ^-?[0-9]+$ ]]; then
    fail "address line: Memory: $address"
elif [ -n "$(said ADDRESS)" ]; then
    [ "$address" = "$(said ADDRESS)" ] || fail "address $address, the instruction is at $(said ADDRESS)"
elif [[ $mode == raise-* || $mode == library ]]; then
    # In the system's RaiseException or the C library, outside the driver.
    ((address < base || address >= end)) || fail "address $address inside the driver"
else
    ((address >= base && address < end)) || fail "address $address outside the driver ($base-$end)"
fi

if ((failures > 0)); then
    echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
    exit 1
fi
echo "ok: $mode on $thread, status $status"
