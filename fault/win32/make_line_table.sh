#!/bin/sh
# Writes the line table of a Windows executable: for each stretch of its machine code, the line
# of our own code that runs there (through inlined library code, the line it was inlined into),
# or "-" where none does. The fault report reads it at fault time (fault/line_table.h); Windows
# itself cannot read MinGW's DWARF line tables.
#
#   make_line_table.sh OBJDUMP ADDR2LINE NM EXECUTABLE SOURCE_ROOT OUTPUT
#
# Output, one item per line:
#   pfadlotse-lines 2 BUILDID                   the executable's build id (-Wl,--build-id)
#   file PATH                                   source files, index 0 holding the frame loop
#   RVA FILE LINE                               rows by ascending RVA (hex); FILE "-" for none
set -eu
objdump=$1 addr2line=$2 nm=$3 exe=$4 root=${5%/} out=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The build id survives stripping, which rewrites every other stamp of the headers.
"$objdump" -p "$exe" | awk '
    $1 == "ImageBase" { base = $2 } $2 == "RSDS" && $3 == "signature" { id = $4 }
    END { print base, (id == "" ? "-" : id) }' > "$work/stamps"
read -r base buildid < "$work/stamps"
if [ "$buildid" = - ]; then
    echo "$exe has no build id: link it with -Wl,--build-id" >&2
    exit 1
fi

# The frame loop's file is "Main Module"; without one the program's own is assumed.
loop=$("$nm" "$exe" | awk '$3 ~ /^(_Z12RunFrameLoop|_ZL12RunFrameLoop|RunFrameLoop$)/ { print $1; exit }')
main=app/frame_loop.cpp
if [ -n "$loop" ]; then
    file=$("$addr2line" -e "$exe" "0x$loop" | sed 's/:[0-9?]*\( (discriminator [0-9]*)\)\{0,1\}$//')
    case "$file" in "$root"/*) main=${file#"$root"/} ;; esac
fi

# Every row of the line program; "-" in the line column ends a sequence.
"$objdump" --dwarf=decodedline --wide "$exe" |
    awk '$3 ~ /^0x[0-9a-fA-F]+$/ { print $3, ($2 == "-" ? "end" : "row") }' > "$work/rows"
awk '$2 == "row" { print $1 }' "$work/rows" | sort -u > "$work/addresses"
"$addr2line" -a -i -e "$exe" < "$work/addresses" > "$work/chains"

awk -v root="$root/" -v main="$main" -v base="$base" -v buildid="$buildid" \
    -v keyed="$work/keyed" '
function hex(text,    i, value) {
    sub(/^0x/, "", text)
    value = 0
    for (i = 1; i <= length(text); i++)
        value = value * 16 + index("0123456789abcdef", tolower(substr(text, i, 1))) - 1
    return value
}
function norm(text) {
    sub(/^0x/, "", text)
    sub(/^0+/, "", text)
    return tolower(text)
}
function pad(text) {
    while (length(text) < 16) text = "0" text
    return text
}
function tohex(value,    text, digit) {
    text = ""
    do {
        digit = value % 16
        text = substr("0123456789abcdef", digit + 1, 1) text
        value = (value - digit) / 16
    } while (value > 0)
    return text
}
function own(path,    relative) {
    gsub(/\/\.\//, "/", path)
    if (substr(path, 1, length(root)) != root) return ""
    relative = substr(path, length(root) + 1)
    if (relative ~ /^(geometry|pathsearch|app)\// || relative == main) return relative
    return ""
}
function fileindex(path) {
    if (!(path in indexes)) { indexes[path] = count; paths[count++] = path }
    return indexes[path]
}
BEGIN {
    printf "pfadlotse-lines 2 %s\n", buildid
    count = 0
    fileindex(main)
    imagebase = hex(base)
}
# First pass: the chains addr2line gave, innermost line first.
FNR == NR {
    if ($0 ~ /^0x/) { address = norm($0); found[address] = "- 0"; done = 0; next }
    if (done) next
    line = $0
    sub(/ \(discriminator [0-9]+\)$/, "", line)
    colon = match(line, /:[0-9]+$/)
    if (!colon) next
    relative = own(substr(line, 1, colon - 1))
    if (relative != "") {
        found[address] = fileindex(relative) " " substr(line, colon + 1)
        done = 1
    }
    next
}
# Second pass: the rows, keyed for sorting; a sequence that starts where another ends wins.
{
    result = $2 == "end" ? "- 0" : found[norm($1)]
    if (result == "") result = "- 0"
    print pad(tohex(hex($1) - imagebase)), ($2 == "end" ? 0 : 1), result > keyed
}
END {
    for (i = 0; i < count; i++) print "file", paths[i]
}' "$work/chains" "$work/rows" > "$work/head"

# By address; of rows at one address the last counts; runs of one result become one row.
sort "$work/keyed" | awk '
    function flush() { if (have && result != previous) { print rva, result; previous = result } }
    { sub(/^0+/, "", $1); if ($1 == "") $1 = "0" }
    have && $1 != rva { flush() }
    { rva = $1; result = $3 " " $4; have = 1 }
    END { flush() }' > "$work/body"
cat "$work/head" "$work/body" > "$out.tmp"
mv "$out.tmp" "$out"
