#!/usr/bin/env bash
# Packs a Windows build folder's programs, the files they read beside them, and README.txt
# into BUILD/pfadlotse-windows-x86_64.zip.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stage=$build/zip-stage/pfadlotse
rm -rf "$build/zip-stage"
mkdir -p "$stage"
cp "$build/app/pfadlotse.exe" "$stage/"
# The fault report's line table, when the build makes one, sits beside the program.
for extra in "$build"/app/pfadlotse*.lines; do
  [[ -e $extra ]] && cp "$extra" "$stage/"
done
for tool in solve render scene view bench; do cp "$build/tools/pfadlotse-$tool.exe" "$stage/"; done
# Without their debugging sections: the fault report reads its lines from pfadlotse.lines, which
# names the build it belongs to by an id that stripping keeps.
x86_64-w64-mingw32-strip --strip-debug "$stage"/*.exe
# Windows' own editors expect CRLF line ends.
sed 's/$/\r/' "$here/README.txt" > "$stage/README.txt"
zip=$build/pfadlotse-windows-x86_64.zip
rm -f "$zip"
(cd "$build/zip-stage" && cmake -E tar cf "$zip" --format=zip pfadlotse)
rm -rf "$build/zip-stage"
echo "$zip: $(stat -c %s "$zip") bytes"
