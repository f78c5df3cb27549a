#!/usr/bin/env bash
# Runs the README's shell blocks that are marked as working without Wine
# (the line "<!-- README test: runs without Wine -->" before the block), as a
# user would on a fresh clone: in a copy of the tree without its build
# folder, with HOME in a fresh directory and standard input empty. Each
# command must succeed; where its comment says "prints" followed by
# numbers, it must print exactly those, one a line.
# Usage: run_blocks.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
marker='<!-- README test: runs without Wine -->'

rm -rf "$work"
mkdir -p "$work/clone" "$work/home"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/clone" -xf -

# The marked blocks' command lines, one a line.
commands=$(awk -v marker="$marker" '
  $0 == marker { armed = 1; next }
  armed && /^```sh$/ { inside = 1; armed = 0; next }
  inside && /^```$/ { inside = 0; next }
  inside { print }
  { armed = armed && $0 == "" }' "$source_dir/README.md")
if [[ -z $commands ]]; then
  echo "the README marks no block as working without Wine" >&2
  exit 1
fi

status=0
while IFS= read -r line; do
  [[ -z $line ]] && continue
  expected=""
  if [[ $line == *"# "*prints* ]]; then
    expected=$(sed -E 's/.*prints //' <<<"${line##*# }" | grep -oE -- '-?[0-9][0-9.e+-]*' || true)
  fi
  echo "\$ $line"
  if ! output=$(cd "$work/clone" && HOME="$work/home" bash -c "$line" </dev/null 2>"$work/stderr"); then
    echo "failed:"; cat "$work/stderr"; status=1; continue
  fi
  printf '%s\n' "$output"
  if [[ -n $expected && $output != "$expected" ]]; then
    printf 'expected:\n%s\n' "$expected"
    status=1
  fi
done <<<"$commands"
exit $status
