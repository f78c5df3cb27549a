#!/bin/sh
# Renders the manual page as man shows it to a reader, 80 columns wide, and
# fails on any warning of groff or tbl, when the page leaves out a long
# option that the calculator's --help lists, or when a line of its SYNOPSIS
# is not a form of the command (each begins with "vorncalc").
# Usage: check_manual_page.sh PAGE VORNCALC
set -u
page=$1
vorncalc=$2

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  printf 'man -l %s warns:\n%s\n' "$page" "$warnings"
  exit 1
fi

text=$(LC_ALL=C MANWIDTH=80 man -l "$page" 2>/dev/null)
status=0
for option in $("$vorncalc" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  if ! printf '%s\n' "$text" | grep -q -- "$option"; then
    echo "the manual page does not describe $option"
    status=1
  fi
done
printf '%s\n' "$text" | grep -q '^SYNOPSIS' || { echo "man -l rendered no SYNOPSIS"; status=1; }
synopsis=$(printf '%s\n' "$text" | sed -n '/^SYNOPSIS/,/^[A-Z]/{/^[A-Z]/d;/^ *$/d;p}')
if printf '%s\n' "$synopsis" | grep -qv '^ *vorncalc '; then
  printf 'a SYNOPSIS line is no form of the command:\n%s\n' "$synopsis"
  status=1
fi
exit $status
