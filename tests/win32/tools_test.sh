#!/usr/bin/env bash
# The .exe tools give the Linux tools' bytes: the solver's JSON (its timing field aside) and
# the rendered frame on every conformance scene, and the generated scene files of every family.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
tools=$WINDOWS_BUILD/tools
failures=0
Fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# The solver's time varies from run to run; everything else must not.
Untimed() { sed -E 's/"(timeMs|optimalTimeMs)":[0-9]+/"\1":_/g' "$1"; }

scenes=("$TEST_DATA"/conformance/*.scene)
cp "${scenes[@]}" .
names=()
for scene in "${scenes[@]}"; do names+=("$(basename "$scene")"); done

"$LINUX_TOOLS/pfadlotse-solve" --optimal --trace "${names[@]}" > linux.json
"$WINE" "$tools/pfadlotse-solve.exe" --optimal --trace "${names[@]}" > windows.json 2> windows.err ||
  Fail "pfadlotse-solve.exe ended with status $? ($(head -c 300 windows.err))"
if ! cmp -s <(Untimed linux.json) <(Untimed windows.json); then
  Fail "pfadlotse-solve.exe differs from pfadlotse-solve:"
  diff <(Untimed linux.json) <(Untimed windows.json) | head -5 >&2 || true
fi
echo "pfadlotse-solve: $(wc -l < linux.json) scenes compared"

for name in "${names[@]}"; do
  # The computing time shown is fixed: it is the one thing two runs may draw differently.
  "$LINUX_TOOLS/pfadlotse-render" --search --time 7 --bmp "linux-$name.bmp" "$name" 2>/dev/null
  "$WINE" "$tools/pfadlotse-render.exe" --search --time 7 --bmp "windows-$name.bmp" "$name" 2>/dev/null ||
    Fail "pfadlotse-render.exe ended with status $? on $name"
  cmp -s "linux-$name.bmp" "windows-$name.bmp" || Fail "pfadlotse-render.exe draws $name differently"
done
echo "pfadlotse-render: ${#names[@]} frames compared"

for family in random-dense random-box grid-maze comb collinear-chain staircase start-up; do
  "$LINUX_TOOLS/pfadlotse-scene" "$family" --walls 300 --seed 7 -o "linux-$family.txt" 2>/dev/null
  "$WINE" "$tools/pfadlotse-scene.exe" "$family" --walls 300 --seed 7 -o "windows-$family.txt" 2>/dev/null ||
    Fail "pfadlotse-scene.exe ended with status $? for $family"
  cmp -s "linux-$family.txt" "windows-$family.txt" || Fail "pfadlotse-scene.exe writes $family differently"
done
echo "pfadlotse-scene: 7 families compared"

# The bench checks the product against its reference bit for bit itself; it must also run.
"$WINE" "$tools/pfadlotse-bench.exe" --only conformance --no-frames --no-gaps > bench.txt 2> bench.err ||
  Fail "pfadlotse-bench.exe ended with status $? ($(head -c 300 bench.err))"
echo "pfadlotse-bench: $(grep -c conformance bench.txt || true) conformance rows"

[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "the Windows tools give the Linux tools' output"
