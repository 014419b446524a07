#!/bin/sh
# expect_failure.sh PATTERN OUTPUT COMMAND...
# Runs COMMAND in a scratch directory and passes when it exits non-zero,
# prints exactly one line to standard error matching PATTERN (extended
# regular expression), and leaves no OUTPUT file and no temporary file.
pattern=$1
output=$2
shift 2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
"$@" 2>stderr.txt >/dev/null
status=$?
if [ "$status" -eq 0 ]; then echo "exit status 0"; exit 1; fi
if [ "$(wc -l < stderr.txt)" -ne 1 ]; then echo "not one line:"; cat stderr.txt; exit 1; fi
if ! grep -Eq "$pattern" stderr.txt; then echo "unexpected message:"; cat stderr.txt; exit 1; fi
if [ -e "$output" ] || ls "$output".tmp-* >/dev/null 2>&1; then echo "$output was written"; exit 1; fi
exit 0
