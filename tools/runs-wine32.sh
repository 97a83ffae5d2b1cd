#!/usr/bin/env bash
# Exits 0 when the 32-bit build can run here under Wine: the machine runs 32-bit
# programs (tools/can-run-32bit.sh) and Wine's 32-bit half (wine32:i386) is installed.
# Prints why not, on stdout, when it exits 1.
#   tools/runs-wine32.sh >/dev/null && echo yes
set -u
here=$(cd "$(dirname "$0")" && pwd)
if ! "$here/can-run-32bit.sh"; then
  echo "this machine cannot run 32-bit programs (its kernel runs without 32-bit emulation)"
  exit 1
fi
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
  note=$here/../build/wine32-missing.txt
  if [ -s "$note" ]; then
    echo "Wine's 32-bit half (wine32:i386) is not installed: $(tr '\n' ' ' <"$note")"
  else
    echo "Wine's 32-bit half (wine32:i386) is not installed: tools/install-deps.sh could not install it"
  fi
  exit 1
fi
exit 0
