#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests share, once per build folder: a fresh one takes Wine
# half a minute or more, so it is kept while it answers.
set -euo pipefail
# Wine fixes the desktop's display when the prefix's server starts: this script runs without
# one, so its server must be gone before a test starts a window or a box on its display.
EndServer() { timeout 60 wineserver --kill >/dev/null 2>&1 || true; timeout 60 wineserver --wait || true; }
if [[ -f "$WINEPREFIX/system.reg" ]] && timeout 60 "$WINE" cmd /c exit 0 >/dev/null 2>&1; then
  EndServer
  echo "wine prefix $WINEPREFIX is ready"
  exit 0
fi
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
started=$(date +%s)
# Without a display wineboot cannot show its progress window; it does not need one.
DISPLAY= timeout 240 wineboot --init >/dev/null 2>&1 || true
timeout 120 wineserver --wait || true
EndServer
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "wineboot made no prefix in $WINEPREFIX" >&2
  exit 1
fi
echo "wine prefix $WINEPREFIX made in $(( $(date +%s) - started )) s"
