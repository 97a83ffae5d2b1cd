#!/usr/bin/env bash
# Builds the 32-bit (shipped) and 64-bit builds warning-free, packs both release
# packages and checks their MSVC import libraries (tools/check-import-libs.sh), then
# runs every test of the 64-bit build under Wine, Xvfb and a loopback-only network
# namespace.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh
for arch in i686 x86_64; do
  cmake -S . -B build/$arch -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake >/dev/null
  cmake --build build/$arch
done
# The release packages' import libraries, linked as Visual C++ projects link them.
rm -rf build/packages
tools/package.sh build/packages >/dev/null
for zip in build/packages/*.zip; do unzip -q -d build/packages "$zip"; done
tools/check-import-libs.sh build/packages/*/lib/*.lib
tools/sandbox.sh ctest --test-dir build/x86_64 --output-on-failure -j2 "$@"
