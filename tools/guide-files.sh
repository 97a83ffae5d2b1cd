#!/usr/bin/env bash
# Prints the files that a guide refers to by a path relative to it, one a line: the
# targets of its Markdown links and images (its pictures; web addresses and anchors
# left out) and the files of the package it names in backticks (examples/NAME.c,
# include/NAME.h, lib/NAME).
#   tools/guide-files.sh GUIDE.md
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 GUIDE.md" >&2; exit 2; }
{
  grep -o '](\([^)]*\))' "$1" | sed 's/^](//; s/)$//' | grep -v -e ':' -e '^#' || true
  grep -o '`\(examples\|include\|lib\)/[A-Za-z0-9_.]*`' "$1" | tr -d '`' || true
} | sort -u
