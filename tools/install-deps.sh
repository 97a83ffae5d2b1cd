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
# The Windows Installer package: wixl builds it, msibuild and msiinfo (msitools) complete
# and check its tables (tools/make-msi.sh, tools/check-msi.sh).
have wixl                   || need+=(wixl)
have msibuild && have msiinfo || need+=(msitools)
have ip                     || need+=(iproute2)
have unshare                || need+=(util-linux)
have as                     || need+=(binutils)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
# The header-only JSON library ImageTool's records are written with.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
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
# Why wine32 is missing, when it is, goes to build/wine32-missing.txt for
# tools/runs-wine32.sh to tell.
here=$(cd "$(dirname "$0")" && pwd)
missing_note=$here/../build/wine32-missing.txt
has_wine32() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; }

# A mirror mid-sync may serve an i386 index of bookworm-security that fails its signed
# Release, so apt drops it; the image's amd64 libraries then include security versions
# with no i386 twin, and Multi-Arch: same packages cannot be resolved. The second try
# prefers bookworm and pins each such package, on both architectures, to the newest
# version both have (tools/wine32-pins.sh). apt's signature and hash checks stay on.
install_wine32() {
  local log pins
  log=$(mktemp)
  if apt-get install -y -qq wine32:i386 >"$log" 2>&1; then rm -f "$log"; return 0; fi
  echo "The plain install of wine32:i386 failed ($(grep -m1 '^E:' "$log" || echo 'no reason given'));"
  echo "trying bookworm with Multi-Arch: same packages pinned to versions both architectures have."
  if pins=$("$here/wine32-pins.sh" 2>>"$log"); then
    [ -n "$pins" ] && sed 's/^/Pinned: /' <<<"$pins"
    # shellcheck disable=SC2086  # one word per pin
    if apt-get install -y -qq -t bookworm --allow-downgrades wine32:i386 $pins >>"$log" 2>&1; then
      rm -f "$log"; return 0
    fi
  fi
  mkdir -p "$(dirname "$missing_note")"
  { echo "neither the plain install nor the pinned bookworm install could get wine32:i386 from the mirror:"
    grep -E '^(E|W):|wine32-pins' "$log" | sort -u | head -n 8; } >"$missing_note"
  rm -f "$log"
  return 1
}

if "$here/can-run-32bit.sh"; then
  if ! has_wine32; then
    echo "Installing: wine32:i386 (this machine runs 32-bit programs)"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt_update
    # The mirror is outside the project: a failed install is told loudly by the tests
    # and the demo (tools/runs-wine32.sh), which go on with the 64-bit build.
    install_wine32 || sed 's/^/!! /' "$missing_note"
  fi
  if has_wine32; then rm -f "$missing_note"; fi
elif has_wine32; then
  echo "!! This machine cannot run 32-bit programs, but wine32:i386 is installed and breaks 'wine'; removing it."
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq wine32:i386 >/dev/null
fi
