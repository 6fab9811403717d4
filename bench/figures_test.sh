#!/bin/sh
# Runs a benchmark, its command line given, and fails unless every line it
# prints is name=number with a dot: run under a locale with a decimal comma.
set -eu
out=$("$@" 2>/dev/null)
printf '%s\n' "$out"
[ -n "$out" ] && ! printf '%s\n' "$out" | grep -v -E '^[a-z0-9_]+=-?[0-9]+(\.[0-9]+)?$'
