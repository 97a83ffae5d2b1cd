#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only when missing.
set -euo pipefail
need=()
have() { command -v "$1" >/dev/null 2>&1; }
have i686-w64-mingw32-g++   || need+=(g++-mingw-w64-i686)
have x86_64-w64-mingw32-g++ || need+=(g++-mingw-w64-x86-64)
have cmake                  || need+=(cmake)
have ninja                  || need+=(ninja-build)
have wine                   || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
# Wine's own fonts (Marlett for the caption buttons, MS Sans Serif, Tahoma) for the
# sandbox's prefixes (tools/sandbox.sh copies them in).
[ -f /usr/share/wine/fonts/marlett.ttf ] || need+=(fonts-wine)
have Xvfb                   || need+=(xvfb)
have xauth                  || need+=(xauth)
have import                 || need+=(imagemagick)
have zip                    || need+=(zip)
have unzip                  || need+=(unzip)
have clang                  || need+=(clang)
have lld-link               || need+=(lld)
have llvm-dlltool && have llvm-readobj || need+=(llvm)
have ip                     || need+=(iproute2)
have unshare                || need+=(util-linux)
have as                     || need+=(binutils)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have clang++                || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
# A mirror caught mid-sync fails one index now and then ("File has unexpected size");
# try again, and go on with what was fetched: the install itself says what is missing.
apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3)"
    sleep $((try * 10))
  done
  return 0
}
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The shipped build is 32-bit: where this machine can run 32-bit programs, Wine gets
# its 32-bit half so that the i686 build is tested too. Where it cannot, wine32 must
# not be there: Wine's launcher would pick its 32-bit loader and fail for every program.
here=$(cd "$(dirname "$0")" && pwd)
has_wine32() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; }
if "$here/can-run-32bit.sh"; then
  if ! has_wine32; then
    echo "Installing: wine32:i386 (this machine runs 32-bit programs)"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt_update
    # A failed install (an index missing for i386 leaves its libraries unresolvable) is
    # not the product's fault: the tests then skip the 32-bit runs loudly.
    apt-get install -y -qq wine32:i386 >/dev/null ||
      echo "!! wine32:i386 could not be installed; the 32-bit build will not run here"
  fi
elif has_wine32; then
  echo "!! This machine cannot run 32-bit programs, but wine32:i386 is installed and breaks 'wine'; removing it."
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq wine32:i386 >/dev/null
fi
