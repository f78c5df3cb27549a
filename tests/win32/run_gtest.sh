#!/usr/bin/env bash
# Runs a GoogleTest executable, built for 32-bit Windows, under Wine.
# Usage: run_gtest.sh EXE PREFIX [MACHINE_CODE]
#   MACHINE_CODE  the value of VORNCALC_MACHINE_CODE for the parser: 1 eager, 0 off
set -euo pipefail
exe=$1
source "$(dirname "$0")/wine_environment.sh" "$2"
[[ $# -ge 3 ]] && export VORNCALC_MACHINE_CODE=$3
cd "$(dirname "$exe")"
wine "$(basename "$exe")" --gtest_brief=1 </dev/null
