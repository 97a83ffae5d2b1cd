#!/usr/bin/env bash
# Runs one test program under Wine for ctest (the builds' cross-compiling emulator).
# The program's output goes to a file and is printed once the program has ended: a
# Wine background process that a test starts by the way (the desktop process comes
# back whenever a window is made after it went idle) inherits the test's output, and
# holding ctest's pipe it would keep ctest waiting until the test's time-out.
set -u
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
exit $rc
