#!/usr/bin/env bash
# help_matches_man.sh MAN_DIR PROGRAM PAGE [PROGRAM PAGE ...]
# Each PROGRAM's --help must exit 0 and name the same long options (every --word) as the SYNOPSIS,
# COMMANDS and OPTIONS sections of its manual page MAN_DIR/PAGE: an option the program has and the
# page does not describe fails, and so does one the page describes and the program does not have.
set -uo pipefail
man_dir=$1
shift

long_options() {
  grep -o -- '--[a-z][a-z0-9-]*' | sed 's/-*$//' | sort -u
}

# The roff source of the sections that describe the command line, with font changes dropped and
# \- read as the hyphen it prints.
described_options() {
  awk '/^\.SH / { keep = ($2 == "SYNOPSIS" || $2 == "COMMANDS" || $2 == "OPTIONS"); next } keep' "$1" |
    sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' | long_options
}

failures=0
while [ $# -ge 2 ]; do
  program=$1 page=$man_dir/$2
  shift 2
  name=$(basename "$program")
  help=$("$program" --help 2>&1)
  status=$?
  if [ $status -ne 0 ]; then
    echo "FAIL $name: --help exited with status $status: $help"
    failures=$((failures + 1))
    continue
  fi
  if [ ! -f "$page" ]; then
    echo "FAIL $name: no manual page $page"
    failures=$((failures + 1))
    continue
  fi
  in_help=$(long_options <<< "$help")
  in_page=$(described_options "$page")
  if [ -z "$in_help" ]; then
    echo "FAIL $name: --help names no option at all:"
    echo "$help"
    failures=$((failures + 1))
    continue
  fi
  only_help=$(comm -23 <(echo "$in_help") <(echo "$in_page"))
  only_page=$(comm -13 <(echo "$in_help") <(echo "$in_page"))
  if [ -n "$only_help" ] || [ -n "$only_page" ]; then
    echo "FAIL $name: --help and $(basename "$page") disagree"
    [ -n "$only_help" ] && echo "  in --help only: $(echo $only_help)"
    [ -n "$only_page" ] && echo "  in the manual page only: $(echo $only_page)"
    failures=$((failures + 1))
  else
    echo "ok   $name: $(echo $in_help)"
  fi
done
[ $# -eq 0 ] || { echo "usage: help_matches_man.sh MAN_DIR PROGRAM PAGE [PROGRAM PAGE ...]"; exit 2; }
exit $((failures > 0))
