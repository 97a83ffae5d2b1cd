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
have Xvfb                   || need+=(xvfb)
have xauth                  || need+=(xauth)
have import                 || need+=(imagemagick)
have zip                    || need+=(zip)
have ip                     || need+=(iproute2)
have unshare                || need+=(util-linux)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have clang++                || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
