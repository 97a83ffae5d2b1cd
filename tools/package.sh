#!/usr/bin/env bash
# Builds the 32-bit and 64-bit release and packs each into
#   OUTDIR/flashwell-<version>-win32.zip and OUTDIR/flashwell-<version>-win64.zip
# with Flashwell.exe, ImageTool.exe, Communicator.dll, Hivekey.dll, Wirrow.dll, the headers for
# host programs, the import libraries for MinGW (libCommunicator.dll.a) and MSVC
# (Communicator.lib), the guide with its pictures and the host-program examples; then the
# Windows Installer package of the 32-bit release, OUTDIR/flashwell-<version>-win32.msi
# (tools/make-msi.sh), whose optional Development feature holds the import libraries of both widths.
#   bash tools/package.sh [OUTDIR]      (OUTDIR defaults to dist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install-deps.sh
version=$(tools/version.sh)
mkdir -p "${1:-dist}"
out=$(cd "${1:-dist}" && pwd)

# make_msvc_import_lib DEF DLL OUT ARCH
# Writes the import library Visual C++ links against, in Microsoft's short import format.
# binutils' dlltool writes small object files without the safe-exception-handler mark
# instead, which 32-bit Visual C++ projects (linked with /SAFESEH by default) refuse
# with LNK2026. The .def lists plain names and the exports are cdecl: on i686 the
# symbols get the C underscore (_CommOpen) and import the plain name (CommOpen).
# tools/check-import-libs.sh proves both in every test run.
make_msvc_import_lib() {
  local def=$1 dll=$2 lib=$3 machine
  case $4 in
    i686) machine=i386 ;;
    x86_64) machine=i386:x86-64 ;;
    *) echo "make_msvc_import_lib: unknown architecture $4" >&2; return 1 ;;
  esac
  llvm-dlltool -m "$machine" -d "$def" -D "$dll" -l "$lib"
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for arch in i686 x86_64; do
  case $arch in i686) name=win32 ;; x86_64) name=win64 ;; esac
  build=build/$arch
  cmake -S . -B "$build" -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch-w64-mingw32.cmake >/dev/null
  cmake --build "$build" -j2 --target Flashwell ImageTool Communicator Wirrow | tail -n 1

  package=flashwell-$version-$name
  dir=$stage/$package
  mkdir -p "$dir/include" "$dir/lib" "$dir/examples"
  cp "$build/bin/Flashwell.exe" "$build/bin/ImageTool.exe" "$build/bin/Communicator.dll" "$build/bin/Hivekey.dll" \
     "$build/bin/Wirrow.dll" "$dir/"
  $arch-w64-mingw32-strip --strip-unneeded "$dir"/*.exe "$dir"/*.dll
  cp include/CommApi.h include/CommRecords.h include/BoardInterfaceGuid.h "$dir/include/"
  cp "$build/lib/libCommunicator.dll.a" "$dir/lib/"
  make_msvc_import_lib communicator/Communicator.def Communicator.dll "$dir/lib/Communicator.lib" $arch
  cp docs/GUIDE.md "$dir/GUIDE.md"
  cp docs/examples/*.c "$dir/examples/"
  # The guide's pictures, beside it as its links expect (tools/check-package.sh checks them all).
  tools/guide-files.sh docs/GUIDE.md | { grep -v / || true; } | while read -r picture; do cp "docs/$picture" "$dir/"; done
  rm -f "$out/$package.zip"
  (cd "$stage" && zip -q -r -X "$out/$package.zip" "$package")
  echo "$out/$package.zip"
done
tools/make-msi.sh x86 "$version" "$stage/flashwell-$version-win32" "$stage/flashwell-$version-win64" \
  "$out/flashwell-$version-win32.msi"
echo "$out/flashwell-$version-win32.msi"
