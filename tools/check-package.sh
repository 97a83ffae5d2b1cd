#!/usr/bin/env bash
# Checks unpacked release packages as a host developer meets them:
#   - every file that the package's GUIDE.md refers to (pictures, examples, headers,
#     import libraries) is in the package, where the guide's relative path says;
#   - every example builds with the MinGW command printed in its head, run in the
#     package folder with the package's compiler for its width, as C89 with
#     -pedantic and warnings as errors.
#   tools/check-package.sh PACKAGE-FOLDER...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 PACKAGE-FOLDER..." >&2; exit 2; }
tools=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $package: $*" >&2; failures=$((failures + 1)); }

for package in "$@"; do
  package=$(cd "$package" && pwd)
  [ -f "$package/GUIDE.md" ] || { fail "no GUIDE.md"; continue; }
  while read -r file; do
    [ -f "$package/$file" ] || fail "the guide refers to $file, which the package lacks"
  done < <("$tools/guide-files.sh" "$package/GUIDE.md")

  case $(llvm-readobj --file-headers "$package/Communicator.dll" | sed -n 's/^ *Machine: \([A-Z0-9_]*\).*/\1/p') in
    IMAGE_FILE_MACHINE_I386) gcc=i686-w64-mingw32-gcc ;;
    IMAGE_FILE_MACHINE_AMD64) gcc=x86_64-w64-mingw32-gcc ;;
    *) fail "Communicator.dll is neither i386 nor x86-64"; continue ;;
  esac
  for example in "$package"/examples/*.c; do
    line=$(sed -n 's/^ \*   MinGW: gcc //p' "$example")
    [ -n "$line" ] || { fail "${example##*/} prints no MinGW build command"; continue; }
    # The printed output goes to the work folder, not into the package.
    read -r -a arguments <<<"${line% -o *}"
    (cd "$package" && "$gcc" -std=c89 -pedantic -Wall -Wextra -Werror "${arguments[@]}" \
        -o "$work/$(basename "$example" .c).exe") || fail "${example##*/} does not build with: gcc $line"
  done
done
[ $failures -eq 0 ] || exit 1
echo "packages complete, examples build: $*"
