#!/usr/bin/env bash
# Runs the stand-in host on one script under Wine and Xvfb and compares its
# output with the script's "# expect:" lines.
# Usage: run_host_script.sh HOST_DIR PREFIX SCRIPT
set -euo pipefail
host_dir=$1 script=$3
source "$(dirname "$0")/wine_environment.sh" "$2"

read -r -a options <<<"$(sed -n 's/^# options://p' "$script")"
expected=$(sed -n 's/^# expect: \{0,1\}//p' "$script")
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
status=0
actual=$(cd "$host_dir" && xvfb-run -a wine vorncalc-host.exe "${options[@]}" <"$script" 2>"$errors") || status=$?
if [[ $actual != "$expected" ]]; then
  diff -u --label expected --label actual <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  echo "host exit status: $status" >&2
  cat "$errors" >&2
  exit 1
fi
