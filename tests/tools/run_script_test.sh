#!/usr/bin/env bash
# ./run as a user starts it, on a copy of the script and scripts/install-deps
# in a scratch tree, with stand-ins for cmake and the calculator, and with
# apt, dpkg and sudo replaced by commands that record their call and fail
# (as apt does while another process holds its lock):
#  - once built, ./run starts the calculator without asking apt or dpkg;
#  - install-deps finds every package of the native stage present without
#    them, on a machine that has them;
#  - the first build says what it is doing, on standard error.
# Usage: run_script_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
mkdir -p "$work/tree/scripts" "$work/bin"
cp "$source_dir/run" "$work/tree/"
cp "$source_dir/scripts/install-deps" "$work/tree/scripts/"
calls="$work/calls"
: >"$calls"

for tool in apt apt-get dpkg dpkg-query sudo; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\necho "E: Could not get lock /var/lib/dpkg/lock-frontend" >&2\nexit 100\n' \
    "$tool" "$calls" >"$work/bin/$tool"
done
# cmake: configuring writes build.ninja; building makes the calculator, a
# script that prints its arguments.
cat >"$work/bin/cmake" <<STANDIN
#!/bin/sh
echo "cmake \$*" >>"$calls"
if [ "\$1" = --preset ]; then mkdir -p build/release && : >build/release/build.ninja; fi
if [ "\$1" = --build ]; then
  mkdir -p build/release/tools
  printf '#!/bin/sh\necho "vorncalc \$*"\n' >build/release/tools/vorncalc
  chmod +x build/release/tools/vorncalc
  echo "[1/1] Linking CXX executable tools/vorncalc"
fi
STANDIN
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH"

status=0
fail() {
  echo "FAILED: $*"
  echo "calls:"; cat "$calls"
  status=1
}

# First build: progress on standard error, the calculator's answer alone on
# standard output.
out=$("$work/tree/run" 1+1 2>"$work/err") || fail "the first ./run exited with $?"
[[ $out == "vorncalc 1+1" ]] || fail "first ./run printed '$out'"
grep -q "Building the calculator" "$work/err" || fail "the first build said nothing: $(cat "$work/err")"
grep -q "Linking" "$work/err" || fail "the first build showed no progress: $(cat "$work/err")"
grep -q '^cmake --build' "$calls" || fail "the first ./run did not build"
if grep -Eq '^(apt|apt-get|dpkg|dpkg-query|sudo) ' "$calls"; then fail "install-deps asked apt or dpkg"; fi

# Built: no apt, no dpkg, no word on standard error.
: >"$calls"
out=$("$work/tree/run" 2*3 2>"$work/err") || fail "./run exited with $? once built"
[[ $out == "vorncalc 2*3" ]] || fail "./run printed '$out' once built"
[[ ! -s $work/err ]] || fail "./run wrote to standard error once built: $(cat "$work/err")"
if grep -Eq '^(apt|apt-get|dpkg|dpkg-query|sudo) ' "$calls"; then fail "./run asked apt or dpkg once built"; fi

[[ $status -eq 0 ]] && echo "passed"
exit $status
