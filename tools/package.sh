#!/usr/bin/env bash
# Builds the 32-bit and 64-bit release and packs each into
#   dist/flashwell-<version>-win32.zip and dist/flashwell-<version>-win64.zip
# with Flashwell.exe, Communicator.dll, Wirrow.dll, the headers for host programs,
# the import libraries for MinGW (libCommunicator.dll.a) and MSVC (Communicator.lib),
# the guide and the host-program example.
#   bash tools/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh
version=$(sed -n 's/^project(Flashwell VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
mkdir -p dist

for arch in i686 x86_64; do
  case $arch in i686) name=win32 ;; x86_64) name=win64 ;; esac
  build=build/$arch
  cmake -S . -B "$build" -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake >/dev/null
  cmake --build "$build" -j2 --target Flashwell Communicator Wirrow | tail -n 1

  package=flashwell-$version-$name
  stage=$(mktemp -d)
  dir=$stage/$package
  mkdir -p "$dir/include" "$dir/lib" "$dir/examples"
  cp "$build/bin/Flashwell.exe" "$build/bin/Communicator.dll" "$build/bin/Hivekey.dll" "$build/bin/Wirrow.dll" "$dir/"
  $arch-w64-mingw32-strip --strip-unneeded "$dir"/*.exe "$dir"/*.dll
  cp include/CommApi.h include/CommRecords.h include/BoardInterfaceGuid.h "$dir/include/"
  cp "$build/lib/libCommunicator.dll.a" "$dir/lib/"
  # MSVC's linker takes this import library too. Exports are cdecl with plain names:
  # on i686 dlltool gives the symbols the C underscore (_CommOpen) and imports
  # the undecorated name (CommOpen).
  $arch-w64-mingw32-dlltool -d communicator/Communicator.def -D Communicator.dll -l "$dir/lib/Communicator.lib"
  cp docs/GUIDE.md "$dir/GUIDE.md"
  cp docs/examples/HostExample.c "$dir/examples/"
  rm -f "dist/$package.zip"
  (cd "$stage" && zip -q -r -X "$root/dist/$package.zip" "$package")
  rm -rf "$stage"
  echo "dist/$package.zip"
done
