#!/usr/bin/env bash
# Creates the 32-bit Wine prefix that the host tests run in, once per build
# tree, quietly and without asking to install Mono or Gecko.
# Usage: prepare_wine_prefix.sh PREFIX
set -euo pipefail
source "$(dirname "$0")/wine_environment.sh" "$1"
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1 || { cat "$WINEPREFIX.log" >&2; exit 1; }
fi
wineserver --wait
